// Dumping flash (/d): the screen page view with its rows and page prompt,
// the range past the end of the flash with yes and no answers, the start past
// the end (refused before anything is read), an empty range, and an output
// file that cannot be created.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/kelvor_ops/ops_run.h"

namespace opstest {
namespace {

using testsupport::ProcessResult;

using Dump = OpsRun;

const char kComplete[] = "\nMemory Dump Complete\n";
const char kPagePrompt[] = "\nPress ENTER to view next page (or 'q' to exit): ";

// Twenty bytes on the screen: one page of two rows, the second short; every
// name spelling of the screen; under /q the rows alone.
TEST_F(Dump, TwentyBytesOnTheScreen) {
    UseBoard("default");
    std::vector<uint8_t> flash = Fresh();
    const uint8_t bytes[20] = {0x00, 0x20, 0x2F, 0x30, 0x39, 0x41, 0x5A, 0x61, 0x7A, 0x7E,
                               0x7F, 0x80, 0xFF, 0x21, 0x2E, 0x40, 0x5C, 0x3A, 0x10, 0x55};
    std::copy(bytes, bytes + sizeof bytes, flash.begin() + 0x200000);
    SetFlash(flash);
    const std::string rows =
        "0x200000 | 00 20 2F 30 39 41 5A 61-7A 7E 7F 80 FF 21 2E 40 | ...09AZaz~.....@\n"
        "0x200010 | 5C 3A 10 55 | \\:.U\n";
    for (const char* name : {"STDOUT", "stdout", "Stdout"}) {
        SCOPED_TRACE(name);
        const ProcessResult r = Run({std::string("/d:") + name, "/address:0x200000", "/length:20"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(AfterBringUp(r.out),
                  ReadLines("Reading", 0x200000, 20) + "\n" + "\n" + rows + kComplete);
        EXPECT_FALSE(testsupport::FileExists(Path(name)));
    }
    const ProcessResult r = Run({"/d:stdout", "/address:0x200000", "/length:20", "/q"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\n" + rows);
}

// Six pages of erased flash: "q" stops after the first page, and each
// character of "abc" and the ENTER after them shows one more page.
TEST_F(Dump, PagePrompt) {
    UseBoard("default");
    std::string pages[6];
    for (uint32_t page = 0; page < 6; ++page) {
        pages[page] = "\n";
        for (uint32_t row = 0; row < 16; ++row) {
            pages[page] += Format(
                "0x%06X | FF FF FF FF FF FF FF FF-FF FF FF FF FF FF FF FF | ................\n",
                0x200000 + page * 256 + row * 16);
        }
    }
    const std::string head = ReadLines("Reading", 0x200000, 0x600) + "\n";
    const struct {
        const char* Input;
        int Shown;
    } cases[] = {{"q\n", 1}, {"abc\nq\n", 5}, {"", 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Input);
        const ProcessResult r = Run({"/d:STDOUT", "/address:0x200000", "/length:0x600"}, c.Input);
        EXPECT_EQ(r.exitCode, 0);
        std::string expected = head;
        for (int page = 0; page < c.Shown; ++page) {
            expected += pages[page];
            if (page < 5) {
                expected += kPagePrompt;
            }
        }
        EXPECT_EQ(AfterBringUp(r.out), expected + kComplete);
    }
}

struct RangeCase {
    const char* Name;
    const char* Board;
    std::vector<std::string> Args;
    const char* Input;
    int Exit;
    std::string Tail;
    uint32_t DumpedFrom;
    int64_t DumpedLength;  // -1: no file
};

TEST_F(Dump, Ranges) {
    const std::string pastEnd =
        "\n>>> Warning: The length of data to read from flash extends past the end of flash "
        "memory!\n\tStart Address: 0x003FF000\n\tRead Length: 8192\n\tTotal Flash Size: "
        "4096KB\n\nDo you want to truncate the data and continue (Y/N): ";
    const std::string beyond =
        "\n>>> Error: An attempt was made to read beyond the end of flash memory!\n\tAddress "
        "0x%08X, Length %d\n\n";
    const std::string written = "Writing flash contents to file \"out.bin\"...\n";
    const RangeCase cases[] = {
        // Without a descriptor the main sequence lets a range past the end
        // through to the operation.
        {"past the end, yes",
         "blank",
         {"/address:0x3FF000", "/length:0x2000"},
         "y\n",
         0,
         pastEnd + ReadLines("Reading", 0x3FF000, 0x1000) + "\n" + written + kComplete,
         0x3FF000,
         0x1000},
        {"past the end, no",
         "blank",
         {"/address:0x3FF000", "/length:0x2000"},
         "n\n",
         301,
         pastEnd,
         0,
         -1},
        {"start past the end",
         "blank",
         {"/address:0x400001"},
         "",
         303,
         Format(beyond.c_str(), 0x400001, 0),
         0,
         -1},
        // 0xFFFFFFF0 + 0x20 wraps to 0x10 in 32 bits.
        {"range across 4 GB",
         "blank",
         {"/address:0xFFFFFFF0", "/length:0x20"},
         "",
         303,
         Format(beyond.c_str(), 0xFFFFFFF0, 32),
         0,
         -1},
        {"start at the end",
         "blank",
         {"/address:0x400000"},
         "",
         0,
         "\n\n" + written + kComplete,
         0x400000,
         0},
        {"empty range",
         "default",
         {"/address:0x200000", "/length:0"},
         "",
         0,
         "\n\n" + written + kComplete,
         0x200000,
         0},
    };
    std::string board;
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (board != c.Board) {
            board = c.Board;
            UseBoard(board);
            SetFlash(PatternBytes(kFourMb, 10));
        }
        std::remove(Path("out.bin").c_str());
        std::vector<std::string> args = {"/d:out.bin"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const ProcessResult r = Run(args, c.Input);
        EXPECT_EQ(ShellExit(r.exitCode), ShellExit(c.Exit));
        EXPECT_EQ(AfterBringUp(r.out), c.Tail);
        if (c.DumpedLength < 0) {
            EXPECT_FALSE(testsupport::FileExists(Path("out.bin")));
        } else {
            const std::vector<uint8_t> flash = Flash();
            EXPECT_TRUE(testsupport::ReadFileBytes(Path("out.bin")) ==
                        std::vector<uint8_t>(flash.begin() + c.DumpedFrom,
                                             flash.begin() + c.DumpedFrom + c.DumpedLength));
            EXPECT_TRUE(testsupport::FileExists(Path("out.bin")));
        }
    }
}

// The flash is read whole before the file is created; a folder that is not
// there is reported with the system's error number.
TEST_F(Dump, OutputFileNotCreated) {
    UseBoard("default");
    const ProcessResult r = Run({"/d:nowhere/out.bin", "/address:0x200000", "/length:0x40"});
    EXPECT_EQ(ShellExit(r.exitCode), ShellExit(307));
    EXPECT_EQ(AfterBringUp(r.out),
              ReadLines("Reading", 0x200000, 0x40) +
                  "\nWriting flash contents to file \"nowhere/out.bin\"...\n\n>>> Error: An "
                  "unknown error occurred while opening/creating the file \"nowhere/out.bin\"! "
                  "errno = 2.\n\n");
}

}  // namespace
}  // namespace opstest
