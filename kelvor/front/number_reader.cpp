// The number reader of option values. It is written out rather than left to
// strtoul/strtol because their range follows the width of `long`, which is
// 64 bits on Linux and 32 bits on Windows; the values must read the same in
// both builds.
#include "kelvor/front/number_reader.h"

namespace {

constexpr uint64_t kUnsignedLimit = 0xFFFFFFFFull;
constexpr uint64_t kSignedPositiveLimit = 0x7FFFFFFFull;
constexpr uint64_t kSignedNegativeLimit = 0x80000000ull;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

struct ReadNumber {
    bool Negative;
    uint64_t Magnitude;  // held at kUnsignedLimit + 1 once it grows past 32 bits
};

ReadNumber ReadMagnitude(const char* text) {
    ReadNumber number = {false, 0};
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    if (*text == '+' || *text == '-') {
        number.Negative = (*text == '-');
        ++text;
    }
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && DigitValue(text[2]) < 16) {
        base = 16;
        text += 2;
    } else if (text[0] == '0') {
        base = 8;
    }
    for (; DigitValue(*text) < base; ++text) {
        number.Magnitude = number.Magnitude * static_cast<uint64_t>(base) +
                           static_cast<uint64_t>(DigitValue(*text));
        if (number.Magnitude > kUnsignedLimit) {
            number.Magnitude = kUnsignedLimit + 1;
        }
    }
    return number;
}

}  // namespace

uint32_t ReadUnsignedNumber(const char* text) {
    ReadNumber number = ReadMagnitude(text);
    if (number.Magnitude > kUnsignedLimit) {
        return 0xFFFFFFFFu;
    }
    uint32_t value = static_cast<uint32_t>(number.Magnitude);
    return number.Negative ? 0u - value : value;
}

int32_t ReadSignedNumber(const char* text) {
    ReadNumber number = ReadMagnitude(text);
    if (number.Negative) {
        if (number.Magnitude >= kSignedNegativeLimit) {
            return INT32_MIN;
        }
        return -static_cast<int32_t>(number.Magnitude);
    }
    if (number.Magnitude > kSignedPositiveLimit) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(number.Magnitude);
}
