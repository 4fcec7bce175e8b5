// The console functions the wrapper and the BIOS protection code call,
// recorded instead of printed, and a queue of typed answers. Lets these
// tests run without the front end.
#ifndef TESTS_KELVOR_RAVO_RECORDING_CONSOLE_H
#define TESTS_KELVOR_RAVO_RECORDING_CONSOLE_H

#include <string>

namespace consoletest {

// Everything printed, each piece tagged "P:" (PrintOutput) or "D:" (direct).
extern std::string Printed;
// Words ReadAnswerWord hands out, white-space separated; empty = end of input.
extern std::string Answers;
void Reset();

}  // namespace consoletest

#endif  // TESTS_KELVOR_RAVO_RECORDING_CONSOLE_H
