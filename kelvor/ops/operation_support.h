// What the flash operations share: an image file read whole into memory, the
// messages of a failed flash read, range arithmetic that cannot wrap, and the
// percentage of a progress line.
#ifndef KELVOR_OPS_OPERATION_SUPPORT_H
#define KELVOR_OPS_OPERATION_SUPPORT_H

#include <cstdint>

// An image file held in memory. Data is null until a file has been read.
struct ImageBuffer {
    uint8_t* Data;
    int32_t Length;
};

// ReadImageFile results; each failure has printed its message.
constexpr int kImageRead = 0;
constexpr int kImageOpenFailed = 1;
constexpr int kImageNoMemory = 2;
constexpr int kImageShortRead = 3;

// Opens the file, allocates a buffer of its length filled with 0xFF, prints
// "Reading file ... into memory..." and reads the file in one read.
int ReadImageFile(const char* path, ImageBuffer* image);
void ReleaseImageFile(ImageBuffer* image);

// True when `length` bytes from `address` run past `limit`, counted in 64
// bits so that a range near the top of the address space never wraps to
// flash address 0.
bool RangeEndsBeyond(uint32_t address, int64_t length, uint32_t limit);

// Prints the message of a failed SpiReadFlash (results 1 to 4) for the block
// at `address` of `count` bytes. `lastLineEnd` follows the last line of the
// message of result 4: "\n" for the blank line the others end with, "" for
// none.
void PrintReadFailure(int readResult, uint32_t address, uint32_t count, const char* lastLineEnd);

// done x 100 / total as the floating-point value of a progress line.
double ProgressPercent(uint64_t done, uint64_t total);

#endif  // KELVOR_OPS_OPERATION_SUPPORT_H
