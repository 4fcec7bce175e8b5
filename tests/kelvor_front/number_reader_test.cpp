// The number reader of /address (unsigned) and /length (signed) values.
#include <gtest/gtest.h>

#include <cstdint>

#include "kelvor/front/number_reader.h"

namespace {

struct NumberCase {
    const char* text;
    uint32_t unsignedValue;
    int32_t signedValue;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class NumberReader : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberReader, ReadsBothWidths) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(ReadUnsignedNumber(c.text), c.unsignedValue) << '"' << c.text << '"';
    EXPECT_EQ(ReadSignedNumber(c.text), c.signedValue) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(Bases, NumberReader,
                         testing::Values(NumberCase{"4096", 4096u, 4096},
                                         NumberCase{"0x10000", 0x10000u, 0x10000},
                                         NumberCase{"0XfF", 255u, 255}, NumberCase{"010", 8u, 8},
                                         NumberCase{"0", 0u, 0}, NumberCase{"  \t+12", 12u, 12},
                                         NumberCase{"-0x10", 0xFFFFFFF0u, -16}));

INSTANTIATE_TEST_SUITE_P(TrailingTextAndNoDigits, NumberReader,
                         testing::Values(NumberCase{"12abc", 12u, 12}, NumberCase{"09", 0u, 0},
                                         NumberCase{"0x", 0u, 0}, NumberCase{"0xg1", 0u, 0},
                                         NumberCase{"", 0u, 0}, NumberCase{"abc", 0u, 0},
                                         NumberCase{"-", 0u, 0}, NumberCase{"1 2", 1u, 1}));

INSTANTIATE_TEST_SUITE_P(
    Saturation, NumberReader,
    testing::Values(NumberCase{"4294967295", 0xFFFFFFFFu, INT32_MAX},
                    NumberCase{"4294967296", 0xFFFFFFFFu, INT32_MAX},
                    NumberCase{"0x123456789abcdef0123", 0xFFFFFFFFu, INT32_MAX},
                    NumberCase{"2147483647", 0x7FFFFFFFu, INT32_MAX},
                    NumberCase{"2147483648", 0x80000000u, INT32_MAX},
                    NumberCase{"-1", 0xFFFFFFFFu, -1},
                    NumberCase{"-2147483648", 0x80000000u, INT32_MIN},
                    NumberCase{"-2147483649", 0x7FFFFFFFu, INT32_MIN},
                    NumberCase{"-4294967295", 1u, INT32_MIN},
                    // Too large to negate: the unsigned reading saturates first.
                    NumberCase{"-4294967296", 0xFFFFFFFFu, INT32_MIN}));

}  // namespace
