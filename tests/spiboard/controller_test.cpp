// The SPI controller and the LPC bridge as software sees them: register
// access rules at every width, the lock, the reset port, the host's access
// rights, the BIOS write enable, and the cycles of both sequencing modes.
#include <gtest/gtest.h>

#include "tests/spiboard/board_driver.h"
#include "tests/support/files.h"

namespace {

using namespace spitest;
using nlohmann::json;

struct Fixture {
    Fixture(const std::string& name, json file) : dir("ctl-" + name), board(dir.path(), file) {
        EXPECT_NE(board.board, nullptr) << board.error;
    }
    Driver D() { return Driver(board.board); }
    testsupport::ScratchDir dir;
    ScratchBoard board;
};

json Shipped(const char* name) {
    return ShippedBoard(name);
}

TEST(Registers, AccessesOfEveryWidthActLikeTheHardware) {
    Fixture f("widths", Shipped("default.json"));
    Driver d = f.D();
    // A denied read leaves AEL and FDONE set.
    std::vector<uint8_t> data(4);
    ASSERT_EQ(d.HwCycle(0, 0x003000, &data) & kHwAel, kHwAel);
    // One 32-bit write at 0x04 clears HSFSTS and sets up HSFCTL together.
    d.W32(kHsfsts, (0x3F00u << 16) | 0x0007);
    EXPECT_EQ(d.R16(kHsfsts) & 0x0007, 0);
    EXPECT_EQ(d.R16(kHsfctl), 0x3F00);
    // ... and with the go bit it starts the cycle it sets up.
    d.W32(kFaddr, 0);
    d.W32(kHsfsts, ((0x0300u | 1) << 16) | 0x0007);
    EXPECT_EQ(d.R16(kHsfsts) & (kHwScip | 0x0007), kHwScip) << "the first poll finds it running";
    EXPECT_EQ(d.R16(kHsfsts) & (kHwScip | 0x0007), kHwFdone);
    EXPECT_EQ(d.R32(kFdata), 0x0FF0A55Au);
    EXPECT_EQ(d.R16(kHsfctl) & 1, 0) << "go reads back as 0";
    // A 32-bit write at 0x90 covers SSFSTS, both control bytes and the go bit.
    d.SetSlot(3, 0x9F, kReadNoAddr);
    d.W32(kSsfsts, (0x42u << 16) | (((3u << 4) | 2) << 8) | 0x1C);
    EXPECT_EQ(d.R8(kSsfsts) & 0x1D, kSwScip);
    EXPECT_EQ(d.R8(kSsfsts) & 0x1D, kSwFdone);
    EXPECT_EQ(d.R32(kFdata) & 0xFFFFFF, 0x1630EFu);
    EXPECT_EQ(d.R8(kSsfctl) & 2, 0);
    // The data buffer takes any width at any byte offset.
    d.W8(kFdata + 0x13, 0xAB);
    d.W16(kFdata + 0x15, 0x1234);
    d.W32(kFdata + 0x3E, 0x11223344);  // the upper half lands on read-only FRACC
    EXPECT_EQ(d.R32(kFdata + 0x10) >> 24, 0xABu);
    EXPECT_EQ(d.R16(kFdata + 0x15), 0x1234);
    EXPECT_EQ(d.R16(kFdata + 0x3E), 0x3344);
    EXPECT_EQ(d.R32(kFracc), 0x00000A0Bu);
    // FADDR holds bits 0-24 only; FDV and FDOPSS cannot be written.
    d.W32(kFaddr, 0xFFFFFFFF);
    EXPECT_EQ(d.R32(kFaddr), 0x01FFFFFFu);
    d.W16(kHsfsts, 0);
    EXPECT_EQ(d.R16(kHsfsts) & (kFdv | kFdopss), kFdv | kFdopss);
    // Unmodelled offsets of the block read 0; the rest of the page all ones.
    for (uint32_t offset : {0x00u, 0x0Cu, 0x64u, 0x74u, 0xA0u, 0xC4u, 0xDCu}) {
        d.W32(offset, 0x5A5A5A5A);
        EXPECT_EQ(d.R32(offset), 0u) << std::hex << offset;
    }
    EXPECT_EQ(d.R32(static_cast<uint32_t>(-0x20)), 0xFFFFFFFFu);  // page offset 0
    EXPECT_EQ(d.R32(0xE0), 0xFFFFFFFFu);                          // page offset 0x100
    EXPECT_EQ(d.R16(0xFDE), 0xFFFF);                              // last bytes of the page
}

TEST(Registers, MappingAndConfigurationSpace) {
    Fixture f("pci", Shipped("default.json"));
    spiboard::Board* b = f.board.board;
    Driver d = f.D();
    std::string error;
    EXPECT_TRUE(spiboard::CanMapPage(b, 0xFED1F000, &error));
    EXPECT_FALSE(spiboard::CanMapPage(b, 0xFED1E000, &error));
    EXPECT_NE(error.find("the SPI registers are in page 0xFED1F000"), std::string::npos) << error;
    EXPECT_EQ(d.Pci(0x8000F800), 0x0F311E5Au);
    d.SetPci(0x8000F840, 0x12345678);  // other registers keep what is written
    EXPECT_EQ(d.Pci(0x8000F840), 0x12345678u);
    d.SetPci(0x8000F800, 0);  // identification is read-only
    EXPECT_EQ(d.Pci(0x8000F800), 0x0F311E5Au);
    EXPECT_EQ(d.Pci(0x8000F900), 0xFFFFFFFFu);  // no device 0:31.1
    uint32_t value = 0;
    EXPECT_FALSE(spiboard::PciRead32(b, 0x0000F8F0, &value, &error));
    // Moving RCBA moves the register page; clearing its enable unmaps it.
    d.SetPci(kRcba, 0xFEC00001);
    EXPECT_TRUE(spiboard::CanMapPage(b, 0xFEC03000, &error));
    EXPECT_EQ(spiboard::MmioRead(b, 0xFEC03024, 2) & kFdv, kFdv);
    d.SetPci(kRcba, 0xFEC00000);
    EXPECT_FALSE(spiboard::CanMapPage(b, 0xFEC03000, &error));
    EXPECT_EQ(spiboard::MmioRead(b, 0xFEC03024, 2), 0xFFFFu);
}

TEST(Lock, FrozenMenuUntilReset) {
    Fixture locked("locked", Shipped("locked.json"));
    Driver d = locked.D();
    uint32_t menu = d.R32(kOpmenu);
    d.W32(kOpmenu, 0);
    d.W8(kOpmenu + 7, 0x9F);
    d.W16(kOptype, 0);
    d.W16(kPreop, 0);
    d.W16(kHsfsts, 0);  // FLOCKDN cannot be cleared
    EXPECT_EQ(d.R32(kOpmenu), menu);
    EXPECT_EQ(d.R8(kOpmenu + 7), 0xAB);
    EXPECT_EQ(d.R16(kOptype), 0x343B);
    EXPECT_EQ(d.R16(kPreop), 0x5006);
    EXPECT_EQ(d.R16(kHsfsts) & kFlockdn, kFlockdn);
    std::string error;
    spiboard::IoWrite(locked.board.board, 0xCF9, 0x0E, 1, &error);
    EXPECT_EQ(d.R16(kHsfsts) & kFlockdn, kFlockdn) << "the firmware locks it again at power-on";

    Fixture open("unlocked", Shipped("default.json"));
    Driver u = open.D();
    u.W8(kOpmenu + 7, 0x90);
    u.W16(kHsfsts, kFlockdn);
    u.W8(kOpmenu + 7, 0x9F);
    EXPECT_EQ(u.R8(kOpmenu + 7), 0x90);
    EXPECT_EQ(u.R16(kHsfsts) & kFlockdn, kFlockdn);
    spiboard::IoWrite(open.board.board, 0xCF9, 0x06, 1, &error);
    EXPECT_EQ(u.R16(kHsfsts) & kFlockdn, 0);
    EXPECT_EQ(u.R8(kOpmenu + 7), 0xAB) << "menu back at its power-on value";
}

TEST(Reset, PortCf9RestoresPowerOnState) {
    struct Case {
        uint32_t port, value;
        unsigned width;
        bool resets;
    };
    const Case cases[] = {
        {0xCF9, 0x0E, 1, true},  {0xCF9, 0x06, 1, true},   {0xCF9, 0x04, 1, false},
        {0xCF9, 0x02, 1, false}, {0xCF8, 0x0E00, 2, true}, {0x80, 0x0E, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Fixture f("reset", Shipped("whole-flash.json"));
        Driver d = f.D();
        d.SetBiosWriteEnable();
        d.W8(kOpmenu + 7, 0x77);
        // Rewrite the BIOS region word of the descriptor in flash (base
        // 0x200 -> 0); the region registers change only at the next reset.
        std::vector<uint8_t> word = {0x00, 0x00, 0xFF, 0x03};
        ASSERT_EQ(d.HwCycle(2, 0x44, &word) & (kHwFcerr | kHwAel), 0);
        EXPECT_EQ(d.R32(kFreg0 + 4), 0x03FF0200u);
        d.W16(kHsfsts, kFlockdn);
        std::string error;
        EXPECT_TRUE(spiboard::IoWrite(f.board.board, c.port, c.value, c.width, &error));
        EXPECT_EQ(d.R32(kFreg0 + 4), c.resets ? 0x03FF0000u : 0x03FF0200u);
        EXPECT_EQ(d.Pci(kBiosControl) & 1, c.resets ? 0u : 1u);
        EXPECT_EQ((d.R16(kHsfsts) & kFlockdn) != 0, !c.resets);
        EXPECT_EQ(d.R8(kOpmenu + 7), c.resets ? 0xAB : 0x77);
        EXPECT_EQ(d.R16(kHsfsts) & 7, c.resets ? 0 : kHwFdone);
    }
}

struct RightsCase {
    bool hardware;
    unsigned type;  // hardware cycle type, or the software opcode's
    uint8_t opcode;
    uint32_t addr;
    unsigned bytes;
    bool denied;
};

TEST(HostRights, RegionsAndFraccGuardBothSequencingModes) {
    // Default board: Descriptor read-only, GbE read/write, ME neither, BIOS both.
    const RightsCase cases[] = {
        {true, 0, 0x03, 0x000000, 4, false},
        {true, 0, 0x03, 0x001000, 4, false},
        {true, 0, 0x03, 0x003000, 4, true},
        {true, 0, 0x03, 0x1FFFF0, 16, true},
        {true, 0, 0x03, 0x200000, 4, false},
        {true, 2, 0x02, 0x000100, 4, true},
        {true, 2, 0x02, 0x001000, 4, false},
        {true, 2, 0x02, 0x1FFFFC, 8, true},
        {true, 3, 0x20, 0x003000, 0, true},
        {false, kReadAddr, 0x03, 0x003000, 4, true},
        {false, kReadAddr, 0x03, 0x002FFC, 8, true},
        {false, kWriteAddr, 0x02, 0x001000, 4, false},
        {false, kWriteAddr, 0x20, 0x000000, 0, true},
        {false, kReadNoAddr, 0x9F, 0x003000, 3, false},
    };
    for (bool fdopss : {true, false}) {
        for (const RightsCase& c : cases) {
            SCOPED_TRACE(testing::Message() << (c.hardware ? "hw " : "sw ") << std::hex << c.addr
                                            << " fdopss " << fdopss);
            json file = Shipped("default.json");
            file["controller"]["fdopss"] = fdopss;
            file["lpc"]["bios_control"] = 1;
            Fixture f("rights", file);
            Driver d = f.D();
            std::vector<uint8_t> data(c.bytes, 0x00);
            bool denied;
            if (c.hardware) {
                denied = (d.HwCycle(c.type, c.addr, c.bytes ? &data : nullptr) & kHwAel) != 0;
            } else {
                denied = (d.Command(c.opcode, c.type, c.addr, c.bytes ? &data : nullptr,
                                    c.opcode != 0x03 && c.opcode != 0x9F) &
                          kSwAel) != 0;
            }
            EXPECT_EQ(denied, c.denied && fdopss);
        }
    }
}

TEST(HostRights, DeniedCyclesDoNotReachTheChip) {
    json file = Shipped("default.json");
    file["lpc"]["bios_control"] = 1;
    Fixture f("untouched", file);
    Driver d = f.D();
    std::vector<uint8_t> zeros(64, 0);
    EXPECT_EQ(d.HwCycle(2, 0x000000, &zeros) & kHwAel, kHwAel);
    EXPECT_EQ(d.HwCycle(3, 0x000000, nullptr) & kHwAel, kHwAel);
    EXPECT_EQ(d.HwRead(0, 4), (std::vector<uint8_t>{0x5A, 0xA5, 0xF0, 0x0F}));
}

TEST(BiosWriteEnable, GatesProgramAndEraseOfTheBiosRegion) {
    struct Case {
        const char* board;
        bool hardware;
        uint8_t opcode;  // software cycles: the command; hardware: cycle type
        uint32_t addr;
        bool blocked;  // with write enable clear
    };
    const Case cases[] = {
        {"default.json", true, 2, 0x200000, true},
        {"default.json", true, 3, 0x3FF000, true},
        {"default.json", true, 2, 0x001000, false},
        {"default.json", false, 0x02, 0x200000, true},
        {"default.json", false, 0x20, 0x200000, true},
        {"default.json", false, 0xC7, 0, true},
        {"default.json", false, 0x02, 0x001000, false},
        {"blank.json", false, 0x02, 0x001000, true},
        {"blank.json", false, 0x20, 0x000000, true},
    };
    for (bool enabled : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.board << " " << std::hex << int(c.opcode) << " "
                                            << c.addr << " enabled " << enabled);
            json file = Shipped(c.board);
            file["controller"]["fdopss"] = false;  // rights out of the way
            Fixture f("biosWE", file);
            Driver d = f.D();
            if (enabled) {
                d.SetBiosWriteEnable();
            }
            std::vector<uint8_t> data = {0x00};
            bool failed;
            if (c.hardware) {
                failed =
                    (d.HwCycle(c.opcode, c.addr, c.opcode == 2 ? &data : nullptr) & kHwFcerr) != 0;
            } else {
                unsigned type = c.opcode == 0xC7 ? kReadNoAddr : kWriteAddr;
                failed =
                    (d.Command(c.opcode, type, c.addr, c.opcode == 0x02 ? &data : nullptr, true) &
                     kSwFcerr) != 0;
            }
            EXPECT_EQ(failed, c.blocked && !enabled);
        }
    }
}

