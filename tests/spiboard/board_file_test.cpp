// Board files: every shipped board opens and comes up as described, the
// built-in default board lives in the current directory, bad board files are
// refused with the reason and where, and what outlives a run persists.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/spiboard/board_driver.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using namespace spitest;
using nlohmann::json;

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

struct ShippedCase {
    const char* file;
    bool fdv;
    bool locked;
    uint32_t jedec;  // first chip's 0x9F answer
    uint32_t bes;    // VSCC erase size code
};

TEST(ShippedBoards, EveryBoardOpensAsDescribed) {
    const ShippedCase cases[] = {
        {"default.json", true, false, 0xEF3016, 1},
        {"locked.json", true, true, 0xEF3016, 1},
        {"locked-menu-90-only.json", true, true, 0xEF3016, 1},
        {"locked-menu-no-readid.json", true, true, 0xEF3016, 1},
        {"two-chips.json", true, false, 0xC22016, 1},
        {"blank.json", false, false, 0xEF3016, 1},
        {"byte-program.json", true, false, 0xBF254A, 1},
        {"sst-protected.json", true, false, 0xBF254A, 1},
        {"bios-write-refused.json", true, false, 0xEF3016, 1},
        {"whole-flash.json", true, false, 0xEF4016, 1},
        {"block-erase-64k.json", true, false, 0x010215, 3},
    };
    size_t shipped = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(testsupport::SourceDir() + "/boards/spi/boards")) {
        shipped += entry.path().extension() == ".json";
    }
    EXPECT_EQ(shipped, sizeof(cases) / sizeof(cases[0])) << "a shipped board lacks a case here";
    for (const ShippedCase& c : cases) {
        SCOPED_TRACE(c.file);
        testsupport::ScratchDir dir(std::string("shipped-") + c.file);
        ScratchBoard b(dir.path(), ShippedBoard(c.file));
        ASSERT_NE(b.board, nullptr) << b.error;
        Driver d(b.board);
        uint16_t hsfsts = d.R16(kHsfsts);
        EXPECT_EQ((hsfsts & kFdv) != 0, c.fdv);
        EXPECT_EQ((hsfsts & kFlockdn) != 0, c.locked);
        EXPECT_EQ((hsfsts >> 3) & 3, c.bes);
        // The part answers 0x9F even when the menu is locked without it: the
        // test reaches it through a slot only on unlocked boards.
        if (!c.locked) {
            std::vector<uint8_t> id = d.ReadId(0x9F, 3);
            EXPECT_EQ((id[0] << 16) | (id[1] << 8) | id[2], c.jedec);
        }
        b.Close();
        std::string imageName = ShippedBoard(c.file)["chips"][0]["image"];
        std::vector<uint8_t> image = testsupport::ReadFileBytes(dir / imageName);
        ASSERT_FALSE(image.empty());
        EXPECT_EQ(Le32(image, 0) == 0x0FF0A55A, c.fdv);
    }
}

TEST(ShippedBoards, BuiltInDefaultUsesTheCurrentDirectory) {
    testsupport::ScratchDir dir("builtin-default");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    std::string error;
    spiboard::Board* board = spiboard::Open(nullptr, &error);
    ASSERT_NE(board, nullptr) << error;
    Driver d(board);
    EXPECT_EQ(d.Pci(kRcba), 0xFED1C001u);
    std::vector<uint8_t> signature = d.HwRead(0, 4);
    EXPECT_EQ(Le32(signature, 0), 0x0FF0A55Au);
    // ME region (0x3000-0x1FFFFF) neither readable nor writable by the host.
    uint32_t fracc = d.R32(kFracc);
    EXPECT_EQ(fracc & 0x0404, 0u);
    EXPECT_EQ(d.R32(kFreg0 + 8), 0x01FF0003u);
    spiboard::Close(board);
    EXPECT_EQ(chdir(previous), 0);
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "ravo-default-flash.bin").size(), 4u << 20);
    EXPECT_TRUE(testsupport::FileExists(dir / "ravo-default-state.json"));
}

struct BadFileCase {
    const char* name;
    std::string text;
    const char* expected;  // part of the error after "board.json"
};

