#include "tests/kelvor_ravo/fake_ravoacc32.h"

#include <cstring>

namespace fakeravo {

Library Fake;

void Reset() {
    Fake = Library{};
}

}  // namespace fakeravo

using fakeravo::Fake;

int32_t RAVOCALL RavoInit(uint32_t Reserved, RavoInitBlock* Block) {
    Fake.InitReserved = Reserved;
    Fake.InitBlockSize = Block->Size;
    return Fake.InitResult;
}

int32_t RAVOCALL RavoDestroy(void) {
    return 1;
}

int32_t RAVOCALL RavoPCI(RavoPciRequest* Request) {
    Fake.PciCalls.push_back(*Request);
    if (Fake.PciFails) {
        return 0;
    }
    if (Request->Operation == RAVO_PCI_READ32) {
        Request->ReadValue = Fake.Config[Request->ConfigAddress];
    } else {
        uint32_t value = Request->WriteValue;
        if (Request->ConfigAddress == 0x8000F8DC && Fake.BiosControlKeepsWriteEnableClear) {
            value &= ~1u;
        }
        Fake.Config[Request->ConfigAddress] = value;
    }
    return 1;
}

int32_t RAVOCALL RavoMapPhys(RavoMapRequest* Request) {
    Fake.MapCalls.push_back(*Request);
    if (Fake.MapFails) {
        return 0;
    }
    Request->VirtualAddress = Fake.MappedAddress;
    return 1;
}

int32_t RAVOCALL RavoUnmapPhys(RavoMapRequest* Request) {
    Fake.UnmapBlocks.push_back(Request);
    Fake.UnmapCalls.push_back(*Request);
    return Fake.UnmapFails ? 0 : 1;
}

int32_t RAVOCALL RavoIO(RavoIoRequest* Request) {
    Fake.IoCalls.push_back(*Request);
    return Fake.IoResult;
}

int32_t RAVOCALL RavoGetLastError(char* Buffer, uint32_t BufferSize) {
    std::strncpy(Buffer, Fake.ErrorText.c_str(), BufferSize - 1);
    Buffer[BufferSize - 1] = '\0';
    return 1;
}
