// Console output, trace and prompts: the whole user interface of kelvor.
#ifndef KELVOR_FRONT_CONSOLE_H
#define KELVOR_FRONT_CONSOLE_H

#define KELVOR_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Normal output; silent under /q.
void PrintOutput(const char* format, ...) KELVOR_PRINTF(1, 2);
// Output that must reach the user even under /q.
void DirectOutput(const char* format, ...) KELVOR_PRINTF(1, 2);
// A progress line: PrintOutput of a text ending in "\r", then a flush of
// standard output (the flush happens under /q too).
void ProgressOutput(const char* format, ...) KELVOR_PRINTF(1, 2);
// Developer trace hook. Discards every line, at the cost of the call only.
inline void TraceOutput(const char* /*format*/, ...) {}

// Asks a yes/no question (it ends in "(Y/N): "). Returns 1 when accepted,
// 0 when declined; under /y it answers "Y" itself.
int PromptYesNo(const char* question);
// Reads one white-space delimited word from standard input into `buffer`,
// the way a "%s" conversion does: leading white space (empty lines too) is
// skipped and the rest of the line stays unread. Characters of the word
// beyond size - 1 are dropped. Returns 0 at end of input before a word.
int ReadAnswerWord(char* buffer, int size);
// Waits for one key press without echo; on a non-terminal input it consumes
// one byte or returns at end of input.
void WaitForKey();

#endif  // KELVOR_FRONT_CONSOLE_H
