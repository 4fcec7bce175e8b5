// kelvor.exe under wine against the native program: the same command lines on
// the same flash give the same output (once the console's CR-LF line ends
// are undone), the same exit code and the same flash afterwards. Few runs:
// each start of wine costs seconds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/kelvor_ops/ops_run.h"

namespace opstest {
namespace {

using testsupport::ProcessResult;

using SameUnderWine = OpsRunUnderWine;

TEST_F(SameUnderWine, OperationsOnTheWholeFlashBoard) {
    UseBoard("whole-flash");
    std::vector<uint8_t> start = Fresh();
    const std::vector<uint8_t> data = PatternBytes(0x3000, 11);
    std::copy(data.begin(), data.begin() + 0x1000, start.begin() + 0x201000);
    WriteFile("f.bin", std::vector<uint8_t>(data.begin(), data.begin() + 0x2000));
    WriteFile("g.bin", data);
    const struct {
        std::vector<std::string> Args;
        const char* Input;
        int Exit;
    } cases[] = {
        {{"/f:f.bin", "/address:0x200000"}, "", 0},
        {{"/f:g.bin", "/gbe"}, "y\n", 0},
        {{"/v:g.bin", "/address:0x200000", "/length:0x3000"}, "", 212},
        {{"/d:STDOUT", "/address:0x200F00", "/length:0x200"}, "q\n", 0},
        {{"/f:f.bin", "/address:0x400000"}, "", 117},
        {{"/b"}, "", 605},
        {{"/i"}, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args.size() > 1 ? c.Args[0] + " " + c.Args[1] : c.Args[0]);
        SetFlash(start);
        const ProcessResult native = Run(c.Args, c.Input);
        const std::vector<uint8_t> nativeFlash = Flash();
        SetFlash(start);
        const ProcessResult exe = RunExe(c.Args, c.Input);
        ASSERT_FALSE(exe.timedOut);
        EXPECT_EQ(ShellExit(native.exitCode), ShellExit(c.Exit)) << native.out;
        EXPECT_EQ(exe.exitCode, native.exitCode) << exe.err;
        EXPECT_EQ(exe.out, native.out);
        EXPECT_TRUE(Flash() == nativeFlash);
    }
}

}  // namespace
}  // namespace opstest
