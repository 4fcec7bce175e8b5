// The virtual SPI board: LPC bridge, SPI controller and flash chips of one
// board, as the access library sees them. The library (ravoacc32) is the only
// user besides the board's own tests; it knows nothing of the model inside.
//
// A board is described by a JSON board file. Its flash contents and the
// chipset state that outlives a run live in files named by the board file
// (relative to it) and are written back by Close.
#ifndef SPI_BOARD_H
#define SPI_BOARD_H

#include <cstdint>
#include <string>

namespace spiboard {

struct Board;

// Library entry points whose failure a board file can inject.
enum class Call { Init, Pci, MapPhys };

// Opens the board of `boardFile`, or the built-in default board (files in the
// current directory) when it is null. Returns null with `error` set (reason
// and, for a bad file, the position) when the board cannot be opened.
Board* Open(const char* boardFile, std::string* error);
// Persists flash images and chipset state, then frees the board.
void Close(Board* board);

// An injected failure for this call, or null. Counts the call.
const char* InjectedFailure(Board* board, Call call);

// 32-bit PCI configuration access by configuration-mechanism address.
bool PciRead32(Board* board, uint32_t configAddress, uint32_t* value, std::string* error);
bool PciWrite32(Board* board, uint32_t configAddress, uint32_t value, std::string* error);
// One I/O port write of `width` bytes (1, 2 or 4).
bool IoWrite(Board* board, uint32_t port, uint32_t value, unsigned width, std::string* error);

// Whether the 4 KB page at `physicalPage` holds modelled device registers
// that may be mapped.
bool CanMapPage(Board* board, uint32_t physicalPage, std::string* error);

// Device register access of `width` bytes (1, 2 or 4) at a physical address
// inside a mappable page. The hot path of every trapped access: no
// allocation, constant time.
uint32_t MmioRead(Board* board, uint32_t physicalAddress, unsigned width);
void MmioWrite(Board* board, uint32_t physicalAddress, unsigned width, uint32_t value);

}  // namespace spiboard

#endif  // SPI_BOARD_H
