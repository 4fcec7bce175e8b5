// The help screen: a usage block wrapped at the console width, then one line
// per option, paged so that nothing scrolls off a 24-line console unseen.
#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/front/options.h"

namespace {

const char kProgramName[] = "kelvor.exe";
const char kPagerPrompt[] = "   - Press any key to continue -";
constexpr int kPagerBlankWidth = 32;

int CountNewlines(const char* text) {
    int count = 0;
    for (; *text != '\0'; ++text) {
        count += (*text == '\n') ? 1 : 0;
    }
    return count;
}

void PrintSpaces(int count) {
    if (count > 0) {
        DirectOutput("%*s", count, "");
    }
}

// Prints the description word by word, starting each wrapped line below the
// description column. Returns the number of line breaks it added.
int PrintDescription(const char* text, int width, int columnWidth) {
    int lines = 0;
    int remaining = width - columnWidth;
    const char* word = text;
    for (;;) {
        int length = static_cast<int>(std::strcspn(word, " \n"));
        if (remaining - length <= 0) {
            DirectOutput("\n");
            ++lines;
            PrintSpaces(columnWidth + 1);
            remaining = width - columnWidth;
        }
        DirectOutput("%.*s", length, word);
        remaining -= length;
        char separator = word[length];
        if (separator == '\0') {
            break;
        }
        DirectOutput(" ");
        if (separator == '\n') {
            remaining = 0;
        }
        word += length + 1;
    }
    return lines;
}

}  // namespace

void ShowHelp() {
    int width = 0;
    int rows = 0;
    GetConsoleSize(&width, &rows);

    DirectOutput("%s\n\n", kKelvorTitle);
    int lineCount = 2 + CountNewlines(kKelvorTitle);

    const int nameLength = static_cast<int>(std::strlen(kProgramName));
    DirectOutput("%s", kProgramName);
    int remaining = width - nameLength;
    for (const OptionEntry& entry : OptionTable) {
        int itemLength = 1 + static_cast<int>(std::strlen(entry.Usage));
        remaining -= itemLength;
        if (remaining < 0) {
            DirectOutput("\n");
            ++lineCount;
            PrintSpaces(nameLength);
            remaining = width - nameLength - itemLength;
        }
        DirectOutput(" %s", entry.Usage);
    }
    DirectOutput("\n\n");
    lineCount += 2;

    int columnWidth = 0;
    for (const OptionEntry& entry : OptionTable) {
        int length = 1 + static_cast<int>(std::strlen(entry.Name));
        if (length > columnWidth) {
            columnWidth = length;
        }
    }
    ++columnWidth;

    for (const OptionEntry& entry : OptionTable) {
        int length = 1 + static_cast<int>(std::strlen(entry.Name));
        DirectOutput("/%s", entry.Name);
        PrintSpaces(columnWidth - length + 1);
        lineCount += PrintDescription(entry.Description, width, columnWidth);
        DirectOutput("\n");
        ++lineCount;
        if (lineCount > rows - 2) {
            DirectOutput("%s", kPagerPrompt);
            WaitForKey();
            DirectOutput("\r%*s\r", kPagerBlankWidth, "");
            lineCount = 0;
        }
    }
}
