// The built kelvor program on the virtual board: bring-up on every shipped
// board, the whole-flash erase judged by the board's image files, the
// library's failures as kelvor reports them, and the Windows build under
// wine. (Exit codes above 255 would come out modulo 256 here; the codes of
// these runs are all below.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/kelvor_spi/board_session.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using nlohmann::json;
using testsupport::ProcessOptions;
using testsupport::ProcessResult;
using testsupport::RunProcess;

constexpr size_t kFourMb = 4u * 1024 * 1024;

std::string TestDirName() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kelvor_run-") + info->test_suite_name() + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

// One folder per test with a board file, a part list and the board's files.
class KelvorRun : public testing::Test {
  protected:
    // `board` null: the built-in default board (no RAVOACC_BOARD).
    void UseBoard(const json& board, const std::string& parts = spitest::ShippedPartList()) {
        board_ = board;
        if (!board.is_null()) {
            json withLog = board;
            withLog["log"] = {{"file", "cycles.jsonl"}};
            testsupport::WriteFileText(dir_ / "board.json", withLog.dump(2));
        }
        testsupport::WriteFileText(dir_ / "chipdefs.txt", parts);
    }

    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "") {
        std::vector<std::string> argv = {testsupport::BinDir() + "/kelvor"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProcess(argv, Options(input));
    }

    ProcessOptions Options(const std::string& input) const {
        ProcessOptions options;
        options.workDir = dir_.path();
        options.input = input;
        options.unsetEnv = {"SPIBOARD_LOG"};
        if (board_.is_null()) {
            options.unsetEnv.push_back("RAVOACC_BOARD");
        } else {
            options.env = {{"RAVOACC_BOARD", dir_ / "board.json"}};
        }
        return options;
    }

    std::vector<uint8_t> Image(const std::string& name = "ravo-default-flash.bin") const {
        return testsupport::ReadFileBytes(dir_ / name);
    }

    // Kinds of the cycles in the board's log of the last run.
    std::vector<std::string> CycleKinds(const std::string& seq) const {
        std::vector<std::string> kinds;
        std::istringstream log(testsupport::ReadFileText(dir_ / "cycles.jsonl"));
        std::string line;
        while (std::getline(log, line)) {
            const json entry = json::parse(line);
            if (entry.contains("seq") && entry.contains("op") && entry["seq"] == seq) {
                kinds.push_back(entry["kind"].get<std::string>());
            }
        }
        return kinds;
    }

    testsupport::ScratchDir dir_{TestDirName()};
    json board_;
};

std::string Banner() {
    return "\n--------------------------------------------\nKelvor. Version 0.8.9\n\n";
}

std::string DefaultBringUp() {
    return Banner() +
           "Reading file \"chipdefs.txt\" into memory...\nInitializing SPI utilities\nReading "
           "HSFSTS register... Flash Descriptor: Valid\n\n\t--- Flash Devices Found ---\n"
           "\tW25X32\tID:0xEF3016\tSize: 4096KB (32768Kb)\n\nUsing software sequencing.\n";
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST_F(KelvorRun, BuiltInDefaultBoard) {
    UseBoard(nullptr);
    const ProcessResult r = Run({});
    EXPECT_EQ(r.out, DefaultBringUp());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Image().size(), kFourMb);  // the board keeps its flash in the folder it runs in
}

struct Outcome {
    int Exit;
    std::string Tail;
};

const char kLocked[] =
    "Flash program registers are locked! HSFSTS[15] (FLOCKDN)\nChecking to see if the correct "
    "commands are in the OPMENU and PREOP registers.\n";

