// kelvor's library wrapper and the BIOS write protection against a recording
// stand-in of the library: the request blocks as handed over, the results
// passed back, and the one way every library failure is reported.
#include <gtest/gtest.h>

#include <cstdint>

#include "kelvor/ops/bios_protect.h"
#include "kelvor/spi/ravo_util.h"
#include "tests/kelvor_ravo/fake_ravoacc32.h"
#include "tests/kelvor_ravo/recording_console.h"

extern RavoMapRequest SpiWindowRequest;
extern int32_t SpiWindowMapped;

namespace {

using consoletest::Printed;
using fakeravo::Fake;

class Wrapper : public ::testing::Test {
  protected:
    void SetUp() override {
        fakeravo::Reset();
        consoletest::Reset();
        SpiWindowMapped = 0;
    }
};

constexpr char kErrorLine[] = "P:RAVOUtil: Error during RAVO Call: fake failure \n";

TEST_F(Wrapper, InitPassesAFreshBlockAndReportsFailure) {
    EXPECT_EQ(InitRAVODriver(), 1);
    EXPECT_EQ(Fake.InitReserved, 0u);
    EXPECT_EQ(Fake.InitBlockSize, 17168u);
    EXPECT_EQ(Printed, "");

    Fake.InitResult = 0;
    EXPECT_EQ(InitRAVODriver(), 0);
    EXPECT_EQ(Printed, kErrorLine);
}

TEST_F(Wrapper, ConfigurationAccessRequests) {
    Fake.Config[0x8000F8F0] = 0xFED1C001;
    EXPECT_EQ(RavoPci_IN(0x8000F8F0), 0xFED1C001u);
    RavoPci_OUT(0x8000F8DC, 0x12345678);
    ASSERT_EQ(Fake.PciCalls.size(), 2u);
    const RavoPciRequest& read = Fake.PciCalls[0];
    EXPECT_EQ(read.Size, 28u);
    EXPECT_EQ(read.Operation, 3u);
    EXPECT_EQ(read.ConfigAddress, 0x8000F8F0u);
    EXPECT_EQ(read.ReadValue, 0u);
    const RavoPciRequest& write = Fake.PciCalls[1];
    EXPECT_EQ(write.Size, 28u);
    EXPECT_EQ(write.Operation, 6u);
    EXPECT_EQ(write.ConfigAddress, 0x8000F8DCu);
    EXPECT_EQ(write.Reserved0, 0u);
    EXPECT_EQ(write.WriteValue, 0x12345678u);
    EXPECT_EQ(Fake.Config[0x8000F8DC], 0x12345678u);
    EXPECT_EQ(Printed, "");
}

TEST_F(Wrapper, FailedConfigurationAccessYieldsZeroAndTheErrorLine) {
    Fake.Config[0x8000F8F0] = 0xFED1C001;
    Fake.PciFails = true;
    EXPECT_EQ(RavoPci_IN(0x8000F8F0), 0u);
    EXPECT_EQ(RavoPci_OUT(0x8000F8DC, 1), 0u);
    EXPECT_EQ(Printed, std::string(kErrorLine) + kErrorLine);
}

TEST_F(Wrapper, MappingRequestsThePageAndAddsTheOffset) {
    volatile uint8_t* p = RAVOMapPhysAddress(0xFED1F020);
    ASSERT_EQ(Fake.MapCalls.size(), 1u);
    EXPECT_EQ(Fake.MapCalls[0].Size, 16u);
    EXPECT_EQ(Fake.MapCalls[0].PhysicalAddress, 0xFED1F000u);
    EXPECT_EQ(Fake.MapCalls[0].Mode, 2u);
    EXPECT_EQ(Fake.MapCalls[0].VirtualAddress, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p), 0x00A00020u);
    EXPECT_EQ(SpiWindowMapped, 1);

    // The same block goes back to the library, unchanged.
    EXPECT_EQ(RAVOUnMapPhysAddress(), 1);
    ASSERT_EQ(Fake.UnmapCalls.size(), 1u);
    EXPECT_EQ(Fake.UnmapBlocks[0], &SpiWindowRequest);
    EXPECT_EQ(Fake.UnmapCalls[0].PhysicalAddress, 0xFED1F000u);
    EXPECT_EQ(Fake.UnmapCalls[0].VirtualAddress, 0x00A00000u);
    EXPECT_EQ(SpiWindowMapped, 0);

    // Nothing mapped any more: 1, and the library is not called.
    EXPECT_EQ(RAVOUnMapPhysAddress(), 1);
    EXPECT_EQ(Fake.UnmapCalls.size(), 1u);
    EXPECT_EQ(Printed, "");
}

TEST_F(Wrapper, UnmapWithoutMapDoesNotCallTheLibrary) {
    EXPECT_EQ(RAVOUnMapPhysAddress(), 1);
    EXPECT_TRUE(Fake.UnmapCalls.empty());
}

