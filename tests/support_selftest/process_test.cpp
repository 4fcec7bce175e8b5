// The process runner is what every process-level test stands on: make sure
// it passes input, environment and exit codes through untouched.
#include <gtest/gtest.h>

#include "tests/support/process.h"

using testsupport::RunProcess;

TEST(ProcessRunner, PassesInputEnvironmentAndExitCode) {
    testsupport::ProcessOptions options;
    options.input = "abc\n";
    options.env = {{"KIT_PROBE", "x1"}};
    auto r = RunProcess({"/bin/sh", "-c", "read a; printf '%s-%s' \"$a\" \"$KIT_PROBE\"; exit 7"},
                        options);
    EXPECT_EQ(r.out, "abc-x1");
    EXPECT_EQ(r.exitCode, 7);
}

TEST(ProcessRunner, EndOfInputWhenNoneGiven) {
    auto r = RunProcess({"/bin/sh", "-c", "cat; echo done"});
    EXPECT_EQ(r.out, "done\n");
    EXPECT_EQ(r.exitCode, 0);
}

TEST(ProcessRunner, KillsAProgramThatHangs) {
    testsupport::ProcessOptions options;
    options.timeoutSeconds = 1;
    auto r = RunProcess({"/bin/sh", "-c", "sleep 30"}, options);
    EXPECT_TRUE(r.timedOut);
}