// The end of the bring-up output of the boards known when this was written.
const std::map<std::string, Outcome> kShippedOutcomes = {
    {"default",
     {0, "\tW25X32\tID:0xEF3016\tSize: 4096KB (32768Kb)\n\nUsing software sequencing.\n"}},
    {"locked",
     {0, std::string("\tW25X32\tID:0xEF3016\tSize: 4096KB (32768Kb)\n\n") + kLocked +
             "Using software sequencing.\n"}},
    {"locked-menu-no-readid",
     {0, std::string("\tSPI command registers are locked! HSFSTS[15] (FLOCKDN).\n\n") + kLocked +
             "Using software sequencing.\n"}},
    // 0x90 answers a 2-byte ID, which the part list carries for this part.
    {"locked-menu-90-only",
     {0, std::string("\tW25X32\tID:0x00EF15\tSize: 4096KB (32768Kb)\n\n") + kLocked +
             "Using software sequencing.\n"}},
    {"two-chips",
     {0,
      "\tMX25L3205D\tID:0xC22016\tSize: 4096KB (32768Kb)\n\tMX25L6405D\tID:0xC22017\tSize: "
      "8192KB (65536Kb)\n\nUsing software sequencing.\n"}},
    {"blank",
     {0,
      "Flash Descriptor: INVALID\n\n\t--- Flash Devices Found ---\n\tW25X32\tID:0xEF3016\tSize: "
      "4096KB (32768Kb)\n\nUsing software sequencing.\n"}},
    {"whole-flash",
     {0, "\tW25Q32\tID:0xEF4016\tSize: 4096KB (32768Kb)\n\nUsing software sequencing.\n"}},
    {"block-erase-64k",
     {0, "\tS25FL032A\tID:0x010215\tSize: 4096KB (32768Kb)\n\nUsing software sequencing.\n"}},
    {"byte-program",
     {0, "\tSST25VF032B\tID:0xBF254A\tSize: 4096KB (32768Kb)\n\nUsing software sequencing.\n"}},
};

// Every shipped board comes up in the mode the table prescribes or says why
// it cannot; the boards known when this was written are checked by name.
TEST_F(KelvorRun, EveryShippedBoardBringsUp) {
    for (const std::string& name : spitest::ShippedBoardNames()) {
        SCOPED_TRACE(name);
        testsupport::ScratchDir boardDir(TestDirName() + "-" + name);
        testsupport::WriteFileText(
            boardDir / "board.json",
            testsupport::ReadFileText(testsupport::SourceDir() + "/boards/spi/boards/" + name +
                                      ".json"));
        testsupport::WriteFileText(boardDir / "chipdefs.txt", spitest::ShippedPartList());
        ProcessOptions options;
        options.workDir = boardDir.path();
        options.env = {{"RAVOACC_BOARD", boardDir / "board.json"}};
        options.unsetEnv = {"SPIBOARD_LOG"};
        const ProcessResult r = RunProcess({testsupport::BinDir() + "/kelvor"}, options);
        EXPECT_NE(r.out.find("Reading HSFSTS register... Flash Descriptor: "), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\n\t--- Flash Devices Found ---\n"), std::string::npos);
        if (r.exitCode == 0) {
            EXPECT_TRUE(EndsWith(r.out, "Using software sequencing.\n") ||
                        EndsWith(r.out, "Using hardware sequencing.\n"))
                << r.out;
        } else {
            EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
            EXPECT_TRUE(EndsWith(r.out, "!\n\n")) << r.out;
        }
        const auto known = kShippedOutcomes.find(name);
        if (known != kShippedOutcomes.end()) {
            EXPECT_EQ(r.exitCode, known->second.Exit);
            EXPECT_TRUE(EndsWith(r.out, known->second.Tail)) << r.out;
        }
    }
}

TEST_F(KelvorRun, EraseRefusedWhereTheHostMayNotWrite) {
    UseBoard(spitest::ShippedBoard());
    ASSERT_EQ(Run({}).exitCode, 0);
    const std::vector<uint8_t> before = Image();
    ASSERT_EQ(before.size(), kFourMb);
    const ProcessResult r = Run({"/c", "/y"});
    EXPECT_EQ(r.exitCode, 6);
    EXPECT_TRUE(EndsWith(r.out,
                         "\nAre you sure you want to erase the entire flash (Y/N): Y\n\n>>> Error: "
                         "The host does not have write access to the target flash memory!\n"))
        << r.out;
    EXPECT_EQ(Image(), before);
    const std::vector<std::string> kinds = CycleKinds("sw");
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "chiperase"), 0);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "erase"), 0);
}

