// Verifying flash against a file (/v): the mismatch report, the start
// address outside the flash, the file against the range with yes and no
// answers, and the default board's ME region, which the host may not read,
// as each operation and the main sequence refuse it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/kelvor_ops/ops_run.h"

namespace opstest {
namespace {

using testsupport::ProcessResult;

using Verify = OpsRun;

// The progress lines of a verify of `length` bytes from `start` up to the
// block that ends at `stop`.
std::string VerifiedUpTo(uint32_t start, uint32_t length, uint32_t stop) {
    std::string text = ReadLines("Verifying", start, length);
    const std::string last = Format("[0x%06X]", stop);
    return text.substr(0, text.find('\r', text.find(last)) + 1);
}

// A difference at 0x1005 is reported with the first five bytes of its
// 64-byte block, flash byte first; under /q only the verdict is shown.
TEST_F(Verify, MismatchListsTheStartOfTheBlock) {
    UseBoard("default");
    std::vector<uint8_t> flash = Fresh();
    const uint8_t head[] = {0xAB, 0x80, 0xFF, 0x00, 0x7F, 0x12};
    std::copy(head, head + sizeof head, flash.begin() + 0x1000);
    SetFlash(flash);
    std::vector<uint8_t> file(flash.begin(), flash.begin() + 0x2000);
    file[0x1005] = 0x13;
    WriteFile("f.bin", file);
    const std::string verdict = "\nRESULT: Data does not match!\n";
    ProcessResult r = Run({"/v:f.bin", "/length:0x2000"});
    EXPECT_EQ(r.exitCode, 212);
    EXPECT_EQ(AfterBringUp(r.out), ReadingFile("f.bin") + VerifiedUpTo(0, 0x2000, 0x1000) +
                                       verdict +
                                       "\t0x00001000: 0xAB - 0xAB\n\t0x00001001: 0x80 - 0x80\n"
                                       "\t0x00001002: 0xFF - 0xFF\n\t0x00001003: 0x00 - 0x00\n"
                                       "\t0x00001004: 0x7F - 0x7F\n");
    r = Run({"/v:f.bin", "/length:0x2000", "/q"});
    EXPECT_EQ(r.exitCode, 212);
    EXPECT_EQ(r.out, "\n" + verdict);
}

std::string LongerWarning(uint32_t file, uint32_t length) {
    return Format(
        "\n>>> Warning: Not all of the file data will be compared to flash because the file is "
        "longer than the flash area to verify!\n\tFile: \"f.bin\"\n\tFile Length: %u\n\tVerify "
        "Length: %u\n\nDo you want to continue (Y/N): ",
        file, length);
}

std::string ShorterWarning(uint32_t file, uint32_t length) {
    return Format(
        "\n>>> Warning: The file does not contain enough data to completely compare with the "
        "target flash area!\n\tFile: \"f.bin\"\n\tFile Length: %u\n\tVerify Length: %u\n\nDo you "
        "want to truncate the verify range and continue (Y/N): ",
        file, length);
}

struct RangeCase {
    const char* Name;
    const char* Board;
    std::vector<std::string> Args;
    uint32_t FileSize;
    const char* Input;
    int Exit;
    std::string Tail;  // after "Reading file ..."
};

// The file is the flash's own bytes from the start address on, so every run
// that gets to compare finds them identical.
TEST_F(Verify, FileAgainstRange) {
    const std::string identical = "\nRESULT: The data is identical.\n";
    const std::string pastEnd =
        "\n>>> Warning: The length of data to compare with flash extends past the end of flash "
        "memory!\n\tStart Address: 0x003FF000\n\tWrite Length: 8192\n\tTotal Flash Size: "
        "4096KB\n\nDo you want to truncate the data and continue (Y/N): ";
    const std::string outside =
        "\n>>> Error: The address specified is outside the boundaries of flash area\n\tFlash "
        "Address: 0x%08X\n\tTotal Flash Size: 0x00400000\n";
    const RangeCase cases[] = {
        {"start past the end",
         "default",
         {"/address:0x400001"},
         0x1000,
         "",
         213,
         Format(outside.c_str(), 0x400001)},
        {"start at 2 GB",
         "default",
         {"/address:0x80000000"},
         0x1000,
         "",
         213,
         Format(outside.c_str(), 0x80000000)},
        {"start at the end",
         "default",
         {"/address:0x400000"},
         0x1000,
         "y\n",
         0,
         LongerWarning(0x1000, 0) + "\n" + identical},
        {"longer, yes",
         "default",
         {"/address:0x3FF000"},
         0x2000,
         "y\n",
         0,
         LongerWarning(0x2000, 0x1000) + ReadLines("Verifying", 0x3FF000, 0x1000) + identical},
        {"longer, no",
         "default",
         {"/address:0x3FF000"},
         0x2000,
         "n\n",
         204,
         LongerWarning(0x2000, 0x1000)},
        {"shorter, yes",
         "default",
         {"/address:0x3FF000"},
         0x800,
         "y\n",
         0,
         ShorterWarning(0x800, 0x1000) + ReadLines("Verifying", 0x3FF000, 0x800) + identical},
        {"shorter, no",
         "default",
         {"/address:0x3FF000"},
         0x800,
         "n\n",
         205,
         ShorterWarning(0x800, 0x1000)},
        // Only without a descriptor does a range past the end get by the
        // main sequence's access check.
        {"past the end, yes",
         "blank",
         {"/address:0x3FF000", "/length:0x2000"},
         0x2000,
         "y\n",
         0,
         pastEnd + ReadLines("Verifying", 0x3FF000, 0x1000) + identical},
        {"past the end, no",
         "blank",
         {"/address:0x3FF000", "/length:0x2000"},
         0x2000,
         "n\n",
         206,
         pastEnd},
    };
    std::string board;
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (board != c.Board) {
            board = c.Board;
            UseBoard(board);
            std::vector<uint8_t> flash = Fresh();
            const std::vector<uint8_t> top = PatternBytes(0x1000, 8);
            std::copy(top.begin(), top.end(), flash.end() - 0x1000);
            SetFlash(flash);
        }
        std::vector<uint8_t> file = PatternBytes(c.FileSize, 9);
        const std::vector<uint8_t> flash = Flash();
        std::copy(flash.end() - 0x1000,
                  flash.end() - 0x1000 + std::min<uint32_t>(c.FileSize, 0x1000), file.begin());
        WriteFile("f.bin", file);
        std::vector<std::string> args = {"/v:f.bin"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const ProcessResult r = Run(args, c.Input);
        EXPECT_EQ(r.exitCode, c.Exit);
        EXPECT_EQ(AfterBringUp(r.out), ReadingFile("f.bin") + c.Tail);
    }
}

// The host may not read the default board's ME region (0x3000 to
// 0x1FFFFF): each operation that reads it refuses with its own code, and the
// main sequence refuses a range it is given before the operation starts.
TEST_F(Verify, MeRegionReadDenied) {
    const char* const mainRefusal =
        "\n>>> Error: The host CPU does not have read access to the target flash area!\n\n";
    const struct {
        std::vector<std::string> Args;
        int Exit;
        std::string Tail;
    } cases[] = {
        {{"/b"},
         600,
         "\n>>> Error: The host CPU does not have read access to the entire flash area!\n\n"},
        {{"/v:f.bin"}, 207, ReadingFile("f.bin") + mainRefusal},
        {{"/d:out.bin"}, 302, mainRefusal},
        {{"/v:f.bin", "/me"}, 11, mainRefusal},
        {{"/d:out.bin", "/me"}, 11, mainRefusal},
        {{"/d:out.bin", "/address:0x1000", "/length:0x3000"}, 11, mainRefusal},
    };
    UseBoard("default");
    WriteFile("f.bin", Fresh());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args.back());
        const ProcessResult r = Run(c.Args);
        EXPECT_EQ(ShellExit(r.exitCode), ShellExit(c.Exit));
        EXPECT_EQ(AfterBringUp(r.out), c.Tail);
        EXPECT_FALSE(testsupport::FileExists(Path("out.bin")));
    }
}

}  // namespace
}  // namespace opstest
