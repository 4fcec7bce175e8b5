// The thin wrapper through which kelvor reaches the hardware-access library.
#ifndef KELVOR_SPI_RAVO_UTIL_H
#define KELVOR_SPI_RAVO_UTIL_H

#include <cstdint>

int32_t InitRAVODriver();
void RAVOParseError();
uint32_t RavoPci_IN(uint32_t configAddress);
uint32_t RavoPci_OUT(uint32_t configAddress, uint32_t value);
volatile uint8_t* RAVOMapPhysAddress(uint32_t physicalAddress);
int32_t RAVOUnMapPhysAddress();
int32_t ResetPlatform();

#endif  // KELVOR_SPI_RAVO_UTIL_H
