// The flash descriptor as bring-up reads it, the region registers and the
// host's access rights. SpiGetRegion and SpiCheckAccess are in spi_api.h.
#ifndef KELVOR_SPI_DESCRIPTOR_REGIONS_H
#define KELVOR_SPI_DESCRIPTOR_REGIONS_H

#include <cstdint>

constexpr uint32_t kDescriptorSignature = 0x0FF0A55A;

// Bytes of a component by its descriptor density code; 0 for the reserved
// codes 6 and 7.
uint32_t DensityBytes(uint32_t code);

// Fills ComponentCount, TotalFlashSize and Components from the descriptor.
// Returns 1 when done, 0 otherwise (a descriptor kelvor cannot use is
// reported).
int GetFlashSpecsFromDescriptor();

#endif  // KELVOR_SPI_DESCRIPTOR_REGIONS_H
