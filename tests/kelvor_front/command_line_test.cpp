// The built kelvor program on the paths that end before the access library is
// opened: the help screen, every parser rejection and the settings that act
// on them. Standard output is compared byte for byte; standard input is at
// its end (or holds a stray key) so the help pager must return at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

using testsupport::ProcessOptions;
using testsupport::ProcessResult;
using testsupport::RunProcess;

const std::string kHelp =
    "Kelvor. Version 0.8.9\n"
    "\n"
    "kelvor.exe [/?] [/c] [/b] [/i] [/f:<file>] [/v:<file>] [/d:<file>]\n"
    "           [/address:<value>] [/length:<value>] [/desc] [/bios] [/me] [/gbe]\n"
    "           [/y] [/q] [/e] [/p:<file>]\n"
    "\n"
    "/?        Displays help screen.\n"
    "/c        Erase entire flash part.\n"
    "/b        Check to see if the flash part is erased.\n"
    "/i        Displays information about the flash image.\n"
    "/f        Load binary file into flash.\n"
    "/v        Compare binary file to flash.\n"
    "/d        Dump flash contents to file or \"STDOUT\".\n"
    "/address  Flash address to load/verify/dump file.\n"
    "/length   Number of bytes to load/verify/dump.\n"
    "/desc     Load/verify/dump Descriptor region.\n"
    "/bios     Load/verify/dump BIOS region.\n"
    "/me       Load/verify/dump ME region.\n"
    "/gbe      Load/verify/dump GbE region.\n"
    "/y        Do NOT prompt when a warning occurs.\n"
    "/q        Do NOT display output to the screen.\n"
    "/e        Do NOT erase area before writing to flash.\n"
    "/p        Specifies a flash part definition file to use.\n"
    "   - Press any key to continue -\r                                \r";
const std::string kTerminated = "\nProgram terminated\n";
const std::string kInvalid = "Invalid Command Line. Specify option \"/?\" for help.\n";
const std::string kBanner =
    "--------------------------------------------\n"
    "Kelvor. Version 0.8.9\n\n";
const std::string kPathTooLong =
    "\n>>> Error: The flash part definition file path is longer than 259 characters! Unable to "
    "continue.\n";

// What every rejected command line prints after the parser's own line.
std::string Rejected(const std::string& parserLines) {
    return "\n" + parserLines + kInvalid + kHelp;
}

std::string HelpRun(const std::string& warnings = "") {
    return "\n" + warnings + kHelp + kTerminated;
}

ProcessResult RunKelvor(const std::vector<std::string>& arguments, const std::string& input = "") {
    std::vector<std::string> argv = {testsupport::BinDir() + "/kelvor"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProcessOptions options;
    options.input = input;
    options.timeoutSeconds = 20;
    return RunProcess(argv, options);
}

struct CommandLineCase {
    const char* title;
    std::vector<std::string> arguments;
    std::string input;
    std::string out;
    int exitCode;
};

void PrintTo(const CommandLineCase& c, std::ostream* os) {
    *os << c.title;
}

class CommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, PrintsExactlyAndExits) {
    const CommandLineCase& c = GetParam();
    ProcessResult r = RunKelvor(c.arguments, c.input);
    ASSERT_FALSE(r.timedOut) << "kelvor waited for input";
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exitCode, c.exitCode);
}

const std::string kLongPath(260, 'p');

INSTANTIATE_TEST_SUITE_P(
    Help, CommandLine,
    testing::Values(
        CommandLineCase{"slash", {"/?"}, "", HelpRun(), 0},
        CommandLineCase{"a key waiting on the pager is taken", {"/?"}, "x\n", HelpRun(), 0},
        CommandLineCase{"dash and plus prefixes",
                        {"-?", "+?"},
                        "",
                        HelpRun("Warning: Option /? has already been specified and will be "
                                "ignored.\n"),
                        0},
        // Quiet is applied only after the help check.
        CommandLineCase{"quiet does not hide help", {"/q", "/?"}, "", HelpRun(), 0},
        // Every one of these must be accepted, or the command line would be
        // rejected instead of showing help.
        CommandLineCase{"any case, trailing signs, both value forms",
                        {"/F:x.bin", "-BIOS", "+y", "/q-", "/Q+", "/Address", "0x10", "/length:-1",
                         "/p-x.txt", "y.txt", "/?"},
                        "",
                        HelpRun("Warning: Option /q has already been specified and will be "
                                "ignored.\n"),
                        0}),
    [](const testing::TestParamInfo<CommandLineCase>& info) {
        return "Case" + std::to_string(info.index);
    });

