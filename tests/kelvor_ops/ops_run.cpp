#include "tests/kelvor_ops/ops_run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "tests/kelvor_spi/board_session.h"

namespace opstest {

namespace {

std::string TestDirName() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kelvor_ops-") + info->test_suite_name() + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

}  // namespace

int ShellExit(int code) {
    return code & 0xFF;
}

std::string Format(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 8);
    }
    return bytes;
}

std::string EraseLines(uint32_t start, uint32_t length, uint32_t block) {
    std::string text = "\n";
    for (uint32_t done = block; done <= length; done += block) {
        text += Format("- Erasing Flash Block [0x%06X]... - %3.0f%% complete.\r", start + done,
                       done * 100.0 / length);
    }
    return text + "\n";
}

std::string ProgramLines(uint32_t start, uint32_t length) {
    std::string text = "\n";
    for (uint32_t done = 0; done < length;) {
        done += std::min<uint32_t>(1024, length - done);
        text += Format("- Programming Flash [0x%06X]... %4dKB of %4dKB - %3.0f%% complete.\r",
                       start + done, static_cast<int>(done / 1024), static_cast<int>(length / 1024),
                       done * 100.0 / length);
    }
    return text;
}

std::string ReadLines(const char* verb, uint32_t start, uint32_t length) {
    std::string text = "\n";
    for (uint32_t done = 0; done < length;) {
        done += std::min<uint32_t>(64, length - done);
        text += Format("- %s Flash [0x%06X]... %4dKB of %4dKB - %3.0f%% complete.\r", verb,
                       start + done, static_cast<int>(done / 1024), static_cast<int>(length / 1024),
                       done * 100.0 / length);
    }
    return text;
}

std::string BiosUnlock() {
    return "Reading LPC BC register... 0x00000000\nBIOS space write protection is "
           "enabled\nDisabling BIOS space write protection\n";
}

std::string Loaded(uint32_t start, uint32_t length) {
    return EraseLines(start, length) + ProgramLines(start, length) + "\nWrite Complete\n";
}

std::string ReadingFile(const std::string& name) {
    return "Reading file \"" + name + "\" into memory...\n";
}

OpsRun::OpsRun() : dir_(TestDirName()) {}

void OpsRun::UseBoard(const std::string& shipped) {
    UseChangedBoard(spitest::ShippedBoard(shipped));
}

void OpsRun::UseChangedBoard(const nlohmann::json& board) {
    board_ = board;
    testsupport::WriteFileText(Path("board.json"), board.dump(2));
    testsupport::WriteFileText(Path("chipdefs.txt"), spitest::ShippedPartList());
    std::remove(Path(board_["chips"][0].value("image", "board-cs0.bin")).c_str());
    std::remove(Path(board_.value("state_file", "board-state.json")).c_str());
    const testsupport::ProcessResult first = Run({});
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    fresh_ = Flash();
    ASSERT_FALSE(fresh_.empty());
}

std::vector<uint8_t> OpsRun::Flash() const {
    return testsupport::ReadFileBytes(Path(board_["chips"][0].value("image", "board-cs0.bin")));
}

void OpsRun::SetFlash(const std::vector<uint8_t>& image) {
    testsupport::WriteFileBytes(Path(board_["chips"][0].value("image", "board-cs0.bin")), image);
    std::remove(Path(board_.value("state_file", "board-state.json")).c_str());
}

void OpsRun::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
    testsupport::WriteFileBytes(Path(name), bytes);
}

testsupport::ProcessOptions OpsRun::Options(const std::string& input) const {
    testsupport::ProcessOptions options;
    options.workDir = dir_.path();
    options.input = input;
    options.env = {{"RAVOACC_BOARD", Path("board.json")}};
    options.unsetEnv = {"SPIBOARD_LOG"};
    options.timeoutSeconds = 300;
    return options;
}

testsupport::ProcessResult OpsRun::Run(const std::vector<std::string>& args,
                                       const std::string& input) const {
    std::vector<std::string> argv = {testsupport::BinDir() + "/kelvor"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::RunProcess(argv, Options(input));
}

std::string OpsRun::AfterBringUp(const std::string& out) {
    const std::string mark = "sequencing.\n";
    const size_t at = out.find(mark);
    return at == std::string::npos ? out : out.substr(at + mark.size());
}

void OpsRunUnderWine::SetUp() {
    if (!testsupport::WineTestsEnabled()) {
        GTEST_SKIP() << "wine runs are switched off in this build";
    }
    const std::string exe = testsupport::Win32BinDir() + "/kelvor.exe";
    std::string missing;
    if (access(exe.c_str(), R_OK) != 0) {
        missing = exe + " is missing (build the win32 preset first)";
    } else if (testsupport::RunProcess({"sh", "-c", "command -v wine"}).exitCode != 0) {
        missing = "wine is not on PATH, so kelvor.exe cannot be run";
    }
    if (!missing.empty()) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") {
            FAIL() << missing;
        }
        GTEST_SKIP() << missing;
    }
    // The program and its library side by side, as on Windows.
    for (const char* file : {"kelvor.exe", "ravoacc32.dll"}) {
        testsupport::WriteFileBytes(
            Path(file), testsupport::ReadFileBytes(testsupport::Win32BinDir() + "/" + file));
    }
}

testsupport::ProcessResult OpsRunUnderWine::RunExe(const std::vector<std::string>& args,
                                                   const std::string& input) const {
    std::vector<std::string> argv = {"wine", Path("kelvor.exe")};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ProcessOptions options = Options(input);
    options.env.push_back({"WINEDEBUG", "-all"});
    testsupport::ProcessResult result = testsupport::RunProcess(argv, options);
    result.out = testsupport::WithUnixLineEnds(result.out);
    return result;
}

}  // namespace opstest
