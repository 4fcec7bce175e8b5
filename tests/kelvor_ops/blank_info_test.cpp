// The blank check (/b) and the image information display (/i): a blank
// part, a part with one byte written at its last address or near its start,
// and descriptors laid into the flash by the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/kelvor_ops/ops_run.h"
#include "tests/kelvor_spi/board_session.h"

namespace opstest {
namespace {

using nlohmann::json;
using testsupport::ProcessResult;

using BlankCheck = OpsRun;
using ImageInformation = OpsRun;

TEST_F(BlankCheck, BlankPart) {
    UseBoard("blank");
    const ProcessResult r = Run({"/b"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(AfterBringUp(r.out),
              ReadLines("Reading", 0, kFourMb) + "\nRESULT: The flash is blank.\n");
}

// The verdict reaches the screen under /q; the whole flash is checked from
// address 0 whatever range options are given.
TEST_F(BlankCheck, DataFound) {
    UseBoard("blank");
    std::vector<uint8_t> flash = Fresh();
    flash[kFourMb - 1] = 0x00;
    SetFlash(flash);
    ProcessResult r = Run({"/b", "/q"});
    EXPECT_EQ(ShellExit(r.exitCode), ShellExit(605));
    EXPECT_EQ(r.out,
              "\n\nRESULT: The flash is NOT blank! Data found at address 0x003FFFFF. = 0x00\n");

    flash[0x10] = 0xA5;
    SetFlash(flash);
    r = Run({"/b", "/address:0x200000", "/length:0x100"});
    EXPECT_EQ(ShellExit(r.exitCode), ShellExit(605));
    EXPECT_EQ(AfterBringUp(r.out),
              "\n\nRESULT: The flash is NOT blank! Data found at address 0x00000010. = 0xA5\n");
}

void PutWord(std::vector<uint8_t>* flash, uint32_t at, uint32_t word) {
    for (int i = 0; i < 4; ++i) {
        (*flash)[at + i] = static_cast<uint8_t>(word >> (8 * i));
    }
}

// The first 4 KB of an erased flash holding a descriptor with its sections
// at the given offsets.
std::vector<uint8_t> WithDescriptor(uint32_t components, uint32_t componentWord,
                                    const uint32_t (&regions)[4], const uint32_t (&masters)[3],
                                    uint32_t componentBase = 0x30, uint32_t regionBase = 0x40,
                                    uint32_t masterBase = 0x60) {
    std::vector<uint8_t> flash(kFourMb, 0xFF);
    PutWord(&flash, 0, 0x0FF0A55A);
    PutWord(&flash, 4, (componentBase >> 4) | ((components - 1) << 8) | ((regionBase >> 4) << 16));
    PutWord(&flash, 8, masterBase >> 4);
    PutWord(&flash, 12, 0);
    PutWord(&flash, componentBase, componentWord);
    for (uint32_t i = 0; i < 4; ++i) {
        PutWord(&flash, regionBase + 4 * i, regions[i]);
    }
    for (uint32_t i = 0; i < 3; ++i) {
        PutWord(&flash, masterBase + 4 * i, masters[i]);
    }
    return flash;
}

// Descriptors whose masters' words would deny the host its own reads are
// read on a board that lets the host past the descriptor's rights.
TEST_F(ImageInformation, Descriptors) {
    const std::string head = "\n\t--- Flash Image Information --\n\tSignature: VALID\n";
    const struct {
        const char* Name;
        std::vector<uint8_t> Flash;
        std::string Tail;
    } cases[] = {
        {"one 2 MB component",
         WithDescriptor(1, 0x02, {0x00000000, 0x01FF0001, 0x00001FFF, 0x00001FFF}, {0, 0, 0}),
         head + "\tNumber of Flash Components: 1\n\t\tComponent 1 - 2048KB (16384Kb)\n\tRegions:\n"
                "\t\tDescriptor - Base: 0x000000, Limit: 0x000FFF\n"
                "\t\tBIOS       - Base: 0x001000, Limit: 0x1FFFFF\n"
                "\t\tME         - Not present\n\t\tGbE        - Not present\n"
                "\tMaster Region Access:\n"
                "\t\tCPU/BIOS - ID: 0x0000, Read: 0x00, Write: 0x00\n"
                "\t\tME       - ID: 0x0000, Read: 0x00, Write: 0x00\n"
                "\t\tGbE      - ID: 0x0000, Read: 0x00, Write: 0x00\n"},
        {"two components, sections elsewhere",
         WithDescriptor(2, 0x21, {0x00000000, 0x03FF0200, 0x01FF0003, 0x00020001},
                        {0x0A0B0000, 0x0D0D0000, 0x08080118}, 0x100, 0x200, 0x300),
         head + "\tNumber of Flash Components: 2\n\t\tComponent 1 - 1024KB (8192Kb)\n"
                "\t\tComponent 2 - 8192KB (65536Kb)\n\tRegions:\n"
                "\t\tDescriptor - Base: 0x000000, Limit: 0x000FFF\n"
                "\t\tBIOS       - Base: 0x200000, Limit: 0x3FFFFF\n"
                "\t\tME         - Base: 0x003000, Limit: 0x1FFFFF\n"
                "\t\tGbE        - Base: 0x001000, Limit: 0x002FFF\n"
                "\tMaster Region Access:\n"
                "\t\tCPU/BIOS - ID: 0x0000, Read: 0x0B, Write: 0x0A\n"
                "\t\tME       - ID: 0x0000, Read: 0x0D, Write: 0x0D\n"
                "\t\tGbE      - ID: 0x0118, Read: 0x08, Write: 0x08\n"},
        {"four components, reserved density",
         WithDescriptor(4, 0x32, {0, 0, 0, 0}, {0xFFFFFFFF, 0, 0}),
         head + "\tNumber of Flash Components: 4\n\t\tComponent 1 - 2048KB (16384Kb)\n"
                "\t\tComponent 2 - 0KB (0Kb)\n\t\tComponent 3 - 0KB (0Kb)\n"
                "\t\tComponent 4 - 0KB (0Kb)\n\tRegions:\n"
                "\t\tDescriptor - Base: 0x000000, Limit: 0x000FFF\n"
                "\t\tBIOS       - Base: 0x000000, Limit: 0x000FFF\n"
                "\t\tME         - Base: 0x000000, Limit: 0x000FFF\n"
                "\t\tGbE        - Base: 0x000000, Limit: 0x000FFF\n"
                "\tMaster Region Access:\n"
                "\t\tCPU/BIOS - ID: 0xFFFF, Read: 0xFF, Write: 0xFF\n"
                "\t\tME       - ID: 0x0000, Read: 0x00, Write: 0x00\n"
                "\t\tGbE      - ID: 0x0000, Read: 0x00, Write: 0x00\n"},
    };
    json board = spitest::ShippedBoard("default");
    board["controller"]["fdopss"] = false;
    UseChangedBoard(board);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SetFlash(c.Flash);
        const ProcessResult r = Run({"/i"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_EQ(AfterBringUp(r.out), c.Tail);
    }
}

TEST_F(ImageInformation, NoDescriptorOrNoRightToReadIt) {
    UseBoard("blank");
    ProcessResult r = Run({"/i"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(AfterBringUp(r.out),
              "\n\t--- Flash Image Information --\n\tSignature: INVALID! No more information can "
              "be displayed.\n\n");
    r = Run({"/i", "/q"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\n\nWarning: /i run with /q has no affect!\n\n");

    json board = spitest::ShippedBoard("default");
    board["descriptor"]["masters"]["cpu"]["read"] = "0x0A";
    UseChangedBoard(board);
    r = Run({"/i"});
    EXPECT_EQ(ShellExit(r.exitCode), ShellExit(500));
    EXPECT_EQ(AfterBringUp(r.out),
              "\n\t--- Flash Image Information --\n\n>>> Error: The host does not have read "
              "access to the flash descriptor region!\n\n");
}

}  // namespace
}  // namespace opstest