INSTANTIATE_TEST_SUITE_P(
    Rejections, CommandLine,
    testing::Values(
        CommandLineCase{
            "unknown option", {"/x"}, "", Rejected("/x is an unexpected parameter.\n"), 1},
        CommandLineCase{"names are never abbreviated",
                        {"/addr:0"},
                        "",
                        Rejected("/addr is an unexpected parameter.\n"),
                        1},
        CommandLineCase{"value on an option without values",
                        {"/c:1"},
                        "",
                        Rejected("/c is an unexpected parameter.\n"),
                        1},
        CommandLineCase{"stray file name",
                        {"image.bin"},
                        "",
                        Rejected("image.bin is an unexpected parameter.\n"),
                        1},
        CommandLineCase{"prefix alone", {"/"}, "", Rejected("/ is an unexpected parameter.\n"), 1},
        CommandLineCase{
            "file option last", {"/f"}, "", Rejected("Missing parameter for [/f:<file>]\n"), 1},
        CommandLineCase{"option where the value should be",
                        {"/f", "/q"},
                        "",
                        Rejected("Missing parameter for [/f:<file>]\n"),
                        1},
        CommandLineCase{"separate value may not start with a sign",
                        {"/length", "-1"},
                        "",
                        Rejected("Missing parameter for [/length:<value>]\n"),
                        1},
        CommandLineCase{"repeated option with a separate value",
                        {"/f", "a.bin", "/f", "b.bin"},
                        "",
                        Rejected("Warning: Option /f has already been specified and will be "
                                 "ignored.\n"
                                 "b.bin is an unexpected parameter.\n"),
                        1},
        CommandLineCase{"help does not save a bad command line",
                        {"/?", "/x"},
                        "",
                        Rejected("/x is an unexpected parameter.\n"),
                        1},
        CommandLineCase{"quiet does not hide the rejection",
                        {"/q", "/x", "/?"},
                        "",
                        Rejected("/x is an unexpected parameter.\n"),
                        1}),
    [](const testing::TestParamInfo<CommandLineCase>& info) {
        return "Case" + std::to_string(info.index);
    });

INSTANTIATE_TEST_SUITE_P(
    BeforeTheLibrary, CommandLine,
    testing::Values(CommandLineCase{"part file path too long",
                                    {"/p:" + kLongPath, "/i"},
                                    "",
                                    "\n" + kBanner + kPathTooLong,
                                    1},
                    CommandLineCase{"part file path too long as a separate value",
                                    {"/p", kLongPath},
                                    "",
                                    "\n" + kBanner + kPathTooLong,
                                    1},
                    CommandLineCase{
                        "part file path too long, quiet", {"/q", "/p:" + kLongPath}, "", "\n", 1}),
    [](const testing::TestParamInfo<CommandLineCase>& info) {
        return "Case" + std::to_string(info.index);
    });

// The warning is printed before the library is opened; everything after it
// goes through the silenced output, whatever the hardware layer then does.
TEST(QuietRun, WarnsThatInformationDisplayIsSilenced) {
    ProcessResult r = RunKelvor({"/q", "/i"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "\n\nWarning: /i run with /q has no affect!\n\n");
}

// On a terminal the pager waits for one key press, without ENTER and without
// echoing the key.
TEST(HelpPager, WaitsForOneKeyOnATerminal) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slaveName = ptsname(master);
    std::string program = testsupport::BinDir() + "/kelvor";
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int slave = open(slaveName.c_str(), O_RDWR);
        if (slave < 0) {
            _exit(126);
        }
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(slave, 2);
        execl(program.c_str(), program.c_str(), "/?", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);

    std::string out;
    // Reads what the program prints until `text` shows up or `ms` pass.
    auto readFor = [&](const std::string& text, int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buffer[4096];
                ssize_t got = read(master, buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                out.append(buffer, static_cast<size_t>(got));
            }
        }
    };
    readFor("continue -", 10000);
    readFor("Program terminated", 300);
    bool waited = out.find("continue -") != std::string::npos &&
                  out.find("Program terminated") == std::string::npos;
    ASSERT_EQ(write(master, "k", 1), 1);
    readFor("Program terminated\r\n", 10000);
    int status = 0;
    if (out.find("Program terminated") == std::string::npos) {
        kill(pid, SIGKILL);
    }
    waitpid(pid, &status, 0);
    close(master);

    EXPECT_TRUE(waited) << out;
    std::string tail = out.substr(out.find("continue -"));
    EXPECT_EQ(tail, "continue -\r                                \r\r\nProgram terminated\r\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The Windows build under wine must print the same bytes once its CR-LF line
// ends are undone.
class WineRun : public testing::Test {
  protected:
    void SetUp() override {
        if (!testsupport::WineTestsEnabled()) {
            GTEST_SKIP() << "wine runs are switched off in this build";
        }
        exe_ = testsupport::Win32BinDir() + "/kelvor.exe";
        std::string missing;
        if (access(exe_.c_str(), R_OK) != 0) {
            missing = exe_ + " is missing (build the win32 preset first)";
        } else if (!WineOnPath()) {
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

    static bool WineOnPath() {
        const char* path = std::getenv("PATH");
        std::string rest = path != nullptr ? path : "";
        while (!rest.empty()) {
            size_t colon = rest.find(':');
            std::string dir = rest.substr(0, colon);
            if (!dir.empty() && access((dir + "/wine").c_str(), X_OK) == 0) {
                return true;
            }
            rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
        }
        return false;
    }

    ProcessResult RunExe(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {"wine", exe_};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ProcessOptions options;
        options.env = {{"WINEDEBUG", "-all"}};
        options.timeoutSeconds = 300;  // the first start may set up the wine prefix
        return RunProcess(argv, options);
    }

    std::string exe_;
};

TEST_F(WineRun, HelpScreen) {
    ProcessResult r = RunExe({"/?"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(testsupport::WithUnixLineEnds(r.out), HelpRun());
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(WineRun, RejectedCommandLine) {
    ProcessResult r = RunExe({"/f"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(testsupport::WithUnixLineEnds(r.out),
              Rejected("Missing parameter for [/f:<file>]\n"));
    EXPECT_EQ(r.exitCode, 1);
}

}  // namespace