TEST(BoardFileErrors, NameTheReasonAndThePosition) {
    const char* chip = R"("chips": [{"part": "W25X32"}])";
    const BadFileCase cases[] = {
        {"syntax", "{\n  \"chips\": [\n    {\"part\": \"W25X32\",}\n  ]\n}", ":3:23: syntax error"},
        {"unknown key", std::string("{") + chip + R"(, "spi_clok_mhz": 20})",
         ": spi_clok_mhz: unknown key"},
        {"no chips", "{}", ": chips: missing"},
        {"three chips", R"({"chips": [{"part":"W25X32"},{"part":"W25X32"},{"part":"W25X32"}]})",
         ": chips: must be a list of one or two"},
        {"unknown part", R"({"chips": [{"part": "NOPE"}]})",
         ": chips[0].part: unknown part model \"NOPE\" (built in: W25X32"},
        {"bad number", std::string("{") + chip + R"(, "lpc": {"rcba": "0xFED1G001"}})",
         ": lpc.rcba: \"0xFED1G001\" is not a number"},
        {"number range", std::string("{") + chip + R"(, "controller": {"optype": 70000}})",
         ": controller.optype: 0x11170 is outside 0x0 to 0xFFFF"},
        {"short menu", std::string("{") + chip + R"(, "controller": {"opmenu": ["0x03"]}})",
         ": controller.opmenu: must be a list of 8 to 8 byte values"},
        {"part size", R"({"chips": [{"part": {"base": "W25X32", "size": 3000000}}]})",
         ": chips[0].part.size: must be a power of two"},
        {"erase opcode",
         R"({"chips": [{"part": {"base": "W25X32", "erase": [{"opcode": "0x03", "size": 4096}]}}]})",
         ": chips[0].part.erase[0].opcode: 0x3 is a command of its own"},
        {"region overlap",
         std::string("{") + chip +
             R"(, "descriptor": {"regions": {"bios": {"base": 0, "limit": "0x1FFFFF"}, "me": {"base": "0x100000", "limit": "0x100FFF"}}}})",
         ": descriptor.regions: bios and me overlap"},
        {"region beyond",
         std::string("{") + chip +
             R"(, "descriptor": {"regions": {"bios": {"base": 0, "limit": "0x7FFFFF"}}}})",
         ": descriptor.regions.bios: ends beyond the flash (0x400000 bytes)"},
        {"fault kind", std::string("{") + chip + R"(, "faults": {"cycles": [{"kind": "reed"}]}})",
         ": faults.cycles[0].kind: must be one of \"any\", \"read\""},
        {"library fault text",
         std::string("{") + chip + R"(, "faults": {"library": {"pci": {"nth": 2}}}})",
         ": faults.library.pci.error: missing"},
    };
    for (const BadFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScratchDir dir("bad-board");
        std::string path = dir / "board.json";
        testsupport::WriteFileText(path, c.text);
        std::string error;
        EXPECT_EQ(spiboard::Open(path.c_str(), &error), nullptr);
        EXPECT_NE(error.find(path + c.expected), std::string::npos) << error;
    }
}

TEST(BoardFileErrors, MissingFileWrongImageAndDamagedState) {
    testsupport::ScratchDir dir("bad-files");
    std::string error;
    std::string missing = dir / "absent.json";
    EXPECT_EQ(spiboard::Open(missing.c_str(), &error), nullptr);
    EXPECT_EQ(error, missing + ": cannot open the board file");

    json file = {{"chips", {{{"part", "W25X32"}, {"image", "flash.bin"}}}}};
    testsupport::WriteFileBytes(dir / "flash.bin", std::vector<uint8_t>(1000, 0xFF));
    ScratchBoard b(dir.path(), file);
    EXPECT_EQ(b.board, nullptr);
    EXPECT_NE(b.error.find(dir / "flash.bin: the flash image has 1000 bytes but the W25X32"),
              std::string::npos)
        << b.error;

    std::remove((dir / "flash.bin").c_str());
    b.Reopen();  // a new image, and a state file beside it
    ASSERT_NE(b.board, nullptr) << b.error;
    b.Close();
    testsupport::WriteFileText(dir / "board-state.json",
                               "{\"format\": \"spiboard-state 1\",\n \"lpc\": [1,2]}");
    b.Reopen();
    EXPECT_EQ(b.board, nullptr);
    EXPECT_NE(b.error.find(dir / "board-state.json: lpc: must be a list of 64 numbers"),
              std::string::npos)
        << b.error;
    testsupport::WriteFileText(dir / "board-state.json", "{\n  \"format\": ");
    b.Reopen();
    EXPECT_NE(b.error.find(dir / "board-state.json:2:13: syntax error"), std::string::npos)
        << b.error;
}

