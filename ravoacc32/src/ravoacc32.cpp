// The library's entry points: request block checks, the open backend, the
// pages mapped through it and the text of the last failure. Callers are
// expected to use the library from one thread at a time; only the trap's
// fault handler runs concurrently with it.
#include "ravoacc32.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "backend.h"

namespace {

using ravoacc::Backend;
using ravoacc::EntryPoint;

constexpr uint32_t kPciRequestSize = sizeof(RavoPciRequest);
constexpr uint32_t kMapRequestSize = sizeof(RavoMapRequest);
constexpr uint32_t kIoRequestSize = sizeof(RavoIoRequest);
static_assert(kPciRequestSize == 28 && kMapRequestSize == 16 && kIoRequestSize == 16,
              "request blocks are runs of 32-bit fields");
static_assert(sizeof(RavoInitBlock) == RAVO_INIT_BLOCK_SIZE, "init block size");

constexpr int kMaxMappings = 16;

struct Mapping {
    uint32_t VirtualAddress;  // 0 = free
    uint32_t PhysicalPage;
};

const Backend* OpenBackend = nullptr;
void* BackendHandle = nullptr;
Mapping Mappings[kMaxMappings];
char LastError[RAVO_ERROR_TEXT_SIZE] = "no failure has been recorded";

int32_t Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
int32_t Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(LastError, sizeof LastError, format, args);
    va_end(args);
    return 0;
}

// The checks every request block goes through before anything else: present,
// of the right size, and the library open.
bool CheckRequest(const char* function, const void* block, uint32_t size, uint32_t expected) {
    if (block == nullptr) {
        Fail("%s: no request block was given", function);
        return false;
    }
    if (size != expected) {
        Fail("%s: bad request size %u (expected %u)", function, static_cast<unsigned>(size),
             static_cast<unsigned>(expected));
        return false;
    }
    if (OpenBackend == nullptr) {
        Fail("%s: the library is not initialized (RavoInit has not succeeded)", function);
        return false;
    }
    return true;
}

bool Injected(const char* function, EntryPoint call) {
    const char* failure = OpenBackend->InjectedFailure(BackendHandle, call);
    if (failure != nullptr) {
        Fail("%s: %s", function, failure);
        return true;
    }
    return false;
}

}  // namespace

int32_t RAVOCALL RavoInit(uint32_t Reserved, RavoInitBlock* Block) {
    if (Block == nullptr) {
        return Fail("RavoInit: no init block was given");
    }
    if (Block->Size != RAVO_INIT_BLOCK_SIZE) {
        return Fail("RavoInit: bad init block size %u (expected %u)",
                    static_cast<unsigned>(Block->Size), RAVO_INIT_BLOCK_SIZE);
    }
    if (Reserved != 0) {
        return Fail("RavoInit: the reserved argument must be 0, not %u",
                    static_cast<unsigned>(Reserved));
    }
    if (OpenBackend != nullptr) {
        return Fail("RavoInit: the library is already initialized");
    }
    const Backend& backend = ravoacc::SelectedBackend();
    std::string error;
    void* handle = backend.Open(&error);
    if (handle == nullptr) {
        return Fail("RavoInit: %s", error.c_str());
    }
    const char* failure = backend.InjectedFailure(handle, EntryPoint::Init);
    if (failure != nullptr) {
        Fail("RavoInit: %s", failure);
        backend.Close(handle);
        return 0;
    }
    OpenBackend = &backend;
    BackendHandle = handle;
    return 1;
}

int32_t RAVOCALL RavoDestroy(void) {
    if (OpenBackend == nullptr) {
        return 1;
    }
    std::string ignored;
    for (Mapping& mapping : Mappings) {
        if (mapping.VirtualAddress != 0) {
            OpenBackend->UnmapPage(BackendHandle, mapping.VirtualAddress, &ignored);
            mapping = Mapping{};
        }
    }
    OpenBackend->Close(BackendHandle);
    OpenBackend = nullptr;
    BackendHandle = nullptr;
    return 1;
}

int32_t RAVOCALL RavoPCI(RavoPciRequest* Request) {
    if (!CheckRequest("RavoPCI", Request, Request != nullptr ? Request->Size : 0,
                      kPciRequestSize)) {
        return 0;
    }
    const uint32_t operation = Request->Operation;
    if (operation != RAVO_PCI_READ32 && operation != RAVO_PCI_WRITE32) {
        return Fail(
            "RavoPCI: unknown operation %u (%u reads, %u writes a 32-bit "
            "configuration register)",
            static_cast<unsigned>(operation), RAVO_PCI_READ32, RAVO_PCI_WRITE32);
    }
    if (Injected("RavoPCI", EntryPoint::Pci)) {
        return 0;
    }
    std::string error;
    if (operation == RAVO_PCI_READ32) {
        uint32_t value = 0;
        if (!OpenBackend->PciRead32(BackendHandle, Request->ConfigAddress, &value, &error)) {
            return Fail("RavoPCI: reading configuration address 0x%08X failed: %s",
                        static_cast<unsigned>(Request->ConfigAddress), error.c_str());
        }
        Request->ReadValue = value;
        return 1;
    }
    if (!OpenBackend->PciWrite32(BackendHandle, Request->ConfigAddress, Request->WriteValue,
                                 &error)) {
        return Fail("RavoPCI: writing 0x%08X to configuration address 0x%08X failed: %s",
                    static_cast<unsigned>(Request->WriteValue),
                    static_cast<unsigned>(Request->ConfigAddress), error.c_str());
    }
    return 1;
}

