// Runs the console functions in the order its arguments name them, printing
// what each returned, so that a test can feed standard input and read the
// exact bytes:
//   ask       PromptYesNo("Q (Y/N): "), then "[1]" or "[0]" and a newline
//   word16    ReadAnswerWord into a 16-character buffer, then "<word>" and
//             the result
//   key       WaitForKey, then "[key]"
//   quiet     OutputEnabled := 0        noprompt  PromptEnabled := 0
//   print     PrintOutput, DirectOutput and ProgressOutput of one line each
#include <cstdio>
#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/front/settings.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* step = argv[i];
        if (std::strcmp(step, "ask") == 0) {
            int accepted = PromptYesNo("Q (Y/N): ");
            std::printf("[%d]\n", accepted);
        } else if (std::strcmp(step, "word16") == 0) {
            char word[16];
            int result = ReadAnswerWord(word, sizeof word);
            std::printf("<%s>%d\n", word, result);
        } else if (std::strcmp(step, "key") == 0) {
            WaitForKey();
            std::printf("[key]\n");
        } else if (std::strcmp(step, "quiet") == 0) {
            OutputEnabled = 0;
        } else if (std::strcmp(step, "noprompt") == 0) {
            PromptEnabled = 0;
        } else if (std::strcmp(step, "print") == 0) {
            PrintOutput("print %d\n", 1);
            DirectOutput("direct %d\n", 2);
            ProgressOutput("progress %d\r", 3);
        } else {
            std::printf("unknown step %s\n", step);
            return 2;
        }
    }
    return 0;
}
