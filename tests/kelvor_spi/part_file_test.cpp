// The part definition file: the normaliser on its own, then whole files read
// into PartDefinitions, with the number rules of each field and every result
// code. No board is involved.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "kelvor/spi/part_definitions.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"
#include "tests/kelvor_spi/board_session.h"
#include "tests/support/files.h"

namespace {

std::string Normalised(const std::string& text) {
    std::vector<char> buffer(text.size() * 2 + 1, '#');
    std::memcpy(buffer.data(), text.data(), text.size());
    EXPECT_EQ(PreProcessFileBuffer(buffer.data(), static_cast<uint32_t>(text.size()),
                                   static_cast<uint32_t>(buffer.size())),
              1);
    return std::string(buffer.data());
}

TEST(PreProcessFileBuffer, FourStates) {
    const struct {
        std::string In;
        std::string Out;
    } cases[] = {
        {"", ""},
        {"; a comment\n\n   \n\t\r\n", ""},
        {"A, 1, 2\r\n", "A,1,2,\n"},
        {"A,\n", "A,\n"},
        {"ABC\nDEF\n", "ABC,\nDEF,\n"},   // a dense line grows by one character
        {" ;NAME,1\n", ";NAME,1,\n"},     // a blank, then ";": a definition
        {"x;y\n  ; z\n", "x;y,\n;z,\n"},  // ";" is ordinary inside a line
        {"Two Words, 0x1 2\n", "TwoWords,0x12,\n"},
        {std::string("\x80\xFF"
                     "A\x01"
                     "B\0C\n",
                     8),
         "ABC,\n"},  // 0x00-0x20, 0x80-0xFF are blanks
        {"A\n;B\nC\n", "A,\nC,\n"},
        {"A", "A"},  // the loader appends the newline a last line lacks
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Normalised(c.In), c.Out) << c.In;
    }
}

TEST(PreProcessFileBuffer, EveryLineDenseFillsTwiceTheText) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += "A\n";
    }
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        expected += "A,\n";
    }
    EXPECT_EQ(Normalised(text), expected);
    // A buffer that could not hold the result is refused, not overrun.
    std::vector<char> small(text.begin(), text.end());
    small.push_back('\0');
    EXPECT_EQ(PreProcessFileBuffer(small.data(), static_cast<uint32_t>(text.size()),
                                   static_cast<uint32_t>(small.size())),
              0);
}

class PartFile : public testing::Test {
  protected:
    void SetUp() override { spitest::ResetKelvor(); }
    void TearDown() override { spitest::ResetKelvor(); }

    int Load(const std::string& text) {
        const std::string path = dir_ / "parts.txt";
        testsupport::WriteFileText(path, text);
        testing::internal::CaptureStdout();
        const int result = SpiLoadDevicesFile(path.c_str());
        printed_ = testing::internal::GetCapturedStdout();
        return result;
    }

