// What the library's entry points need from whatever provides the hardware.
// The virtual SPI board is the only backend built today; a backend for real
// hardware would be a second row of the table with the same operations.
#ifndef RAVOACC32_BACKEND_H
#define RAVOACC32_BACKEND_H

#include <cstdint>
#include <string>

namespace ravoacc {

// Entry points whose failure a backend can inject.
enum class EntryPoint { Init, Pci, MapPhys };

struct Backend {
    const char* Name;
    // Opens the hardware (reading its own configuration). Returns a handle, or
    // null with `error` set.
    void* (*Open)(std::string* error);
    void (*Close)(void* handle);
    // The text of an injected failure of this entry point, or null.
    const char* (*InjectedFailure)(void* handle, EntryPoint call);
    bool (*PciRead32)(void* handle, uint32_t configAddress, uint32_t* value, std::string* error);
    bool (*PciWrite32)(void* handle, uint32_t configAddress, uint32_t value, std::string* error);
    bool (*IoWrite8)(void* handle, uint32_t port, uint8_t value, std::string* error);
    // Makes the 4 KB physical page reachable at a virtual address below 4 GB.
    bool (*MapPage)(void* handle, uint32_t physicalPage, uint32_t* virtualAddress,
                    std::string* error);
    bool (*UnmapPage)(void* handle, uint32_t virtualAddress, std::string* error);
};

// The backend RavoInit opens.
const Backend& SelectedBackend();

}  // namespace ravoacc

#endif  // RAVOACC32_BACKEND_H
