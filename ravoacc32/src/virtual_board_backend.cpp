// The virtual SPI board as the library's backend. Configuration and I/O calls
// go straight to the board; a mapped page is a trap window whose device is
// the board's register decoder.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backend.h"
#include "spi_board.h"
#include "trap/mmio_trap.h"

namespace ravoacc {

namespace {

constexpr char kBoardVariable[] = "RAVOACC_BOARD";

spiboard::Board* AsBoard(void* handle) {
    return static_cast<spiboard::Board*>(handle);
}

uint32_t BoardRead(void* context, uint32_t physicalAddress, unsigned width) {
    return spiboard::MmioRead(AsBoard(context), physicalAddress, width);
}

void BoardWrite(void* context, uint32_t physicalAddress, unsigned width, uint32_t value) {
    spiboard::MmioWrite(AsBoard(context), physicalAddress, width, value);
}

void* OpenBoard(std::string* error) {
    const char* boardFile = std::getenv(kBoardVariable);
    if (boardFile != nullptr && boardFile[0] == '\0') {
        boardFile = nullptr;  // set but empty: as if unset
    }
    if (boardFile != nullptr) {
        // A file that cannot even be read gets a plain answer of our own.
        std::FILE* probe = std::fopen(boardFile, "rb");
        if (probe == nullptr) {
            *error = std::string("cannot read the board file \"") + boardFile + "\" named by " +
                     kBoardVariable + ": " + std::strerror(errno);
            return nullptr;
        }
        std::fclose(probe);
    }
    std::string reason;
    spiboard::Board* board = spiboard::Open(boardFile, &reason);
    if (board == nullptr) {
        if (boardFile != nullptr) {
            *error = std::string("bad board file \"") + boardFile + "\": " + reason;
        } else {
            *error = "the built-in default board cannot be opened: " + reason;
        }
    }
    return board;
}

void CloseBoard(void* handle) {
    spiboard::Close(AsBoard(handle));
}

const char* BoardInjectedFailure(void* handle, EntryPoint call) {
    spiboard::Call boardCall = spiboard::Call::Init;
    if (call == EntryPoint::Pci) {
        boardCall = spiboard::Call::Pci;
    } else if (call == EntryPoint::MapPhys) {
        boardCall = spiboard::Call::MapPhys;
    }
    return spiboard::InjectedFailure(AsBoard(handle), boardCall);
}

bool BoardPciRead32(void* handle, uint32_t configAddress, uint32_t* value, std::string* error) {
    return spiboard::PciRead32(AsBoard(handle), configAddress, value, error);
}

bool BoardPciWrite32(void* handle, uint32_t configAddress, uint32_t value, std::string* error) {
    return spiboard::PciWrite32(AsBoard(handle), configAddress, value, error);
}

bool BoardIoWrite8(void* handle, uint32_t port, uint8_t value, std::string* error) {
    return spiboard::IoWrite(AsBoard(handle), port, value, 1, error);
}

bool BoardMapPage(void* handle, uint32_t physicalPage, uint32_t* virtualAddress,
                  std::string* error) {
    if (!spiboard::CanMapPage(AsBoard(handle), physicalPage, error)) {
        return false;
    }
    const ravotrap::TrapDevice device = {BoardRead, BoardWrite, handle};
    return ravotrap::MapTrapWindow(physicalPage, device, virtualAddress, error);
}

bool BoardUnmapPage(void*, uint32_t virtualAddress, std::string* error) {
    return ravotrap::UnmapTrapWindow(virtualAddress, error);
}

const Backend kBackends[] = {
    {"virtual SPI board", OpenBoard, CloseBoard, BoardInjectedFailure, BoardPciRead32,
     BoardPciWrite32, BoardIoWrite8, BoardMapPage, BoardUnmapPage},
};

}  // namespace

const Backend& SelectedBackend() {
    return kBackends[0];
}

}  // namespace ravoacc
