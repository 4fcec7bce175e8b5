// Drives a virtual SPI board through spi_board.h register by register, the
// way flash software does: the LPC bridge by configuration address, the SPI
// controller by trapped 8/16/32-bit accesses. Also makes scratch boards from
// board-file text and reads the cycle log back.
#ifndef TESTS_SPIBOARD_BOARD_DRIVER_H
#define TESTS_SPIBOARD_BOARD_DRIVER_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "spi_board.h"

namespace spitest {

// SPI register offsets from the block base (RCBA + 0x3020).
constexpr uint32_t kHsfsts = 0x04, kHsfctl = 0x06, kFaddr = 0x08, kFdata = 0x10;
constexpr uint32_t kFracc = 0x50, kFreg0 = 0x54, kSsfsts = 0x90, kSsfctl = 0x91;
constexpr uint32_t kSsfctlHigh = 0x92, kPreop = 0x94, kOptype = 0x96, kOpmenu = 0x98;
constexpr uint32_t kVscc = 0xC0;
constexpr uint32_t kBiosControl = 0x8000F8DC, kRcba = 0x8000F8F0;

// HSFSTS and SSFSTS bits.
constexpr uint16_t kHwFdone = 0x0001, kHwFcerr = 0x0002, kHwAel = 0x0004, kHwScip = 0x0020;
constexpr uint16_t kFdopss = 0x2000, kFdv = 0x4000, kFlockdn = 0x8000;
constexpr uint8_t kSwScip = 0x01, kSwFdone = 0x04, kSwFcerr = 0x08, kSwAel = 0x10;

// OPTYPE values.
enum OpType : unsigned { kReadNoAddr = 0, kWriteNoAddr = 1, kReadAddr = 2, kWriteAddr = 3 };

class Driver {
  public:
    explicit Driver(spiboard::Board* board);

    uint8_t R8(uint32_t offset);
    uint16_t R16(uint32_t offset);
    uint32_t R32(uint32_t offset);
    void W8(uint32_t offset, uint8_t value);
    void W16(uint32_t offset, uint16_t value);
    void W32(uint32_t offset, uint32_t value);

    uint32_t Pci(uint32_t address);
    void SetPci(uint32_t address, uint32_t value);
    void SetBiosWriteEnable();

    // Puts one opcode into an OPMENU slot with its type.
    void SetSlot(unsigned slot, uint8_t opcode, unsigned type);
    void SetPrefix(unsigned slot, uint8_t opcode);

    // One software-sequenced cycle on `slot`; returns SSFSTS once FDONE (or
    // an error) is seen, or with SCIP still set after too many polls.
    // `data` is sent for write types and filled for read types.
    uint8_t SwCycle(unsigned slot, uint32_t addr, std::vector<uint8_t>* data, bool atomic = false,
                    unsigned prefixSlot = 0);
    // Sends `opcode` with the given type through slot 7.
    uint8_t Command(uint8_t opcode, unsigned type, uint32_t addr, std::vector<uint8_t>* data,
                    bool atomic = false);
    std::vector<uint8_t> ReadId(uint8_t opcode, unsigned bytes, uint32_t probe = 0);
    uint8_t ReadStatus(uint32_t addr = 0);

    // One hardware-sequenced cycle (0 read, 2 program, 3 erase); returns HSFSTS.
    uint16_t HwCycle(unsigned type, uint32_t addr, std::vector<uint8_t>* data, unsigned count = 1);
    std::vector<uint8_t> HwRead(uint32_t addr, unsigned count);

    unsigned polls = 0;  // status polls of the last cycle

  private:
    spiboard::Board* board_;
    uint32_t base_;
};

// A board file in a scratch directory, opened; closed by the destructor.
struct ScratchBoard {
    ScratchBoard(const std::string& dir, const nlohmann::json& boardFile);
    ~ScratchBoard();
    void Reopen();
    void Close();
    std::string path;
    spiboard::Board* board = nullptr;
    std::string error;
};

// The shipped board file of that name, as JSON.
nlohmann::json ShippedBoard(const std::string& name);

// The log lines of a log file as JSON; the last one is the totals.
std::vector<nlohmann::json> ReadLog(const std::string& path);

}  // namespace spitest

#endif  // TESTS_SPIBOARD_BOARD_DRIVER_H
