// Numbers in option values: "0x"/"0X" hexadecimal, a leading 0 octal, else
// decimal, after optional white space and sign. Reading stops at the first
// character that is no digit of the base; no digits at all reads as 0.
#ifndef KELVOR_FRONT_NUMBER_READER_H
#define KELVOR_FRONT_NUMBER_READER_H

#include <cstdint>

// Too large: 0xFFFFFFFF. A "-" sign negates modulo 2^32.
uint32_t ReadUnsignedNumber(const char* text);
// Out of range: 2147483647 or -2147483648.
int32_t ReadSignedNumber(const char* text);

#endif  // KELVOR_FRONT_NUMBER_READER_H