ino_t Inode(const std::string& path) {
    struct stat info = {};
    stat(path.c_str(), &info);
    return info.st_ino;
}

TEST(Persistence, FlashAndChipsetStateOutliveTheRun) {
    testsupport::ScratchDir dir("persist");
    json file = ShippedBoard("whole-flash.json");
    file["chips"][0]["image"] = "flash.bin";
    file["state_file"] = "state.json";
    ScratchBoard b(dir.path(), file);
    ASSERT_NE(b.board, nullptr) << b.error;
    {
        Driver d(b.board);
        d.SetBiosWriteEnable();
        std::vector<uint8_t> data = {0x12, 0x34, 0x56};
        ASSERT_EQ(d.HwCycle(2, 0x300000, &data) & (kHwFcerr | kHwAel), 0);
        d.SetSlot(0, 0x52, kWriteAddr);  // a menu entry software left behind
        // Block-protect the top 1/64 (non-volatile bits on this part).
        d.SetSlot(1, 0x01, kWriteNoAddr);
        std::vector<uint8_t> status = {0x04};
        d.SwCycle(1, 0, &status, true);
    }
    b.Close();
    ino_t imageInode = Inode(dir / "flash.bin");
    b.Reopen();
    ASSERT_NE(b.board, nullptr) << b.error;
    {
        Driver d(b.board);
        EXPECT_EQ(d.HwRead(0x300000, 4), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0xFF}));
        EXPECT_EQ(d.Pci(kBiosControl) & 1, 1u);
        EXPECT_EQ(d.R8(kOpmenu), 0x52);
        EXPECT_EQ(d.ReadStatus() & 0x1C, 0x04);
    }
    b.Close();
    // The second run only read the flash; a third that touches nothing
    // rewrites neither file.
    EXPECT_EQ(Inode(dir / "flash.bin"), imageInode);
    ino_t stateInode = Inode(dir / "state.json");
    b.Reopen();
    b.Close();
    EXPECT_EQ(Inode(dir / "flash.bin"), imageInode);
    EXPECT_EQ(Inode(dir / "state.json"), stateInode);
    // Deleting the image starts the board afresh, state and all.
    std::remove((dir / "flash.bin").c_str());
    b.Reopen();
    ASSERT_NE(b.board, nullptr) << b.error;
    EXPECT_EQ(Driver(b.board).Pci(kBiosControl) & 1, 0u);
    EXPECT_FALSE(testsupport::FileExists(dir / "flash.bin.tmp"));
}

TEST(Persistence, FirstRunLaysOutTheDescriptorTheBoardFileDescribes) {
    testsupport::ScratchDir dir("layout");
    json file = {
        {"chips", {{{"part", "W25X64"}}}},
        {"descriptor",
         {{"layout",
           {{"component_base", "0x100"}, {"region_base", "0x200"}, {"master_base", "0x300"}}},
          {"regions", {{"bios", {{"base", "0x400000"}, {"limit", "0x7FFFFF"}}}}},
          {"masters", {{"cpu", {{"id", 7}, {"read", "0x02"}, {"write", "0x02"}}}}}}}};
    ScratchBoard b(dir.path(), file);
    ASSERT_NE(b.board, nullptr) << b.error;
    b.Close();
    std::vector<uint8_t> image = testsupport::ReadFileBytes(dir / "board-cs0.bin");
    ASSERT_EQ(image.size(), 8u << 20);
    EXPECT_EQ(Le32(image, 0), 0x0FF0A55Au);
    EXPECT_EQ(Le32(image, 4), 0x00200010u);  // one component
    EXPECT_EQ(Le32(image, 8), 0x00000030u);
    EXPECT_EQ(Le32(image, 0x100) & 7, 4u);       // 8 MB
    EXPECT_EQ(Le32(image, 0x200), 0x00001FFFu);  // no Descriptor region
    EXPECT_EQ(Le32(image, 0x204), 0x07FF0400u);
    EXPECT_EQ(Le32(image, 0x300), 0x02020007u);
    EXPECT_TRUE(testsupport::FileExists(dir / "board-state.json"));
}

}  // namespace
