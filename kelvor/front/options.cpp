// The option table and the command-line parser. One table drives the parser,
// the main sequence's lookups and the help screen, so an option is added in
// one place only.
#include "kelvor/front/options.h"

#include <cstdarg>
#include <cstring>

#include "kelvor/front/console.h"

OptionEntry OptionTable[kOptionCount] = {
    {"?", "[/?]", "Displays help screen.", 0, 0, nullptr},
    {"c", "[/c]", "Erase entire flash part.", 0, 0, nullptr},
    {"b", "[/b]", "Check to see if the flash part is erased.", 0, 0, nullptr},
    {"i", "[/i]", "Displays information about the flash image.", 0, 0, nullptr},
    {"f", "[/f:<file>]", "Load binary file into flash.", 1, 0, nullptr},
    {"v", "[/v:<file>]", "Compare binary file to flash.", 1, 0, nullptr},
    {"d", "[/d:<file>]", "Dump flash contents to file or \"STDOUT\".", 1, 0, nullptr},
    {"address", "[/address:<value>]", "Flash address to load/verify/dump file.", 1, 0, nullptr},
    {"length", "[/length:<value>]", "Number of bytes to load/verify/dump.", 1, 0, nullptr},
    {"desc", "[/desc]", "Load/verify/dump Descriptor region.", 0, 0, nullptr},
    {"bios", "[/bios]", "Load/verify/dump BIOS region.", 0, 0, nullptr},
    {"me", "[/me]", "Load/verify/dump ME region.", 0, 0, nullptr},
    {"gbe", "[/gbe]", "Load/verify/dump GbE region.", 0, 0, nullptr},
    {"y", "[/y]", "Do NOT prompt when a warning occurs.", 0, 0, nullptr},
    {"q", "[/q]", "Do NOT display output to the screen.", 0, 0, nullptr},
    {"e", "[/e]", "Do NOT erase area before writing to flash.", 0, 0, nullptr},
    {"p", "[/p:<file>]", "Specifies a flash part definition file to use.", 1, 0, nullptr},
};

namespace {

constexpr int kConsoleColumns = 80;
constexpr int kConsoleRows = 24;

// Entries the lookups search; stays 0 when the command line is empty, so that
// every option then counts as absent.
int NamedOptionCount = 0;

bool IsOptionPrefix(char c) {
    return c == '/' || c == '-' || c == '+';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    while (*a != '\0' && LowerAscii(*a) == LowerAscii(*b)) {
        ++a;
        ++b;
    }
    return *a == '\0' && *b == '\0';
}

// A second parse in the same process (the tests do that) must not see the
// marks of the first.
void ClearOptionMarks() {
    for (OptionEntry& entry : OptionTable) {
        entry.Flags = 0;
        entry.Values = nullptr;
    }
    NamedOptionCount = 0;
}

}  // namespace

int FindOption(const char* name) {
    for (int i = 0; i < NamedOptionCount; ++i) {
        if (SameNameIgnoringCase(OptionTable[i].Name, name)) {
            return i;
        }
    }
    return -1;
}

int IsOptionPresent(const char* name) {
    int index = FindOption(name);
    return (index >= 0 && (OptionTable[index].Flags & kOptionPresent) != 0) ? 1 : 0;
}

int GetOptionValues(const char* name, int count, ...) {
    int index = FindOption(name);
    if (index < 0 || (OptionTable[index].Flags & kOptionPresent) == 0) {
        return 0;
    }
    const OptionEntry& entry = OptionTable[index];
    va_list outputs;
    va_start(outputs, count);
    for (int i = 0; i < count && i < entry.ValueCount; ++i) {
        const char** output = va_arg(outputs, const char**);
        *output = entry.Values != nullptr ? entry.Values[i] : nullptr;
    }
    va_end(outputs);
    return 1;
}

int GetConsoleSize(int* columns, int* rows) {
    *columns = kConsoleColumns;
    *rows = kConsoleRows;
    return 0;
}

OptionEntry* ParseArgument(char** cell) {
    char* argument = *cell;
    if (!IsOptionPrefix(argument[0])) {
        return nullptr;
    }
    char* delimiter = std::strpbrk(argument + 1, "+-:");
    char delimiterChar = '\0';
    if (delimiter != nullptr) {
        delimiterChar = *delimiter;
        *delimiter = '\0';
    }
    int index = FindOption(argument + 1);
    if (index < 0) {
        return nullptr;
    }
    OptionEntry* entry = &OptionTable[index];
    if ((entry->Flags & kOptionPresent) != 0) {
        DirectOutput("Warning: Option /%s has already been specified and will be ignored.\n",
                     entry->Name);
        return entry;
    }
    entry->Flags |= kOptionPresent;
    if (delimiterChar == ':') {
        if (entry->ValueCount == 0) {
            return nullptr;
        }
        *cell = delimiter + 1;
        if (**cell != '\0') {
            entry->Values = cell;
        }
    }
    return entry;
}

int ParseCommandLine(int argc, char** argv) {
    ClearOptionMarks();
    if (argc <= 1) {
        return kParseNoArguments;
    }
    while (NamedOptionCount < kOptionCount && OptionTable[NamedOptionCount].Name[0] != '\0') {
        ++NamedOptionCount;
    }
    int columns = 0;
    int rows = 0;
    GetConsoleSize(&columns, &rows);

    for (int i = 1; i < argc; ++i) {
        OptionEntry* entry = ParseArgument(&argv[i]);
        if (entry == nullptr) {
            DirectOutput("%s is an unexpected parameter.\n", argv[i]);
            return kParseInvalid;
        }
        if (entry->ValueCount == 0) {
            continue;
        }
        int inHand = 0;
        if (entry->Values != nullptr) {
            inHand = (entry->Values[0][0] != '\0') ? 1 : 0;
        } else {
            entry->Values = &argv[i + 1];
        }
        while (inHand < entry->ValueCount) {
            if (i + 1 >= argc || IsOptionPrefix(argv[i + 1][0])) {
                DirectOutput("Missing parameter for %s\n", entry->Usage);
                return kParseInvalid;
            }
            ++inHand;
            ++i;
        }
    }
    return kParseOk;
}
