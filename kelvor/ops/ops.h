// The flash operations; each returns the exit code of the run.
#ifndef KELVOR_OPS_OPS_H
#define KELVOR_OPS_OPS_H

#include <cstdint>

#include "kelvor/spi/spi_state.h"

int WriteFileToFlash(const char* file, uint32_t address, int32_t length);
int VerifyFlash(const char* file, uint32_t address, int32_t length);
int DumpFlashToFile(const char* file, uint32_t address, int32_t length);
int BlankCheck();
int DisplayFlashInformation();

// 0 = copied, 1 = no device identified, 2 = index not below ComponentCount.
int GetDeviceInfo(uint32_t index, FlashDeviceRecord* record);

#endif  // KELVOR_OPS_OPS_H
