#include "tests/kelvor_ravo/recording_console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "kelvor/front/console.h"

namespace consoletest {

std::string Printed;
std::string Answers;

void Reset() {
    Printed.clear();
    Answers.clear();
}

namespace {
void Record(const char* tag, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    Printed += tag;
    Printed += text;
}
}  // namespace

}  // namespace consoletest

void PrintOutput(const char* format, ...) {
    va_list args;
    va_start(args, format);
    consoletest::Record("P:", format, args);
    va_end(args);
}

void DirectOutput(const char* format, ...) {
    va_list args;
    va_start(args, format);
    consoletest::Record("D:", format, args);
    va_end(args);
}

int ReadAnswerWord(char* buffer, int size) {
    std::string& in = consoletest::Answers;
    const size_t start = in.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        in.clear();
        return 0;
    }
    size_t end = in.find_first_of(" \t\r\n", start);
    if (end == std::string::npos) {
        end = in.size();
    }
    const std::string word = in.substr(start, end - start).substr(0, size - 1);
    std::memcpy(buffer, word.c_str(), word.size() + 1);
    in.erase(0, end);
    return 1;
}