json WholeFlashGranted() {
    json board = spitest::ShippedBoard();
    board["descriptor"]["masters"]["cpu"] = {{"id", "0x0000"}, {"read", "0xFF"}, {"write", "0xFF"}};
    return board;
}

bool AllErased(const std::vector<uint8_t>& image) {
    return std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; });
}

struct EraseRun {
    const char* Name;
    json Board;
    std::string Parts;
    const char* ImageFile;
    const char* Seq;
    const char* Kind;
    size_t Count;
};

TEST_F(KelvorRun, WholeFlashErases) {
    json hardware = WholeFlashGranted();
    hardware["controller"]["locked"] = true;
    hardware["controller"]["opmenu"] = {"0x9F", "0", "0", "0", "0", "0", "0", "0"};
    hardware["controller"]["optype"] = "0x0000";
    hardware["controller"]["preop"] = {"0x00", "0x00"};
    const std::string noChipErase = "W25X32, 0xEF3016, 0x2000000, 0x1000, 0x20, 64, 0, -1\n";
    const EraseRun runs[] = {
        {"whole-flash", spitest::ShippedBoard("whole-flash"), spitest::ShippedPartList(),
         "whole-flash-flash.bin", "sw", "chiperase", 1},
        {"blank (no descriptor)", spitest::ShippedBoard("blank"), spitest::ShippedPartList(),
         "blank-flash.bin", "sw", "chiperase", 1},
        {"block-erase-64k", spitest::ShippedBoard("block-erase-64k"), spitest::ShippedPartList(),
         "block-erase-64k-flash.bin", "sw", "chiperase", 1},
        {"part without chip erase", WholeFlashGranted(), noChipErase, "ravo-default-flash.bin",
         "sw", "erase", 1024},
        {"hardware sequencing", hardware, spitest::ShippedPartList(), "ravo-default-flash.bin",
         "hw", "erase", 1024},
    };
    for (const EraseRun& run : runs) {
        SCOPED_TRACE(run.Name);
        for (const char* file : {"ravo-default-flash.bin", "ravo-default-state.json"}) {
            std::remove((dir_ / file).c_str());
        }
        UseBoard(run.Board, run.Parts);
        // Data in every 4 KB unit (and the descriptor, if any, left in place).
        const ProcessResult first = Run({});
        ASSERT_EQ(first.exitCode, 0) << first.out;
        std::vector<uint8_t> image = Image(run.ImageFile);
        ASSERT_EQ(image.size(), kFourMb);
        for (size_t a = 0x1000; a < image.size(); a += 0x1000) {
            image[a] = 0x00;
        }
        testsupport::WriteFileBytes(dir_ / run.ImageFile, image);
        const ProcessResult r = Run({"/c", "/y"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_TRUE(EndsWith(r.out, "\nErase: SUCCESS\n")) << r.out;
        EXPECT_TRUE(AllErased(Image(run.ImageFile)));
        const std::vector<std::string> kinds = CycleKinds(run.Seq);
        EXPECT_EQ(static_cast<size_t>(std::count(kinds.begin(), kinds.end(), run.Kind)), run.Count);
    }
}

TEST_F(KelvorRun, EraseDeclinedOrUnprotectable) {
    UseBoard(WholeFlashGranted());
    ProcessResult r = Run({"/c"}, "n\n");
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_TRUE(EndsWith(r.out, "\nAre you sure you want to erase the entire flash (Y/N): "));
    UseBoard(spitest::ShippedBoard("bios-write-refused"));
    r = Run({"/c", "/y"});
    EXPECT_EQ(r.exitCode, 11);
    EXPECT_TRUE(EndsWith(r.out,
                         "Reading LPC BC register... 0x00000002\nBIOS space write protection is "
                         "enabled\nDisabling BIOS space write protection\n\n>>> Error: Failed to "
                         "disable write protection for the BIOS space! Unable to perform erase "
                         "operation!\n"))
        << r.out;
}

// The library's failures reach the user with the library's own words.
TEST_F(KelvorRun, LibraryFailures) {
    const struct {
        const char* Call;
        int Exit;
        std::string Expected;  // the end of the output
    } cases[] = {
        {"init", 1, "RAVOUtil: Error during RAVO Call: RavoInit: refused by test \n"},
        {"pci", 2,
         "RAVOUtil: Error during RAVO Call: RavoPCI: refused by test \n\n>>> Error: The Enable "
         "bit in the LPC RCBA register is not set! The value of this register cannot be used as "
         "the SPI BIOS base address.\n\n"},
        {"map_phys", 2,
         "RAVOUtil: Error during RAVO Call: RavoMapPhys: refused by test \n\n>>> Error: The SPI "
         "register block at physical address 0xFED1F020 could not be mapped! Cannot access the "
         "flash!\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Call);
        json board = spitest::ShippedBoard();
        board["faults"]["library"][c.Call] = {{"error", "refused by test"}};
        UseBoard(board);
        const ProcessResult r = Run({});
        EXPECT_EQ(r.exitCode, c.Exit);
        EXPECT_EQ(r.out, Banner() + c.Expected);
    }
}

TEST_F(KelvorRun, BoardFileProblems) {
    ProcessOptions options;
    options.workDir = dir_.path();
    options.env = {{"RAVOACC_BOARD", dir_ / "missing.json"}};
    ProcessResult r = RunProcess({testsupport::BinDir() + "/kelvor"}, options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, Banner() +
                         "RAVOUtil: Error during RAVO Call: RavoInit: cannot read the board "
                         "file \"" +
                         (dir_ / "missing.json") +
                         "\" named by RAVOACC_BOARD: No such file or directory \n");
    testsupport::WriteFileText(dir_ / "bad.json", "{\n  \"name\": \"x\",\n  \"chips\": [\n");
    options.env = {{"RAVOACC_BOARD", dir_ / "bad.json"}};
    r = RunProcess({testsupport::BinDir() + "/kelvor"}, options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("RAVOUtil: Error during RAVO Call: RavoInit: bad board file \"" +
                         (dir_ / "bad.json") + "\": "),
              std::string::npos)
        << r.out;
}

// The Windows build under wine: the CI rule of the other wine tests (skip
// when it cannot run, fail under CI=true).
class KelvorExeUnderWine : public KelvorRun {
  protected:
    void SetUp() override {
        if (!testsupport::WineTestsEnabled()) {
            GTEST_SKIP() << "wine runs are switched off in this build";
        }
        exe_ = testsupport::Win32BinDir() + "/kelvor.exe";
        std::string missing;
        if (access(exe_.c_str(), R_OK) != 0) {
            missing = exe_ + " is missing (build the win32 preset first)";
        } else if (RunProcess({"sh", "-c", "command -v wine"}).exitCode != 0) {
            missing = "wine is not on PATH, so kelvor.exe cannot be run";
        }
        if (!missing.empty()) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") {
                FAIL() << missing;
            }
            GTEST_SKIP() << missing;
        }
    }

    ProcessResult RunExe(const std::vector<std::string>& args) {
        // The program and its library side by side, as on Windows.
        for (const char* file : {"kelvor.exe", "ravoacc32.dll"}) {
            testsupport::WriteFileBytes(
                dir_ / file, testsupport::ReadFileBytes(testsupport::Win32BinDir() + "/" + file));
        }
        std::vector<std::string> argv = {"wine", dir_ / "kelvor.exe"};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options = Options("");
        options.env.push_back({"WINEDEBUG", "-all"});
        options.timeoutSeconds = 300;  // the first start may set up the wine prefix
        return RunProcess(argv, options);
    }

    std::string exe_;
};

TEST_F(KelvorExeUnderWine, BringUpOnTheDefaultBoard) {
    UseBoard(nullptr);
    const ProcessResult r = RunExe({});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(testsupport::WithUnixLineEnds(r.out), DefaultBringUp());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Image().size(), kFourMb);
}

TEST_F(KelvorExeUnderWine, EraseRefusedOnTheDefaultBoard) {
    UseBoard(nullptr);
    ASSERT_EQ(RunExe({}).exitCode, 0);
    const std::vector<uint8_t> before = Image();
    const ProcessResult r = RunExe({"/c", "/y"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 6);
    EXPECT_EQ(Image(), before);
}

}  // namespace
