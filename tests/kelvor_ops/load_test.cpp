// Loading files into flash (/f) on the shipped boards: the whole-flash round
// trip, the region options with and without the BIOS write-enable step, the
// file against the range with yes and no answers, /e, the refusals before any
// erase, and /q with /y. Each run is judged by its output after the bring-up,
// its exit code and the board's flash image afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/kelvor_ops/ops_run.h"
#include "tests/kelvor_spi/board_session.h"

namespace opstest {
namespace {

using testsupport::ProcessResult;

using Load = OpsRun;

std::vector<uint8_t> Placed(std::vector<uint8_t> flash, uint32_t at,
                            const std::vector<uint8_t>& data, size_t count) {
    std::copy(data.begin(), data.begin() + static_cast<long>(count), flash.begin() + at);
    return flash;
}

// A 4 MB image (keeping the board's descriptor) written, verified and dumped
// again: the flash file and the dump both equal the image.
TEST_F(Load, WholeFlashRoundTrip) {
    UseBoard("whole-flash");
    std::vector<uint8_t> image = PatternBytes(kFourMb, 1);
    std::copy(Fresh().begin(), Fresh().begin() + 0x1000, image.begin());
    WriteFile("image.bin", image);

    ProcessResult r = Run({"/f:image.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(AfterBringUp(r.out), BiosUnlock() + ReadingFile("image.bin") + Loaded(0, kFourMb));
    EXPECT_TRUE(Flash() == image);

    r = Run({"/v:image.bin"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(AfterBringUp(r.out), ReadingFile("image.bin") + ReadLines("Verifying", 0, kFourMb) +
                                       "\nRESULT: The data is identical.\n");

    r = Run({"/d:dump.bin"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(AfterBringUp(r.out), ReadLines("Reading", 0, kFourMb) +
                                       "\nWriting flash contents to file \"dump.bin\"...\n"
                                       "\nMemory Dump Complete\n");
    EXPECT_TRUE(testsupport::ReadFileBytes(Path("dump.bin")) == image);
}

const char kNoWriteAccess[] =
    "\n>>> Error: The host CPU does not have write access to the target flash area!\n\n";

struct RegionWrite {
    const char* Name;
    const char* Board;
    std::vector<std::string> Args;
    uint32_t FileSize;
    int Exit;
    std::string Tail;   // after the bring-up
    int64_t WrittenAt;  // -1: the flash stays as it was
};

// The region options: /desc, /me and /gbe leave the BIOS write protection
// alone, /bios and a plain address lift it first, and a chipset that refuses
// that ends the run with 11 before the file is read.
TEST_F(Load, RegionWrites) {
    const std::string refused =
        "Reading LPC BC register... 0x00000002\nBIOS space write protection is enabled\n"
        "Disabling BIOS space write protection\n\n>>> Error: Failed to disable write protection "
        "for the BIOS space! Unable to perform write operation!\n";
    const RegionWrite cases[] = {
        {"gbe",
         "default",
         {"/gbe"},
         0x2000,
         0,
         ReadingFile("f.bin") + Loaded(0x1000, 0x2000),
         0x1000},
        {"bios",
         "default",
         {"/bios"},
         0x200000,
         0,
         BiosUnlock() + ReadingFile("f.bin") + Loaded(0x200000, 0x200000),
         0x200000},
        {"desc not granted",
         "default",
         {"/desc"},
         0x1000,
         108,
         ReadingFile("f.bin") + kNoWriteAccess,
         -1},
        {"me not granted",
         "default",
         {"/me", "/length:0x1000"},
         0x1000,
         108,
         ReadingFile("f.bin") + kNoWriteAccess,
         -1},
        {"desc granted",
         "whole-flash",
         {"/desc"},
         0x1000,
         0,
         ReadingFile("f.bin") + Loaded(0, 0x1000),
         0},
        {"bios, write enable refused", "bios-write-refused", {"/bios"}, 0x1000, 11, refused, -1},
        {"address in gbe, write enable refused",
         "bios-write-refused",
         {"/address:0x1000"},
         0x1000,
         11,
         refused,
         -1},
        {"gbe, write enable refused",
         "bios-write-refused",
         {"/gbe"},
         0x2000,
         0,
         ReadingFile("f.bin") + Loaded(0x1000, 0x2000),
         0x1000},
    };
    for (const RegionWrite& c : cases) {
        SCOPED_TRACE(c.Name);
        UseBoard(c.Board);
        std::vector<uint8_t> file = PatternBytes(c.FileSize, 2);
        if (std::string(c.Board) == "whole-flash") {
            // A descriptor that stays valid, changed where no field lies.
            file.assign(Fresh().begin(), Fresh().begin() + c.FileSize);
            file[0xF00] = 0x5A;
        }
        WriteFile("f.bin", file);
        std::vector<std::string> args = {"/f:f.bin"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const ProcessResult r = Run(args);
        EXPECT_EQ(ShellExit(r.exitCode), ShellExit(c.Exit)) << r.out;
        EXPECT_EQ(AfterBringUp(r.out), c.Tail);
        const std::vector<uint8_t> expected =
            c.WrittenAt < 0
                ? Fresh()
                : Placed(Fresh(), static_cast<uint32_t>(c.WrittenAt), file, file.size());
        EXPECT_TRUE(Flash() == expected);
    }
}

std::string LongerWarning(uint32_t file, uint32_t length) {
    return Format(
        "\n>>> Warning: Not all of the file data will be written to flash because the file is "
        "longer than the flash area to write!\n\tFile: \"f.bin\"\n\tFile Length: %u\n\tWrite "
        "Length: %u\n\nDo you want to continue (Y/N): ",
        file, length);
}

std::string ShorterWarning(uint32_t file, uint32_t length) {
    return Format(
        "\n>>> Warning: The file does not contain enough data to completely fill the target write "
        "area!\nContinuing will truncate the the Write Length to the File Length!\n\tFile: "
        "\"f.bin\"\n\tFile Length: %u\n\tWrite Length: %u\n\nDo you want to continue (Y/N): ",
        file, length);
}

struct RangeCase {
    const char* Name;
    std::vector<std::string> Args;
    uint32_t FileSize;
    const char* Input;
    int Exit;
    std::string Tail;
    uint32_t WrittenAt;
    uint32_t WrittenLength;  // 0: the flash stays as it was
};

// The file longer or shorter than the range, and a range past the end of the
// flash, answered yes and no (the GbE region of the default board is 8 KB at
// 0x1000).
TEST_F(Load, FileAgainstRange) {
    const std::string pastEnd =
        "\n>>> Warning: The length of data to write to flash extends past the end of flash "
        "memory!\n\tStart Address: 0x003FF000\n\tWrite Length: 8192\n\tTotal Flash Size: "
        "4096KB\n\nDo you want to truncate the data and continue (Y/N): ";
    const std::string head = ReadingFile("f.bin");
    const RangeCase cases[] = {
        {"longer, yes",
         {"/gbe"},
         0x3000,
         "y\n",
         0,
         head + LongerWarning(0x3000, 0x2000) + Loaded(0x1000, 0x2000),
         0x1000,
         0x2000},
        {"longer, no", {"/gbe"}, 0x3000, "n\n", 104, head + LongerWarning(0x3000, 0x2000), 0, 0},
        {"longer, /y",
         {"/gbe", "/y"},
         0x3000,
         "",
         0,
         head + LongerWarning(0x3000, 0x2000) + "Y\n" + Loaded(0x1000, 0x2000),
         0x1000,
         0x2000},
        {"shorter, yes",
         {"/gbe"},
         0x1000,
         "Y\n",
         0,
         head + ShorterWarning(0x1000, 0x2000) + Loaded(0x1000, 0x1000),
         0x1000,
         0x1000},
        {"shorter, no",
         {"/gbe"},
         0x1000,
         "yes\n",
         105,
         head + ShorterWarning(0x1000, 0x2000),
         0,
         0},
        {"shorter, not whole blocks",
         {"/gbe"},
         0x1800,
         "y\n",
         110,
         head + ShorterWarning(0x1800, 0x2000) +
             "\n>>> Error: Cannot erase flash because the write length is not a multiple of the "
             "block erase size!\nBlock Erase Size: 4096 bytes\n\n",
         0,
         0},
        {"past the end, yes",
         {"/address:0x3FF000"},
         0x2000,
         "y\n",
         0,
         BiosUnlock() + head + pastEnd + Loaded(0x3FF000, 0x1000),
         0x3FF000,
         0x1000},
        {"past the end, no",
         {"/address:0x3FF000"},
         0x2000,
         "n\n",
         106,
         BiosUnlock() + head + pastEnd,
         0,
         0},
    };
    UseBoard("default");
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.Name);
        SetFlash(Fresh());
        const std::vector<uint8_t> file = PatternBytes(c.FileSize, 3);
        WriteFile("f.bin", file);
        std::vector<std::string> args = {"/f:f.bin"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const ProcessResult r = Run(args, c.Input);
        EXPECT_EQ(ShellExit(r.exitCode), c.Exit);
        EXPECT_EQ(AfterBringUp(r.out), c.Tail);
        EXPECT_TRUE(Flash() == Placed(Fresh(), c.WrittenAt, file, c.WrittenLength));
    }
}

// /e: no erase, no erase-block alignment, the data programmed over what the
// flash held (a program only clears bits).
TEST_F(Load, EraseSkipped) {
    UseBoard("default");
    std::vector<uint8_t> flash = Fresh();
    const std::vector<uint8_t> old = PatternBytes(0x1000, 4);
    std::copy(old.begin(), old.end(), flash.begin() + 0x200000);
    SetFlash(flash);
    const std::vector<uint8_t> file = PatternBytes(0x100, 5);
    WriteFile("f.bin", file);
    const ProcessResult r = Run({"/f:f.bin", "/address:0x200100", "/e"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(AfterBringUp(r.out), BiosUnlock() + ReadingFile("f.bin") + "\n- Erase SKIPPED\n" +
                                       ProgramLines(0x200100, 0x100) + "\nWrite Complete\n");
    for (size_t i = 0; i < file.size(); ++i) {
        flash[0x200100 + i] &= file[i];
    }
    EXPECT_TRUE(Flash() == flash);
}

struct Refusal {
    const char* Name;
    std::vector<std::string> Args;
    uint32_t FileSize;
    int Exit;
    std::string Message;  // after the file has been read
};

// Lengths and addresses refused before anything is erased, the file that is
// not there, and a start at or past the end of the flash, which is refused
// instead of writing nothing and reporting the write complete.
TEST_F(Load, RefusedBeforeAnyErase) {
    const Refusal cases[] = {
        {"length not whole write units",
         {"/address:0x200000"},
         4097,
         107,
         "\n>>> Error: The data length is not a multiple of the flash write granularity!\n\tWrite "
         "Granularity: 64\n\tData Length: 4097\n\n"},
        {"start not on an erase block",
         {"/address:0x200100"},
         0x1000,
         109,
         "\n>>> Error: Cannot erase flash because the start address is not a multiple of the "
         "block erase size!\nBlock Erase Size: 4096 bytes\n\n"},
        {"length not whole erase blocks",
         {"/address:0x200000"},
         0x1040,
         110,
         "\n>>> Error: Cannot erase flash because the write length is not a multiple of the "
         "block erase size!\nBlock Erase Size: 4096 bytes\n\n"},
        {"no write access (ME)", {"/address:0x3000"}, 0x1000, 108, kNoWriteAccess},
        {"start at the end",
         {"/address:0x400000"},
         0x1000,
         117,
         "\n>>> Error: An attempt was made to write beyond the end of flash memory!\n\tAddress "
         "0x00400000, Length 4096\n\n"},
        {"start past the end",
         {"/address:0x500000"},
         0,
         117,
         "\n>>> Error: An attempt was made to write beyond the end of flash memory!\n\tAddress "
         "0x00500000, Length 0\n\n"},
        // 0xFFFFF000 + 0x2000 wraps to 0x1000 in 32 bits.
        {"range across 4 GB",
         {"/address:0xFFFFF000", "/length:0x2000"},
         0x2000,
         117,
         "\n>>> Error: An attempt was made to write beyond the end of flash memory!\n\tAddress "
         "0xFFFFF000, Length 8192\n\n"},
    };
    UseBoard("default");
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.Name);
        SetFlash(Fresh());
        WriteFile("f.bin", PatternBytes(c.FileSize, 6));
        std::vector<std::string> args = {"/f:f.bin"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const ProcessResult r = Run(args);
        EXPECT_EQ(ShellExit(r.exitCode), ShellExit(c.Exit));
        EXPECT_EQ(AfterBringUp(r.out), BiosUnlock() + ReadingFile("f.bin") + c.Message);
        EXPECT_TRUE(Flash() == Fresh());
    }
}

TEST_F(Load, FileOrPartMissing) {
    UseBoard("default");
    ProcessResult r = Run({"/f:missing.bin", "/gbe"});
    EXPECT_EQ(r.exitCode, 101);
    EXPECT_EQ(AfterBringUp(r.out), "\n>>> Error: Could not find the file \"missing.bin\"!\n\n");
    // No part answers a read-ID command: the records come from the
    // descriptor and are not marked identified, so the file is not even
    // opened.
    UseBoard("locked-menu-no-readid");
    r = Run({"/f:missing.bin", "/gbe"});
    EXPECT_EQ(r.exitCode, 100);
    EXPECT_EQ(AfterBringUp(r.out),
              "\n>>> Error: Failed to get information about the installed flash devices!\n\n");
}

// Under /q only the questions and their answers reach the screen.
TEST_F(Load, QuietAndUnprompted) {
    const struct {
        std::vector<std::string> Args;
        const char* Input;
        int Exit;
        const char* Out;
    } cases[] = {
        {{"/q", "/y", "/gbe"}, "", 0, "\nDo you want to continue (Y/N): Y\n"},
        {{"/q", "/gbe"}, "n\n", 104, "\nDo you want to continue (Y/N): "},
        {{"/q", "/address:0x200100"}, "", 109, "\n"},
    };
    UseBoard("default");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args[1]);
        SetFlash(Fresh());
        const std::vector<uint8_t> file = PatternBytes(0x3000, 7);
        WriteFile("f.bin", file);
        std::vector<std::string> args = {"/f:f.bin"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const ProcessResult r = Run(args, c.Input);
        EXPECT_EQ(ShellExit(r.exitCode), c.Exit);
        EXPECT_EQ(r.out, c.Out);
        EXPECT_TRUE(Flash() == (c.Exit == 0 ? Placed(Fresh(), 0x1000, file, 0x2000) : Fresh()));
    }
}

}  // namespace
}  // namespace opstest