TEST(BiosWriteEnable, RefusingChipsetAndLockEnable) {
    Fixture refused("refused", Shipped("bios-write-refused.json"));
    Driver r = refused.D();
    EXPECT_EQ(r.Pci(kBiosControl), 0x00000002u);
    r.SetPci(kBiosControl, 0x00000003);
    EXPECT_EQ(r.Pci(kBiosControl), 0x00000002u);

    Fixture plain("lockenable", Shipped("default.json"));
    Driver d = plain.D();
    d.SetPci(kBiosControl, 0x0000000C);  // writable bits other than the enable
    EXPECT_EQ(d.Pci(kBiosControl), 0x0000000Cu);
    d.SetPci(kBiosControl, 0x00000002);  // lock enable: set once
    d.SetPci(kBiosControl, 0x00000001);
    EXPECT_EQ(d.Pci(kBiosControl), 0x00000002u);
    std::string error;
    spiboard::IoWrite(plain.board.board, 0xCF9, 0x0E, 1, &error);
    d.SetBiosWriteEnable();
    EXPECT_EQ(d.Pci(kBiosControl), 0x00000001u);
}

struct ShapeCase {
    const char* name;
    uint8_t opcode;
    unsigned type;
    unsigned bytes;
    bool atomic;
    uint8_t prefix;
    bool fcerr;
};

