// Console output and input of kelvor. Everything goes through C stdio on
// standard output (text mode, so Windows consoles get CR-LF line ends) and
// standard input, except the raw key press of WaitForKey on a terminal.
#include "kelvor/front/console.h"

#include <cstdarg>
#include <cstdio>

#include "kelvor/front/settings.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr int kAnswerSize = 128;

bool IsWhiteSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

#if defined(_WIN32)
bool IsModifierKey(WORD key) {
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_CAPITAL ||
           key == VK_NUMLOCK || key == VK_SCROLL || key == VK_LWIN || key == VK_RWIN;
}

// True when a key was read from the console; false when standard input is no
// console.
bool WaitForConsoleKey() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD savedMode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &savedMode)) {
        return false;
    }
    SetConsoleMode(input, savedMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                                          ENABLE_PROCESSED_INPUT));
    for (;;) {
        INPUT_RECORD record;
        DWORD got = 0;
        if (!ReadConsoleInputA(input, &record, 1, &got) || got == 0) {
            break;
        }
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            !IsModifierKey(record.Event.KeyEvent.wVirtualKeyCode)) {
            break;
        }
    }
    SetConsoleMode(input, savedMode);
    return true;
}
#else
// True when a key was read from the terminal; false when standard input is
// no terminal.
bool WaitForConsoleKey() {
    termios saved;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
        return false;
    }
    termios raw = saved;
    // ISIG off too: an interrupt here would leave the terminal without echo.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key = 0;
    ssize_t got = read(STDIN_FILENO, &key, 1);
    (void)got;
    // TCSAFLUSH drops the rest of a multi-byte key (arrows, function keys),
    // which would otherwise land on the shell's command line.
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return true;
}
#endif

}  // namespace

void PrintOutput(const char* format, ...) {
    if (OutputEnabled == 0) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
}

void DirectOutput(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
}

void ProgressOutput(const char* format, ...) {
    if (OutputEnabled != 0) {
        va_list arguments;
        va_start(arguments, format);
        vprintf(format, arguments);
        va_end(arguments);
    }
    fflush(stdout);
}

int ReadAnswerWord(char* buffer, int size) {
    if (buffer == nullptr || size < 1) {
        return 0;
    }
    buffer[0] = '\0';
    int c = getchar();
    while (c != EOF && IsWhiteSpace(c)) {
        c = getchar();
    }
    if (c == EOF) {
        return 0;
    }
    // The whole word is one answer: what does not fit is dropped rather than
    // left behind as the answer to the next question.
    int length = 0;
    while (c != EOF && !IsWhiteSpace(c)) {
        if (length < size - 1) {
            buffer[length++] = static_cast<char>(c);
        }
        c = getchar();
    }
    buffer[length] = '\0';
    if (c != EOF) {
        ungetc(c, stdin);
    }
    return 1;
}

int PromptYesNo(const char* question) {
    DirectOutput("%s", question);
    if (PromptEnabled == 0) {
        DirectOutput("Y\n");
        return 1;
    }
    fflush(stdout);
    char answer[kAnswerSize];
    if (ReadAnswerWord(answer, kAnswerSize) == 0) {
        return 0;  // end of input declines
    }
    return ((answer[0] == 'Y' || answer[0] == 'y') && answer[1] == '\0') ? 1 : 0;
}

void WaitForKey() {
    fflush(stdout);
    if (!WaitForConsoleKey()) {
        getchar();  // one byte of a script or pipe, or nothing at its end
    }
}