TEST_F(Wrapper, FailedMappingReturnsOnlyTheOffset) {
    Fake.MapFails = true;
    volatile uint8_t* p = RAVOMapPhysAddress(0xFED1F020);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p), 0x20u);
    EXPECT_EQ(SpiWindowMapped, 0);
    EXPECT_EQ(Printed, kErrorLine);
    EXPECT_EQ(RAVOUnMapPhysAddress(), 1);
    EXPECT_TRUE(Fake.UnmapCalls.empty());
}

TEST_F(Wrapper, FailedUnmapKeepsTheWindowAndReports) {
    RAVOMapPhysAddress(0xFED1F000);
    Fake.UnmapFails = true;
    EXPECT_EQ(RAVOUnMapPhysAddress(), 0);
    EXPECT_EQ(SpiWindowMapped, 1);
    EXPECT_EQ(Printed, kErrorLine);
}

TEST_F(Wrapper, ResetWritesTheResetValueToTheResetPort) {
    EXPECT_EQ(ResetPlatform(), 1);
    ASSERT_EQ(Fake.IoCalls.size(), 1u);
    EXPECT_EQ(Fake.IoCalls[0].Size, 16u);
    EXPECT_EQ(Fake.IoCalls[0].Operation, 4u);
    EXPECT_EQ(Fake.IoCalls[0].Port, 0xCF9u);
    EXPECT_EQ(Fake.IoCalls[0].Value, 0x0Eu);
    EXPECT_EQ(Printed, "");

    Fake.IoResult = 0;
    EXPECT_EQ(ResetPlatform(), 0);
    EXPECT_EQ(Printed, kErrorLine);
}

TEST_F(Wrapper, BiosWriteProtection) {
    const std::string lifting =
        "P:BIOS space write protection is enabled\nP:Disabling BIOS space write protection\n";
    const struct {
        uint32_t Initial;
        bool Refuses;
        int Result;
        std::vector<uint32_t> Writes;
        std::string Output;
    } cases[] = {
        {0x00000001, false, 1, {}, "P:Reading LPC BC register... P:0x00000001\n"},
        {0x00000000,
         false,
         1,
         {0x00000001},
         "P:Reading LPC BC register... P:0x00000000\n" + lifting},
        {0x00000002,
         true,
         0,
         {0x00000003},
         "P:Reading LPC BC register... P:0x00000002\n" + lifting},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Initial);
        fakeravo::Reset();
        consoletest::Reset();
        Fake.Config[0x8000F8DC] = c.Initial;
        Fake.BiosControlKeepsWriteEnableClear = c.Refuses;
        EXPECT_EQ(DisableBiosWriteProtection(), c.Result);
        std::vector<uint32_t> writes;
        for (const RavoPciRequest& r : Fake.PciCalls) {
            EXPECT_EQ(r.ConfigAddress, 0x8000F8DCu);
            if (r.Operation == 6) {
                writes.push_back(r.WriteValue);
            }
        }
        EXPECT_EQ(writes, c.Writes);
        EXPECT_EQ(Fake.PciCalls.size(), c.Writes.empty() ? 1u : 3u);
        EXPECT_EQ(Printed, c.Output);
    }
}

TEST_F(Wrapper, BiosWriteProtectionWhenTheLibraryFails) {
    // The failed read counts as 0: one write attempt and a second read.
    Fake.PciFails = true;
    EXPECT_EQ(DisableBiosWriteProtection(), 0);
    ASSERT_EQ(Fake.PciCalls.size(), 3u);
    EXPECT_EQ(Fake.PciCalls[1].WriteValue, 1u);
    EXPECT_EQ(Printed, std::string("P:Reading LPC BC register... ") + kErrorLine +
                           "P:0x00000000\nP:BIOS space write protection is enabled\n"
                           "P:Disabling BIOS space write protection\n" +
                           kErrorLine + kErrorLine);
}

TEST_F(Wrapper, RebootAsksAndResetsOnlyOnYes) {
    const struct {
        const char* Typed;
        bool Resets;
    } cases[] = {{"y\n", true},  {"\n\n  Y\n", true}, {"yes\n", false},
                 {"n\n", false}, {"yy\n", false},     {"", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Typed);
        fakeravo::Reset();
        consoletest::Reset();
        consoletest::Answers = c.Typed;
        const int result = Reboot();
        EXPECT_NE(result, 0);
        EXPECT_EQ(Fake.IoCalls.size(), c.Resets ? 1u : 0u);
        EXPECT_EQ(Printed, c.Resets ? "D:\nWould you like to reboot (Y/N): P:rebooting...\n"
                                    : "D:\nWould you like to reboot (Y/N): ");
    }
}

}  // namespace
