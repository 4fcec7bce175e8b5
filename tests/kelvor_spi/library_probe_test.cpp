// What a program sees through ravoacc32.h alone, with no kelvor code: the
// LPC bridge's RCBA, the mapped SPI registers, a software-sequenced read-ID
// and flash reads on the default board, and a locked board's frozen menu.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "ravoacc32.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

// Register offsets within the SPI block at RCBA + 0x3020.
constexpr uint32_t kHsfsts = 0x04, kFaddr = 0x08, kFdata = 0x10, kSsfsts = 0x90, kSsfctl = 0x91,
                   kSsfctlHigh = 0x92, kOpmenu = 0x98, kOptype = 0x96;

class Probe : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(home_, sizeof home_), nullptr);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        unsetenv("SPIBOARD_LOG");
    }
    void TearDown() override {
        RavoDestroy();
        unsetenv("RAVOACC_BOARD");
        EXPECT_EQ(chdir(home_), 0);
    }

    // Opens the library and maps the SPI block; returns its address.
    volatile uint8_t* OpenAndMap() {
        static RavoInitBlock block;
        std::memset(&block, 0, sizeof block);
        block.Size = RAVO_INIT_BLOCK_SIZE;
        if (RavoInit(0, &block) == 0) {
            ADD_FAILURE() << "RavoInit failed";
            return nullptr;
        }
        RavoPciRequest pci = {sizeof pci, RAVO_PCI_READ32, 0x8000F8F0, 0, 0, 0, 0};
        EXPECT_NE(RavoPCI(&pci), 0);
        rcba_ = pci.ReadValue;
        map_ = {sizeof map_, (rcba_ & 0xFFFFC000u) + 0x3000, RAVO_MAP_UNCACHED, 0};
        if (RavoMapPhys(&map_) == 0) {
            ADD_FAILURE() << "RavoMapPhys failed";
            return nullptr;
        }
        return reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(map_.VirtualAddress)) +
               0x20;
    }

    // One software-sequenced cycle with the opcode of `slot`; returns SSFSTS
    // when the cycle is done.
    static uint8_t Cycle(volatile uint8_t* spi, uint32_t address, unsigned slot, unsigned bytes) {
        *reinterpret_cast<volatile uint32_t*>(spi + kFaddr) = address;
        spi[kSsfsts] = 0x1C;
        *reinterpret_cast<volatile uint16_t*>(spi + kSsfctlHigh) =
            static_cast<uint16_t>(0x40 | (bytes - 1));
        spi[kSsfctl] = static_cast<uint8_t>((slot << 4) | 0x02);
        uint8_t status = 0;
        for (int polls = 0; polls < 100000 && (status & 0x04) == 0; ++polls) {
            status = spi[kSsfsts];
        }
        return status;
    }

    testsupport::ScratchDir dir_{std::string("kelvor_spi-probe-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name()};
    char home_[4096];
    uint32_t rcba_ = 0;
    RavoMapRequest map_ = {};
};

TEST_F(Probe, DefaultBoard) {
    unsetenv("RAVOACC_BOARD");
    volatile uint8_t* spi = OpenAndMap();
    ASSERT_NE(spi, nullptr);
    EXPECT_EQ(rcba_, 0xFED1C001u);
    const uint16_t hsfsts = *reinterpret_cast<volatile uint16_t*>(spi + kHsfsts);
    EXPECT_NE(hsfsts & 0x4000, 0);  // a valid descriptor
    EXPECT_EQ(hsfsts & 0x8000, 0);  // unlocked
    // The shipped menu holds 0x9F in slot 3 and 0x03 in slot 1.
    ASSERT_EQ(spi[kOpmenu + 3], 0x9F);
    ASSERT_EQ(spi[kOpmenu + 1], 0x03);
    EXPECT_EQ(Cycle(spi, 0, 3, 3) & 0x1C, 0x04);
    EXPECT_EQ(spi[kFdata], 0xEF);
    EXPECT_EQ(spi[kFdata + 1], 0x30);
    EXPECT_EQ(spi[kFdata + 2], 0x16);
    EXPECT_EQ(Cycle(spi, 0, 1, 4) & 0x1C, 0x04);
    EXPECT_EQ(*reinterpret_cast<volatile uint32_t*>(spi + kFdata), 0x0FF0A55Au);
    // The ME region (from 0x3000) is closed to the host.
    EXPECT_EQ(Cycle(spi, 0x3000, 1, 4) & 0x10, 0x10);
    EXPECT_NE(RavoUnmapPhys(&map_), 0);
}

TEST_F(Probe, LockedBoardKeepsItsMenu) {
    const std::string text =
        testsupport::ReadFileText(testsupport::SourceDir() + "/boards/spi/boards/default.json");
    nlohmann::json board = nlohmann::json::parse(text, nullptr, true, true);
    board["controller"]["locked"] = true;
    testsupport::WriteFileText(dir_ / "locked.json", board.dump());
    setenv("RAVOACC_BOARD", (dir_ / "locked.json").c_str(), 1);
    volatile uint8_t* spi = OpenAndMap();
    ASSERT_NE(spi, nullptr);
    EXPECT_NE(*reinterpret_cast<volatile uint16_t*>(spi + kHsfsts) & 0x8000, 0);
    spi[kOpmenu + 3] = 0x90;
    *reinterpret_cast<volatile uint16_t*>(spi + kOptype) = 0;
    EXPECT_EQ(spi[kOpmenu + 3], 0x9F);
    EXPECT_EQ(*reinterpret_cast<volatile uint16_t*>(spi + kOptype), 0x343B);
    // The menu as it stands still works.
    EXPECT_EQ(Cycle(spi, 0, 3, 3) & 0x1C, 0x04);
    EXPECT_EQ(spi[kFdata], 0xEF);
}

}  // namespace
