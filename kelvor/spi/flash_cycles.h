// Read, program and erase requests of any length, cut into controller
// cycles: software sequencing (kelvor's own opcodes from the OPMENU) and
// hardware sequencing (the controller picks the opcodes itself).
#ifndef KELVOR_SPI_FLASH_CYCLES_H
#define KELVOR_SPI_FLASH_CYCLES_H

#include <cstdint>

#include "kelvor/spi/spi_state.h"

// Operation codes of both sequencing modes.
constexpr uint32_t kCycleRead = 0;
constexpr uint32_t kCycleProgram = 1;
constexpr uint32_t kCycleErase = 2;

// Both return 0 when done and 1 after a failure (printed, or for an invalid
// VSCC only traced). `buffer` receives read data and supplies program data;
// an erase takes none.
int SwSeqCycle(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t operation,
               const FlashDeviceRecord& record);
int FallBackToHwSeq(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t operation);
int HwSeqCycle(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t operation);

// Bytes of the next read or program cycle: at most `limit`, never across a
// 4 KB boundary and, for a program, never across a 256-byte page (parts wrap
// inside the page).
uint32_t CycleByteCount(uint32_t address, uint32_t remaining, uint32_t limit, uint32_t operation);

bool IsPowerOfTwo(uint32_t value);
// A write granularity the 64-byte data buffer can carry: a power of two, 1 to
// 64. Prints why not and returns false otherwise.
bool CheckWriteGranularity(uint32_t granularity);
// An erase of `length` bytes at `address` in steps of `step`: the step a
// power of two, the address on a step, the length a whole number of steps.
// `what` names the step in the message ("block erase size", "VSCC erase
// step"). Prints why not and returns false otherwise.
bool CheckEraseSteps(uint32_t address, uint32_t length, uint32_t step, const char* what);
// A range that does not run past the 32-bit address space.
bool RangeFitsAddressSpace(uint32_t address, uint32_t length);

#endif  // KELVOR_SPI_FLASH_CYCLES_H
