// The trap in the Windows build of the library code, run under wine: the
// check program of tests/ravoacc32/win32 (built by the win32 preset) must
// pass its checks, and must stop with the trap's report and exit status on an
// instruction the trap cannot emulate. Skipped without wine or without the
// win32 build, unless CI=true.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using testsupport::ProcessOptions;
using testsupport::RunProcess;

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// The check program, or empty with the test skipped or failed.
std::string CheckProgram() {
    const std::string program = testsupport::Win32BinDir() + "/../test-bin/ravo_trap_check.exe";
    const bool haveWine = RunProcess({"/bin/sh", "-c", "command -v wine"}).exitCode == 0;
    if (haveWine && testsupport::FileExists(program)) {
        return program;
    }
    return "";
}

ProcessOptions WineOptions() {
    ProcessOptions options;
    options.env = {{"WINEDEBUG", "-all"}, {"RAVOACC_BOARD", "no-such-board.json"}};
    options.timeoutSeconds = 300;  // a first run sets up the wine prefix
    return options;
}

#define REQUIRE_CHECK_PROGRAM(program)                                            \
    if (!testsupport::WineTestsEnabled()) {                                       \
        GTEST_SKIP() << "wine tests are off in this build";                       \
    }                                                                             \
    const std::string program = CheckProgram();                                   \
    if (program.empty()) {                                                        \
        if (InCi()) {                                                             \
            FAIL() << "wine or the win32 build (ravo_trap_check.exe) is missing"; \
        }                                                                         \
        GTEST_SKIP() << "wine or the win32 build is missing";                     \
    }

TEST(TrapUnderWine, WindowAccessesAndEntryPointsWork) {
    REQUIRE_CHECK_PROGRAM(program);
    const auto r = RunProcess({"wine", program}, WineOptions());
    const std::string out = testsupport::WithUnixLineEnds(r.out);
    EXPECT_EQ(r.exitCode, 0) << out << r.err;
    EXPECT_NE(out.find("trap check passed\n"), std::string::npos) << out;
}

TEST(TrapUnderWine, AnInstructionItCannotEmulateStopsTheProgram) {
    REQUIRE_CHECK_PROGRAM(program);
    const auto r = RunProcess({"wine", program, "unknown"}, WineOptions());
    EXPECT_EQ(r.exitCode, 99);
    EXPECT_NE(r.err.find("ravoacc32: cannot emulate an access to mapped device memory: the "
                         "instruction is not a plain 8-, 16- or 32-bit move"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(", bytes: 83 "), std::string::npos) << r.err;
}

}  // namespace