    testsupport::ScratchDir dir_{std::string("kelvor_spi-part-file-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name()};
    std::string printed_;
};

TEST_F(PartFile, FieldsOfALine) {
    ASSERT_EQ(Load("PARTA, 0x123456, 0x800000, 0x1000, 0x20, 1, 0, 0x60\n"
                   "PARTB, 0x2541, 0x800000, 0x1000, -1, 64, 7, -1, 99, 100\n"
                   "PARTC, 0x1234, 0x800000, 0x1000\n"),
              0);
    EXPECT_EQ(printed_, "Reading file \"" + (dir_ / "parts.txt") + "\" into memory...\n");
    ASSERT_EQ(PartDefinitionCount, 3u);
    const FlashDeviceRecord& a = PartDefinitions[0];
    EXPECT_STREQ(a.Name, "PARTA");
    EXPECT_EQ(a.DeviceId, 0x123456u);
    EXPECT_EQ(a.IdInfo, 0x80000000u | (3u << 29));
    EXPECT_EQ(a.Size, 1048576u);
    EXPECT_EQ(a.EraseBlockSize, 4096u);
    EXPECT_EQ(a.EraseOpcode, 0x20);
    EXPECT_EQ(a.WriteGranularity, 1);
    EXPECT_EQ(a.ChipEraseOpcode, 0x60);
    const FlashDeviceRecord& b = PartDefinitions[1];
    EXPECT_EQ(b.IdInfo, 0x80000000u | (2u << 29));
    EXPECT_EQ(b.EraseOpcode, -1);
    EXPECT_EQ(b.ChipEraseOpcode, -1);
    const FlashDeviceRecord& c = PartDefinitions[2];
    EXPECT_EQ(c.EraseOpcode, 0);  // never reached: counts as opcode 0x00
    EXPECT_EQ(c.WriteGranularity, 0);
    EXPECT_EQ(c.ChipEraseOpcode, 0);
}

TEST_F(PartFile, NumbersReadTheSameWithAnyWidthOfLong) {
    ASSERT_EQ(Load("N1, 0x1FFFFFFFF, -8, 010, 99999999999, 0x140, 0, -99999999999\n"
                   "N2, -1, 0x, 0x10zz, 0x12345, 0, 0, 0x7FFF\n"
                   ", 12abc\n"),
              0);
    ASSERT_EQ(PartDefinitionCount, 3u);
    const FlashDeviceRecord& n1 = PartDefinitions[0];
    EXPECT_EQ(n1.DeviceId, 0xFFFFFFFFu);   // saturated
    EXPECT_EQ(n1.Size, (0u - 8u) >> 3);    // "-" negates modulo 2^32
    EXPECT_EQ(n1.EraseBlockSize, 8u);      // octal
    EXPECT_EQ(n1.EraseOpcode, -1);         // 2147483647 cut to 16 bits
    EXPECT_EQ(n1.WriteGranularity, 0x40);  // low 8 bits
    EXPECT_EQ(n1.ChipEraseOpcode, 0);      // -2147483648 cut to 16 bits
    const FlashDeviceRecord& n2 = PartDefinitions[1];
    EXPECT_EQ(n2.DeviceId, 0xFFFFFFFFu);
    EXPECT_EQ(n2.Size, 0u);               // no hex digit after "0x"
    EXPECT_EQ(n2.EraseBlockSize, 0x10u);  // stops at the first non-digit
    EXPECT_EQ(n2.EraseOpcode, 0x2345);
    EXPECT_EQ(n2.ChipEraseOpcode, 0x7FFF);
    EXPECT_STREQ(PartDefinitions[2].Name, "");
    EXPECT_EQ(PartDefinitions[2].DeviceId, 12u);
}

TEST_F(PartFile, LayoutDoesNotMatter) {
    const std::string unix =
        "; parts\n"
        "W25X32, 0xEF3016, 0x2000000, 0x1000, 0x20, 64, 0, 0xC7\n"
        "\n"
        " ;ODD NAME, 0x2541, 0x800000, 0x1000, 0x20, 1, 0, -1\n"
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789, 0x1, 0x80000, 4096, 0x20, 64, 0, 0x60\n"
        "DENSE,0x10203,0x80000,0x1000,0xD8,64,0,0xC7\n"
        "LAST, 0x1234, 0x80000, 0x1000, 0x20, 64, 0, 0x60";  // no newline
    std::string dos;
    for (char c : unix) {
        if (c == '\n') {
            dos += '\r';
        }
        dos += c;
    }
    for (const std::string& text : {unix, dos}) {
        ASSERT_EQ(Load(text), 0);
        ASSERT_EQ(PartDefinitionCount, 5u);
        EXPECT_STREQ(PartDefinitions[0].Name, "W25X32");
        EXPECT_EQ(PartDefinitions[0].ChipEraseOpcode, 0xC7);
        EXPECT_STREQ(PartDefinitions[1].Name, ";ODDNAME");
        EXPECT_STREQ(PartDefinitions[2].Name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
        EXPECT_EQ(PartDefinitions[2].DeviceId, 1u);
        EXPECT_EQ(PartDefinitions[3].ChipEraseOpcode, 0xC7);  // the last field of a dense line
        EXPECT_STREQ(PartDefinitions[4].Name, "LAST");
        EXPECT_EQ(PartDefinitions[4].ChipEraseOpcode, 0x60);
    }
}

TEST_F(PartFile, NothingButCommentsAndBlanks) {
    ASSERT_EQ(Load("; only\n\n   \t\n;comments\r\n"), 0);
    EXPECT_EQ(PartDefinitionCount, 0u);
    ASSERT_EQ(Load(""), 0);
    EXPECT_EQ(PartDefinitionCount, 0u);
}

TEST_F(PartFile, ALoadReplacesTheEarlierList) {
    ASSERT_EQ(Load("A, 1\nB, 2\nC, 3\n"), 0);
    ASSERT_EQ(Load("D, 4\n"), 0);
    ASSERT_EQ(PartDefinitionCount, 1u);
    EXPECT_STREQ(PartDefinitions[0].Name, "D");
}

TEST_F(PartFile, ManyParts) {
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "P" + std::to_string(i) + ",0x" + std::to_string(100000 + i) + "\n";
    }
    ASSERT_EQ(Load(text), 0);
    ASSERT_EQ(PartDefinitionCount, 5000u);
    EXPECT_STREQ(PartDefinitions[4999].Name, "P4999");
    ReleasePartDefinitions();
    EXPECT_EQ(PartDefinitions, nullptr);
    EXPECT_EQ(PartDefinitionCount, 0u);
}

TEST_F(PartFile, OpenFailures) {
    EXPECT_EQ(SpiLoadDevicesFile((dir_ / "missing.txt").c_str()), kPartFileNotFound);
    // A folder is no part file; errno tells the caller why.
    EXPECT_EQ(SpiLoadDevicesFile(dir_.path().c_str()), kPartFileOpenFailed);
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(PartFile, AccessDenied) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not stop root";
    }
    const std::string path = dir_ / "locked.txt";
    testsupport::WriteFileText(path, "A, 1\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    EXPECT_EQ(SpiLoadDevicesFile(path.c_str()), kPartFileAccessDenied);
}

}  // namespace
