// The option table and the command-line parser that fills it, the lookups
// the main sequence makes afterwards, and the help screen built from the same
// table.
#ifndef KELVOR_FRONT_OPTIONS_H
#define KELVOR_FRONT_OPTIONS_H

#include <cstdint>

// The title line of the banner and of the help screen.
constexpr char kKelvorTitle[] = "Kelvor. Version 0.8.9";

constexpr int kOptionNameSize = 10;
constexpr int kOptionUsageSize = 30;
constexpr int kOptionDescriptionSize = 256;
constexpr int kOptionCount = 17;

// Bit of OptionEntry::Flags set once the option has been seen.
constexpr uint32_t kOptionPresent = 1u;

struct OptionEntry {
    char Name[kOptionNameSize];  // matched without regard to case
    char Usage[kOptionUsageSize];
    char Description[kOptionDescriptionSize];
    int32_t ValueCount;
    uint32_t Flags;  // run-time marks, clear in the static table
    char** Values;   // argument cell of the first value; null until parsed
};

extern OptionEntry OptionTable[kOptionCount];

// Results of ParseCommandLine.
constexpr int kParseOk = 0;
constexpr int kParseNoArguments = 1;
constexpr int kParseInvalid = 2;

// Walks the argument vector (cutting and re-pointing its strings and cells in
// place) and marks the options found. The reason for an invalid command line
// has been printed when it returns kParseInvalid.
int ParseCommandLine(int argc, char** argv);
// The table entry one argument cell names, or null. May cut the argument at
// its delimiter and re-point the cell at an attached value.
OptionEntry* ParseArgument(char** cell);
// Index of the named entry, or -1.
int FindOption(const char* name);
int IsOptionPresent(const char* name);
// Stores up to `count` value strings of the option into the `const char**`
// outputs that follow; 1 when the option was given, else 0.
int GetOptionValues(const char* name, int count, ...);
int GetConsoleSize(int* columns, int* rows);
void ShowHelp();

#endif  // KELVOR_FRONT_OPTIONS_H