int32_t RAVOCALL RavoIO(RavoIoRequest* Request) {
    if (!CheckRequest("RavoIO", Request, Request != nullptr ? Request->Size : 0, kIoRequestSize)) {
        return 0;
    }
    if (Request->Operation != RAVO_IO_WRITE8) {
        return Fail("RavoIO: unknown operation %u (%u writes one byte to an I/O port)",
                    static_cast<unsigned>(Request->Operation), RAVO_IO_WRITE8);
    }
    if (Request->Port > 0xFFFF) {
        return Fail("RavoIO: port 0x%X is beyond the 16-bit I/O space",
                    static_cast<unsigned>(Request->Port));
    }
    if (Request->Value > 0xFF) {
        return Fail("RavoIO: value 0x%X does not fit the one byte a port write carries",
                    static_cast<unsigned>(Request->Value));
    }
    std::string error;
    if (!OpenBackend->IoWrite8(BackendHandle, Request->Port, static_cast<uint8_t>(Request->Value),
                               &error)) {
        return Fail("RavoIO: writing 0x%02X to port 0x%04X failed: %s",
                    static_cast<unsigned>(Request->Value), static_cast<unsigned>(Request->Port),
                    error.c_str());
    }
    return 1;
}

int32_t RAVOCALL RavoMapPhys(RavoMapRequest* Request) {
    if (!CheckRequest("RavoMapPhys", Request, Request != nullptr ? Request->Size : 0,
                      kMapRequestSize)) {
        return 0;
    }
    if (Request->Mode != RAVO_MAP_UNCACHED) {
        return Fail("RavoMapPhys: unknown mapping mode %u (%u maps a page uncached)",
                    static_cast<unsigned>(Request->Mode), RAVO_MAP_UNCACHED);
    }
    const uint32_t page = Request->PhysicalAddress;
    if ((page & 0xFFFu) != 0) {
        return Fail("RavoMapPhys: physical address 0x%08X is not the start of a 4 KB page",
                    static_cast<unsigned>(page));
    }
    if (Injected("RavoMapPhys", EntryPoint::MapPhys)) {
        return 0;
    }
    Mapping* slot = nullptr;
    for (Mapping& mapping : Mappings) {
        if (mapping.VirtualAddress == 0) {
            slot = &mapping;
            break;
        }
    }
    if (slot == nullptr) {
        return Fail("RavoMapPhys: all %d mappings are in use", kMaxMappings);
    }
    std::string error;
    uint32_t virtualAddress = 0;
    if (!OpenBackend->MapPage(BackendHandle, page, &virtualAddress, &error)) {
        return Fail("RavoMapPhys: physical page 0x%08X cannot be mapped: %s",
                    static_cast<unsigned>(page), error.c_str());
    }
    *slot = Mapping{virtualAddress, page};
    Request->VirtualAddress = virtualAddress;
    return 1;
}

int32_t RAVOCALL RavoUnmapPhys(RavoMapRequest* Request) {
    if (!CheckRequest("RavoUnmapPhys", Request, Request != nullptr ? Request->Size : 0,
                      kMapRequestSize)) {
        return 0;
    }
    for (Mapping& mapping : Mappings) {
        if (mapping.VirtualAddress == 0 || mapping.VirtualAddress != Request->VirtualAddress) {
            continue;
        }
        if (mapping.PhysicalPage != Request->PhysicalAddress) {
            return Fail("RavoUnmapPhys: the page at 0x%08X maps physical 0x%08X, not 0x%08X",
                        static_cast<unsigned>(mapping.VirtualAddress),
                        static_cast<unsigned>(mapping.PhysicalPage),
                        static_cast<unsigned>(Request->PhysicalAddress));
        }
        std::string error;
        if (!OpenBackend->UnmapPage(BackendHandle, mapping.VirtualAddress, &error)) {
            return Fail("RavoUnmapPhys: %s", error.c_str());
        }
        mapping = Mapping{};
        return 1;
    }
    return Fail("RavoUnmapPhys: 0x%08X is not a page mapped by RavoMapPhys",
                static_cast<unsigned>(Request->VirtualAddress));
}

int32_t RAVOCALL RavoGetLastError(char* Buffer, uint32_t BufferSize) {
    if (Buffer == nullptr || BufferSize == 0) {
        return 0;
    }
    const size_t length = std::strlen(LastError);
    const size_t copied = length < BufferSize - 1 ? length : BufferSize - 1;
    std::memcpy(Buffer, LastError, copied);
    Buffer[copied] = '\0';
    return 1;
}
