// What the front end and the operations call in the SPI flash access layer.
#ifndef KELVOR_SPI_SPI_API_H
#define KELVOR_SPI_SPI_API_H

#include <cstdint>

// Bring-up: 0 = controller ready, 1 = failed (reason printed).
int InitializeSpi();

// Region selectors.
constexpr uint32_t kRegionDescriptor = 1;
constexpr uint32_t kRegionBios = 2;
constexpr uint32_t kRegionMe = 4;
constexpr uint32_t kRegionGbe = 8;

// 0 = found, 1 = descriptor invalid, 2 = region not defined.
int SpiGetRegion(uint32_t selector, uint32_t* startAddress, int32_t* length);
// 0 = allowed, 1 = denied. `write`: 0 read, 1 write.
int SpiCheckAccess(uint32_t address, uint32_t length, int write);

int SpiReadFlash(uint32_t address, uint8_t* buffer, uint32_t length);
int SpiWriteFlash(uint32_t address, const uint8_t* buffer, uint32_t length);
int SpiEraseBlock(uint32_t address);
int SpiEraseFlash();

// Frees PartDefinitions (if any) and sets PartDefinitionCount to 0.
void ReleasePartDefinitions();

#endif  // KELVOR_SPI_SPI_API_H
