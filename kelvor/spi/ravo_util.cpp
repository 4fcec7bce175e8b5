// The thin wrapper over the hardware-access library: every call is traced,
// and every library failure is reported the same way, through RAVOParseError.
#include "kelvor/spi/ravo_util.h"

#include <cstdint>
#include <cstring>

#include "kelvor/front/console.h"
#include "ravoacc32.h"

// The one mapping of the run (the SPI register window): filled for the
// mapping and handed unchanged to the unmapping.
RavoMapRequest SpiWindowRequest = {0, 0, 0, 0};
int32_t SpiWindowMapped = 0;

namespace {
// The library may keep its state in the block for as long as it is open.
RavoInitBlock InitBlock;
}  // namespace

int32_t InitRAVODriver() {
    std::memset(&InitBlock, 0, sizeof InitBlock);
    InitBlock.Size = RAVO_INIT_BLOCK_SIZE;
    const int32_t result = RavoInit(0, &InitBlock);
    TraceOutput("RAVOUtil: Call to RavoInit, return val = %d\n", result);
    if (result == 0) {
        TraceOutput("RAVOUtil: Call to RAVOParseError: from InitRAVODriver\n");
        RAVOParseError();
    }
    return result;
}

void RAVOParseError() {
    char text[RAVO_ERROR_TEXT_SIZE];
    text[0] = '\0';
    RavoGetLastError(text, sizeof text);
    text[sizeof text - 1] = '\0';
    PrintOutput("RAVOUtil: Error during RAVO Call: %s \n", text);
}

uint32_t RavoPci_IN(uint32_t configAddress) {
    TraceOutput("RAVOUtil: RavoPci_IN called with address of: 0x%08X\n", configAddress);
    RavoPciRequest request = {sizeof(RavoPciRequest), RAVO_PCI_READ32, configAddress, 0, 0, 0, 0};
    if (RavoPCI(&request) != 0) {
        return request.ReadValue;
    }
    TraceOutput("RAVOUtil: Call to RAVOParseError: from RavoPci_IN\n");
    RAVOParseError();
    return 0;
}

uint32_t RavoPci_OUT(uint32_t configAddress, uint32_t value) {
    TraceOutput("RAVOUtil: RavoPci_OUT called with address of: 0x%08X, and value of: 0x%08X\n",
                configAddress, value);
    RavoPciRequest request = {
        sizeof(RavoPciRequest), RAVO_PCI_WRITE32, configAddress, 0, value, 0, 0};
    if (RavoPCI(&request) != 0) {
        return request.ReadValue;
    }
    TraceOutput("Call to RAVOParseError: from RavoPci_OUT\n");
    RAVOParseError();
    return 0;
}

volatile uint8_t* RAVOMapPhysAddress(uint32_t physicalAddress) {
    TraceOutput("RAVOUtil: Trying to map physical address: 0x%08X\n", physicalAddress);
    SpiWindowRequest = {sizeof(RavoMapRequest), physicalAddress & 0xFFFFF000u, RAVO_MAP_UNCACHED,
                        0};
    if (RavoMapPhys(&SpiWindowRequest) != 0) {
        SpiWindowMapped = 1;
    } else {
        SpiWindowMapped = 0;
        TraceOutput("RAVOUtil: Call to RAVOParseError: from RAVOMapPhysAddress\n");
        RAVOParseError();
    }
    TraceOutput("RAVOUtil: Got a virtual address pointer: 0x%08X\n",
                SpiWindowRequest.VirtualAddress);
    const uintptr_t address =
        static_cast<uintptr_t>(SpiWindowRequest.VirtualAddress) + (physicalAddress & 0xFFFu);
    return reinterpret_cast<volatile uint8_t*>(address);
}

int32_t RAVOUnMapPhysAddress() {
    if (SpiWindowMapped == 0) {
        return 1;
    }
    const int32_t result = RavoUnmapPhys(&SpiWindowRequest);
    if (result != 0) {
        SpiWindowMapped = 0;
    } else {
        TraceOutput("RAVOUtil: Call to RAVOParseError: from RAVOUnMapPhysAddress\n");
        RAVOParseError();
    }
    return result;
}

int32_t ResetPlatform() {
    RavoIoRequest request = {sizeof(RavoIoRequest), RAVO_IO_WRITE8, 0xCF9, 0x0E};
    const int32_t result = RavoIO(&request);
    if (result == 0) {
        // A reset that did not happen must not pass in silence.
        TraceOutput("RAVOUtil: Call to RAVOParseError: from ResetPlatform\n");
        RAVOParseError();
    }
    return result;
}
