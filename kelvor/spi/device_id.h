// Identification of the flash parts on the chip selects, the check of a
// locked opcode menu, and the enabling of the parts for writing.
#ifndef KELVOR_SPI_DEVICE_ID_H
#define KELVOR_SPI_DEVICE_ID_H

#include <cstdint>

#include "kelvor/spi/spi_state.h"

// An ID as read from a chip, in the layout of DeviceId and IdInfo.
struct ReadIdResult {
    uint32_t DeviceId;  // received bytes, the first most significant
    uint32_t IdInfo;    // bit 31 valid, bits 29-30 number of ID bytes
};

// Results of GetInstalledDevice.
constexpr int kDeviceIdentified = 0;
constexpr int kDeviceReadIdFailed = 1;
constexpr int kDeviceNoReadIdOpcode = 2;
constexpr int kDeviceNotListed = 3;

int GetInstalledDevice(uint32_t probeAddress, FlashDeviceRecord* destination);
// 0 = ID stored, 1 = failure.
int ReadDeviceId(uint32_t probeAddress, uint32_t slot, uint32_t idLength, ReadIdResult* id);
// Index 0 to 7 of the first OPMENU byte holding `opcode`, or -1.
int FindOpMenuSlot(uint8_t opcode);
// 1 when a locked menu offers at least one of the commands needed, else 0.
int IsOpMenuUsable();
// 1 when every found part has been enabled, 0 after a failure (printed).
int EnableFlashDevices();

#endif  // KELVOR_SPI_DEVICE_ID_H
