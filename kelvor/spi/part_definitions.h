// The flash part definition file: loading it into PartDefinitions and the
// text normalisation that comes before the parsing.
#ifndef KELVOR_SPI_PART_DEFINITIONS_H
#define KELVOR_SPI_PART_DEFINITIONS_H

#include <cstdint>

// Results of SpiLoadDevicesFile.
constexpr int kPartFileLoaded = 0;
constexpr int kPartFileNotFound = 1;
constexpr int kPartFileAccessDenied = 2;
constexpr int kPartFileOpenFailed = 3;  // the caller prints errno
constexpr int kPartFileNoMemory = 4;
constexpr int kPartFileShortRead = 5;

int SpiLoadDevicesFile(const char* path);

// Normalises the `length` bytes of text in `buffer` in place: comment lines,
// empty lines and every blank go, every remaining line ends in ",\n", and a
// NUL follows the result. The result can be up to twice as long as the text,
// so `bufferSize` must be at least 2 * length + 1. Returns 1, or 0 when the
// work buffer cannot be had or the result would not fit.
int PreProcessFileBuffer(char* buffer, uint32_t length, uint32_t bufferSize);

#endif  // KELVOR_SPI_PART_DEFINITIONS_H
