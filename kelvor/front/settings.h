// Run-wide settings, set once by the main sequence from the options and read
// everywhere after.
#ifndef KELVOR_FRONT_SETTINGS_H
#define KELVOR_FRONT_SETTINGS_H

#include <cstdint>

constexpr int kPartFilePathSize = 260;  // 259 characters and the NUL

extern int32_t OutputEnabled;  // 0 after /q: PrintOutput is silent
extern int32_t PromptEnabled;  // 0 after /y: questions answer themselves
extern int32_t EraseEnabled;   // 0 after /e: no erase before a write
extern char PartFilePath[kPartFilePathSize];

#endif  // KELVOR_FRONT_SETTINGS_H
