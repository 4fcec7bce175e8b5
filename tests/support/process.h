// Runs a program as a separate process with the given arguments, standard
// input, environment and working directory, and collects what it printed.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ProcessOptions {
    std::string workDir;                                   // empty: the test's own
    std::vector<std::pair<std::string, std::string>> env;  // added to (or replacing) ours
    std::vector<std::string> unsetEnv;                     // removed from ours
    std::string input;                                     // fed to standard input, then EOF
    int timeoutSeconds = 120;
};

struct ProcessResult {
    int exitCode = -1;  // the exit status, or -1 when killed or not started
    bool timedOut = false;
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
};

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Build and source locations, fixed at configure time.
std::string SourceDir();
std::string BinDir();  // build/<preset>/bin
std::string Win32BinDir();
bool WineTestsEnabled();

// The text with every "\r\n" turned into "\n" (console output of Windows
// programs).
std::string WithUnixLineEnds(const std::string& text);

}  // namespace testsupport

#endif  // TESTS_SUPPORT_PROCESS_H
