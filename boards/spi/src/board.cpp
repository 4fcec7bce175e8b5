// Placeholder until the board model lands: no board can be opened.
#include "spi_board.h"

namespace spiboard {

Board* Open(const char*, std::string* error) {
    if (error != nullptr) {
        *error = "the virtual SPI board is not built yet";
    }
    return nullptr;
}
void Close(Board*) {}
const char* InjectedFailure(Board*, Call) { return nullptr; }
bool PciRead32(Board*, uint32_t, uint32_t*, std::string*) { return false; }
bool PciWrite32(Board*, uint32_t, uint32_t, std::string*) { return false; }
bool IoWrite(Board*, uint32_t, uint32_t, unsigned, std::string*) { return false; }
bool CanMapPage(Board*, uint32_t, std::string*) { return false; }
uint32_t MmioRead(Board*, uint32_t, unsigned) { return 0xFFFFFFFFu; }
void MmioWrite(Board*, uint32_t, unsigned, uint32_t) {}

}  // namespace spiboard