TEST(SoftwareSequencing, CycleShapeMustFitTheCommand) {
    const ShapeCase cases[] = {
        {"read", 0x03, kReadAddr, 16, false, 0, false},
        {"read typed as write", 0x03, kWriteAddr, 16, false, 0, true},
        {"read without address", 0x03, kReadNoAddr, 16, false, 0, true},
        {"program typed as read", 0x02, kReadAddr, 4, true, 0x06, true},
        {"program", 0x02, kWriteAddr, 4, true, 0x06, false},
        {"write enable with data", 0x06, kWriteNoAddr, 1, false, 0, true},
        {"write enable", 0x06, kWriteNoAddr, 0, false, 0, false},
        {"jedec id with address", 0x9F, kReadAddr, 3, false, 0, true},
        {"0x90 with address", 0x90, kReadAddr, 2, false, 0, false},
        {"status write typed as read", 0x01, kReadNoAddr, 1, true, 0x06, true},
        {"erase with data", 0x20, kWriteAddr, 4, true, 0x06, true},
        {"erase", 0x20, kWriteAddr, 0, true, 0x06, false},
        {"chip erase typed as read", 0xC7, kReadNoAddr, 0, true, 0x06, false},
        {"chip erase with address", 0xC7, kWriteAddr, 0, true, 0x06, true},
        {"prefix that reads", 0x02, kWriteAddr, 4, true, 0x03, true},
        {"unknown command", 0x77, kWriteAddr, 8, false, 0, false},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f("shape", Shipped("whole-flash.json"));
        Driver d = f.D();
        d.SetBiosWriteEnable();
        d.SetPrefix(1, c.prefix);
        d.SetSlot(7, c.opcode, c.type);
        std::vector<uint8_t> data(c.bytes, 0);
        uint8_t status = d.SwCycle(7, 0x200000, c.bytes ? &data : nullptr, c.atomic, 1);
        EXPECT_EQ((status & kSwFcerr) != 0, c.fcerr);
        EXPECT_EQ(status & kSwFdone, kSwFdone);
    }
}

