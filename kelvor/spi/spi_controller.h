// SPI controller bring-up: what InitializeSpi (spi_api.h) builds on, and the
// small facts about the controller that the cycle routines ask for.
#ifndef KELVOR_SPI_SPI_CONTROLLER_H
#define KELVOR_SPI_SPI_CONTROLLER_H

#include <cstdint>

#include "kelvor/spi/spi_state.h"

// LPC bridge RCBA register and where the SPI block lies behind it.
constexpr uint32_t kLpcRcbaAddress = 0x8000F8F0;
constexpr uint32_t kRcbaEnable = 0x00000001;
constexpr uint32_t kRcbaBaseMask = 0xFFFFC000;
constexpr uint32_t kSpiBlockOffset = 0x3020;

// Sequencing modes.
constexpr uint32_t kSoftwareSequencing = 0;
constexpr uint32_t kHardwareSequencing = 1;

// Results of SpiControllerInit.
constexpr int kInitReady = 0;
constexpr int kInitLockedUnusable = 1;
constexpr int kInitNoDevice = 2;
constexpr int kInitReadIdFailed = 3;
constexpr int kInitUnsupportedDevice = 5;
constexpr int kInitIncompatibleDevices = 6;
constexpr int kInitEnableFailed = 7;

// OpMenuSlots as they stand before bring-up, and as the menu is programmed.
constexpr OpMenuSlotSet kDefaultOpMenuSlots = {0, 1, 2, 3, 4, 5, 0};

int SpiControllerInit(volatile uint8_t* registerBase);
void SpiDumpRegisters();

// HSFSTS bit 15 (FLOCKDN), read afresh.
bool SpiRegistersLocked();
// The control-byte prefix slot bit that selects the PREOP slot of the write
// enable (slot 0 unless only slot 1 holds it).
uint8_t WriteEnablePrefixBit();
// The base flash address of component `index` (0 or 1).
uint32_t ComponentBase(uint32_t index);

#endif  // KELVOR_SPI_SPI_CONTROLLER_H
