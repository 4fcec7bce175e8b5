// The SPI controller as bring-up found it, and the flash part records. Filled
// once per run by InitializeSpi and read by every later flash access.
#ifndef KELVOR_SPI_SPI_STATE_H
#define KELVOR_SPI_SPI_STATE_H

#include <cstdint>

constexpr int kPartNameLength = 32;

struct FlashDeviceRecord {
    char Name[kPartNameLength + 1];
    uint32_t DeviceId;         // low 2 or 3 bytes compared with the ID read
    uint32_t IdInfo;           // bit 31 valid, bits 29-30 number of ID bytes
    uint32_t Size;             // bytes
    uint32_t EraseBlockSize;   // bytes erased by one EraseOpcode command
    int16_t EraseOpcode;       // negative: the part has none
    uint8_t WriteGranularity;  // write alignment and software program cycle size
    int16_t ChipEraseOpcode;   // negative: none
};

constexpr uint32_t kIdInfoValid = 0x80000000u;

// OPMENU (and PREOP) slots of the commands; -1 = not present.
struct OpMenuSlotSet {
    int8_t ProgramSlot;
    int8_t ReadSlot;
    int8_t EraseSlot;
    int8_t ReadIdSlot;
    int8_t ChipEraseSlot;
    int8_t WriteStatusSlot;
    int8_t WriteEnablePrefixSlot;
};

struct SpiControllerState {
    volatile uint8_t* RegisterBase;
    uint32_t SequencingMode;  // 0 software, 1 hardware
    uint32_t HwSeqAvailable;
    uint32_t DescriptorValid;
    uint32_t ComponentCount;  // 0 to 2
    uint32_t TotalFlashSize;
    FlashDeviceRecord Components[2];
    OpMenuSlotSet OpMenuSlots;
};

extern SpiControllerState SpiController;

// 1 while the SPI register window is mapped (kept by the library wrapper).
extern int32_t SpiWindowMapped;

// The part list read from the part definition file: the run's one heap
// allocation, freed by ReleasePartDefinitions.
extern FlashDeviceRecord* PartDefinitions;
extern uint32_t PartDefinitionCount;

#endif  // KELVOR_SPI_SPI_STATE_H
