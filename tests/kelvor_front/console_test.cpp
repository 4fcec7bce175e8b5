// The console functions, run in a probe program (console_probe.cpp) that is
// fed standard input: how answers are read word by word across questions,
// what /y and /q change, and that the key wait never hangs a script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

struct ConsoleCase {
    const char* title;
    std::vector<std::string> steps;
    std::string input;
    std::string out;
};

void PrintTo(const ConsoleCase& c, std::ostream* os) {
    *os << c.title;
}

class Console : public testing::TestWithParam<ConsoleCase> {};

TEST_P(Console, ReadsAndPrintsExactly) {
    const ConsoleCase& c = GetParam();
    std::vector<std::string> argv = {KELVOR_CONSOLE_PROBE};
    argv.insert(argv.end(), c.steps.begin(), c.steps.end());
    testsupport::ProcessOptions options;
    options.input = c.input;
    options.timeoutSeconds = 20;
    testsupport::ProcessResult r = testsupport::RunProcess(argv, options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exitCode, 0);
}

const std::string kLongWord(200, 'y');

INSTANTIATE_TEST_SUITE_P(
    Prompts, Console,
    testing::Values(
        ConsoleCase{"y and Y accept", {"ask", "ask"}, "y\nY\n", "Q (Y/N): [1]\nQ (Y/N): [1]\n"},
        ConsoleCase{"yes, n and yy decline",
                    {"ask", "ask", "ask"},
                    "yes\nn\nyy\n",
                    "Q (Y/N): [0]\nQ (Y/N): [0]\nQ (Y/N): [0]\n"},
        ConsoleCase{"empty lines do not answer", {"ask"}, "\n\n   \n\t y\n", "Q (Y/N): [1]\n"},
        ConsoleCase{"one line answers two questions",
                    {"ask", "ask"},
                    "y n\n",
                    "Q (Y/N): [1]\nQ (Y/N): [0]\n"},
        ConsoleCase{"end of input declines", {"ask", "ask"}, "y", "Q (Y/N): [1]\nQ (Y/N): [0]\n"},
        // The tail of an over-long word must not become the next answer.
        ConsoleCase{"over-long word is one answer",
                    {"ask", "ask"},
                    kLongWord + " y\n",
                    "Q (Y/N): [0]\nQ (Y/N): [1]\n"},
        ConsoleCase{"/y answers without reading",
                    {"noprompt", "ask", "word16"},
                    "n\n",
                    "Q (Y/N): Y\n[1]\n<n>1\n"},
        ConsoleCase{"/q leaves questions and direct output",
                    {"quiet", "ask", "print"},
                    "y\n",
                    "Q (Y/N): [1]\ndirect 2\n"}),
    [](const testing::TestParamInfo<ConsoleCase>& info) {
        return "Case" + std::to_string(info.index);
    });

INSTANTIATE_TEST_SUITE_P(
    Words, Console,
    testing::Values(
        ConsoleCase{"output paths", {"print"}, "", "print 1\ndirect 2\nprogress 3\r"},
        ConsoleCase{"word cut to the buffer, rest of the line kept",
                    {"word16", "word16", "word16"},
                    "0123456789abcdefXYZ next\n",
                    "<0123456789abcde>1\n<next>1\n<>0\n"},
        ConsoleCase{"key takes one byte of a script", {"key", "word16"}, "ab\n", "[key]\n<b>1\n"},
        ConsoleCase{"key at end of input", {"key", "key"}, "", "[key]\n[key]\n"}),
    [](const testing::TestParamInfo<ConsoleCase>& info) {
        return "Case" + std::to_string(info.index);
    });

}  // namespace