TEST(SoftwareSequencing, GoWhileACycleRunsIsRefused) {
    Fixture f("busy", Shipped("whole-flash.json"));
    Driver d = f.D();
    d.SetBiosWriteEnable();
    d.SetSlot(7, 0x20, kWriteAddr);
    d.W32(kFaddr, 0x200000);
    d.W8(kSsfctlHigh, 0);
    d.W8(kSsfctl, (7 << 4) | 4 | 2);  // atomic erase: runs for the erase time
    d.W8(kSsfctl, (7 << 4) | 4 | 2);
    uint8_t status = d.R8(kSsfsts);
    EXPECT_EQ(status & (kSwScip | kSwFcerr | kSwFdone), kSwScip | kSwFcerr);
    EXPECT_EQ(d.R8(kSsfsts) & kSwFdone, kSwFdone) << "the first cycle still finishes";
}

struct HwCase {
    const char* name;
    const char* board;
    bool setVscc;
    uint32_t vscc;
    unsigned type;
    uint32_t addr;
    unsigned count;
    bool fcerr;
    uint32_t erasedFrom, erasedTo;  // erase cycles: the range found erased
};

TEST(HardwareSequencing, CyclesTheControllerRunsItself) {
    const HwCase cases[] = {
        {"read 64", "whole-flash.json", false, 0, 0, 0x000000, 64, false, 0, 0},
        {"program 64", "whole-flash.json", false, 0, 2, 0x200040, 64, false, 0, 0},
        {"reserved type", "whole-flash.json", false, 0, 1, 0x200000, 4, true, 0, 0},
        {"4K erase, misaligned", "whole-flash.json", false, 0, 3, 0x201234, 1, false, 0x201000,
         0x202000},
        {"64K erase by VSCC", "whole-flash.json", true, 0x00D80700, 3, 0x212345, 1, false, 0x210000,
         0x220000},
        {"VSCC 0", "whole-flash.json", true, 0, 3, 0x200000, 1, true, 0, 0},
        {"BES 2", "whole-flash.json", true, 0x00200600, 3, 0x200000, 1, true, 0, 0},
        {"no descriptor", "blank.json", false, 0, 0, 0x000000, 4, true, 0, 0},
        {"byte writes: one", "byte-program.json", false, 0, 2, 0x200000, 1, false, 0, 0},
        {"byte writes: two", "byte-program.json", false, 0, 2, 0x200000, 2, true, 0, 0},
    };
    for (const HwCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f("hwseq", Shipped(c.board));
        Driver d = f.D();
        d.SetBiosWriteEnable();
        if (std::string(c.board) == "byte-program.json") {
            std::vector<uint8_t> unprotect = {0x00};
            d.Command(0x01, kWriteNoAddr, 0, &unprotect, true);
        }
        if (c.setVscc) {
            d.W32(kVscc, c.vscc);
        }
        if (c.type == 3) {
            // Zeros around the erase target, to see what the erase takes.
            std::vector<uint8_t> zero = {0x00};
            for (uint32_t a : {0x200FFFu, 0x201000u, 0x201FFFu, 0x202000u, 0x20FFFFu, 0x210000u,
                               0x21FFFFu, 0x220000u, 0x2000FFu, 0x200100u}) {
                ASSERT_EQ(d.HwCycle(2, a, &zero) & 3, kHwFdone);
            }
        }
        std::vector<uint8_t> data(c.count, 0x5A);
        uint16_t status = d.HwCycle(c.type, c.addr, c.type == 3 ? nullptr : &data);
        EXPECT_EQ((status & kHwFcerr) != 0, c.fcerr);
        EXPECT_EQ(status & kHwFdone, kHwFdone);
        if (c.fcerr) {
            continue;
        }
        if (c.type == 0) {
            EXPECT_EQ(data[0], 0x5A) << "the descriptor signature's first byte";
        }
        if (c.type == 2) {
            EXPECT_EQ(d.HwRead(c.addr, c.count), std::vector<uint8_t>(c.count, 0x5A));
        }
        if (c.type == 3) {
            for (uint32_t a : {0x200FFFu, 0x201000u, 0x201FFFu, 0x202000u, 0x20FFFFu, 0x210000u,
                               0x21FFFFu, 0x220000u, 0x2000FFu, 0x200100u}) {
                bool inside = a >= c.erasedFrom && a < c.erasedTo;
                EXPECT_EQ(d.HwRead(a, 1)[0], inside ? 0xFF : 0x00) << std::hex << a;
            }
        }
    }
}

