// Fixed-width integer types for corvex, taken from the compiler itself so that
// the freestanding image needs no C library header.
#ifndef CORVEX_PLATFORM_TYPES_H
#define CORVEX_PLATFORM_TYPES_H

typedef __UINT8_TYPE__ u8;
typedef __UINT16_TYPE__ u16;
typedef __UINT32_TYPE__ u32;
typedef __INT8_TYPE__ s8;
typedef __INT16_TYPE__ s16;
typedef __INT32_TYPE__ s32;

#endif  // CORVEX_PLATFORM_TYPES_H