TEST(HardwareSequencing, VsccLockedByVcl) {
    Fixture f("vcl", Shipped("default.json"));
    Driver d = f.D();
    d.W32(kVscc, 0x80D80700);
    EXPECT_EQ(d.R32(kVscc), 0x80D80700u);
    EXPECT_EQ((d.R16(kHsfsts) >> 3) & 3, 3) << "BERASE follows VSCC";
    d.W32(kVscc, 0x00200500);
    EXPECT_EQ(d.R32(kVscc), 0x80D80700u);
}

TEST(ChipSelects, DescriptorComponentsRouteAddresses) {
    json file = Shipped("two-chips.json");
    file["controller"]["fdopss"] = false;
    Fixture f("twochips", file);
    Driver d = f.D();
    d.SetBiosWriteEnable();
    EXPECT_EQ(d.ReadId(0x9F, 3, 0), (std::vector<uint8_t>{0xC2, 0x20, 0x16}));
    EXPECT_EQ(d.ReadId(0x9F, 3, 0x400000), (std::vector<uint8_t>{0xC2, 0x20, 0x17}));
    std::vector<uint8_t> marker = {0x11, 0x22};
    ASSERT_EQ(d.HwCycle(2, 0x400000, &marker) & 7, kHwFdone);
    ASSERT_EQ(d.HwCycle(2, 0xBFFFFE, &marker) & 7, kHwFdone);
    EXPECT_EQ(d.HwCycle(0, 0xC00000, nullptr, 4) & kHwFcerr, kHwFcerr) << "beyond both parts";
    f.board.Close();
    std::vector<uint8_t> cs0 = testsupport::ReadFileBytes(f.dir / "two-chips-cs0.bin");
    std::vector<uint8_t> cs1 = testsupport::ReadFileBytes(f.dir / "two-chips-cs1.bin");
    ASSERT_EQ(cs0.size(), 4u << 20);
    ASSERT_EQ(cs1.size(), 8u << 20);
    EXPECT_EQ(cs1[0], 0x11);
    EXPECT_EQ(cs1[(8u << 20) - 1], 0x22);
    EXPECT_EQ(cs0[0x4], 0x03) << "descriptor: component section at 0x30";
    EXPECT_EQ(cs0[0x5], 0x01) << "two components";
    EXPECT_EQ(cs0[0x30], 0x23) << "densities 4 MB and 8 MB";
}

TEST(ChipSelects, WithoutDescriptorTheFirstPartRepeatsUpwards) {
    Fixture f("wrap", Shipped("blank.json"));
    Driver d = f.D();
    d.SetBiosWriteEnable();
    std::vector<uint8_t> marker = {0x42};
    d.Command(0x02, kWriteAddr, 0x000010, &marker, true);
    std::vector<uint8_t> read(1);
    d.Command(0x03, kReadAddr, 0x400010, &read);
    EXPECT_EQ(read[0], 0x42);
    EXPECT_EQ(d.ReadId(0x9F, 3, 0x400000), (std::vector<uint8_t>{0xEF, 0x30, 0x16}));
}

}  // namespace
