// The board's outside: opening and closing a board, the LPC bridge's PCI
// configuration space, the I/O ports (the reset port), page mapping checks
// and the trapped register accesses that reach the SPI controller.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "board_model.h"
#include "spi_board.h"

namespace spiboard {
namespace {

#include "default_board.inc"

constexpr uint32_t kResetPort = 0xCF9;
constexpr uint32_t kLpcConfigBase = 0x8000F800u;  // bus 0, device 31, function 0

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

uint32_t SpiPage(const Board* b) {
    return (b->lpc[kLpcRcbaReg / 4] & 0xFFFFC000u) + kSpiPageOffset;
}

bool RcbaEnabled(const Board* b) {
    return (b->lpc[kLpcRcbaReg / 4] & 1) != 0;
}

uint32_t WidthMask(unsigned width) {
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1);
}

void LogOther(Board* b, uint8_t type, uint32_t addr, uint32_t value, unsigned width) {
    if (b->config.logPath.empty() || !b->config.logCycles) {
        return;
    }
    LogEntry e;
    std::memset(&e, 0, sizeof(e));
    e.startNs = e.endNs = b->now;
    e.type = type;
    e.addr = addr;
    e.value = value;
    e.bytes = static_cast<uint16_t>(width);
    e.prefix = -1;
    e.cs = -1;
    LogCycle(b, e);
}

// Chipset power-on values; a full reset also cycles the flash parts' power.
void PlatformReset(Board* b, bool full) {
    std::memcpy(b->lpc, b->config.lpcPowerOn, sizeof(b->lpc));
    ControllerPowerOn(b);
    for (unsigned i = 0; i < b->config.chipCount; ++i) {
        if (full) {
            ChipPowerCycle(&b->chips[i]);
        }
    }
    ++b->totals.resets;
    LogOther(b, kLogReset, kResetPort, full ? 1 : 0, 1);
}

void WriteLpc(Board* b, uint32_t reg, uint32_t value) {
    uint32_t& slot = b->lpc[reg / 4];
    switch (reg) {
        case kLpcIdReg:
        case kLpcClassReg:
            return;  // identification is read-only
        case kLpcRcbaReg:
            slot = value & kRcbaWritable;
            return;
        case kLpcBiosControlReg: {
            uint32_t mask = b->config.biosControlWritable & ~kBiosLockEnable;
            uint32_t next = (slot & ~mask) | (value & mask);
            // The lock enable is set once and cleared only by a reset; while
            // it is set the chipset takes back every attempt to set the write
            // enable, as do chipsets the board file marks as refusing.
            if (value & kBiosLockEnable & b->config.biosControlWritable) {
                next |= kBiosLockEnable;
            }
            bool raising = (next & kBiosWriteEnable) && !(slot & kBiosWriteEnable);
            if (raising && (b->config.biosWriteEnableRefused || (next & kBiosLockEnable))) {
                next &= ~kBiosWriteEnable;
            }
            slot = next;
            return;
        }
        default:
            slot = value;
            return;
    }
}

bool SplitBoardPath(const std::string& path, std::string* folder, std::string* stem) {
    size_t slash = path.find_last_of("/\\");
    *folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    *stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    return !name.empty();
}

}  // namespace

Board* Open(const char* boardFile, std::string* error) {
    std::string text, source, folder, stem;
    if (boardFile == nullptr) {
        text = kDefaultBoardJson;
        source = "built-in default board";
        stem = "ravo-default";
    } else {
        source = boardFile;
        std::ifstream in(source, std::ios::binary);
        if (!in || !SplitBoardPath(source, &folder, &stem)) {
            SetError(error, source + ": cannot open the board file");
            return nullptr;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            SetError(error, source + ": cannot read the board file");
            return nullptr;
        }
    }
    std::unique_ptr<Board> board(new Board());
    std::string reason;
    if (!ParseBoardFile(text, source, folder, stem, &board->config, &reason)) {
        SetError(error, reason);
        return nullptr;
    }
    const char* logEnv = std::getenv("SPIBOARD_LOG");
    if (logEnv != nullptr && logEnv[0] != '\0') {
        board->config.logPath = logEnv;
    }
    for (unsigned i = 0; i < board->config.chipCount; ++i) {
        board->chips[i].config = &board->config.chips[i];
    }
    bool created = false;
    if (!LoadImages(board.get(), &created, &reason)) {
        SetError(error, reason);
        return nullptr;
    }
    // Power-on state, unless the state file says where the last run left it.
    // A chip that starts from a new image means a new board: its old state
    // (loaded from a descriptor that is gone) is not taken up.
    std::memcpy(board->lpc, board->config.lpcPowerOn, sizeof(board->lpc));
    for (unsigned i = 0; i < board->config.chipCount; ++i) {
        Chip& chip = board->chips[i];
        chip.status = chip.config->part.statusInitial;
        ChipPowerCycle(&chip);
    }
    ControllerPowerOn(board.get());
    bool found = false;
    if (!created && !LoadState(board.get(), &found, &reason)) {
        SetError(error, reason);
        return nullptr;
    }
    if (!board->config.logPath.empty() && board->config.logCycles) {
        board->log.reserve(board->config.logLimit);
    }
    return board.release();
}

void Close(Board* board) {
    if (board == nullptr) {
        return;
    }
    std::string reason;
    if (!SaveImages(board, &reason)) {
        std::fprintf(stderr, "spiboard: %s\n", reason.c_str());
    }
    if (!SaveState(board, &reason)) {
        std::fprintf(stderr, "spiboard: %s\n", reason.c_str());
    }
    if (!WriteLogFile(*board, &reason)) {
        std::fprintf(stderr, "spiboard: %s\n", reason.c_str());
    }
    delete board;
}

const char* InjectedFailure(Board* board, Call call) {
    if (board == nullptr) {
        return nullptr;
    }
    CallFault& fault = board->config.callFaults[static_cast<unsigned>(call)];
    ++fault.calls;
    if (!fault.set) {
        return nullptr;
    }
    bool hit = fault.nth == 0 || (fault.calls >= fault.nth &&
                                  (fault.count == 0 || fault.calls < fault.nth + fault.count));
    return hit ? fault.error.c_str() : nullptr;
}

// The chipset only decodes dword-aligned type-1 configuration addresses.
static bool ConfigAddressValid(uint32_t configAddress, std::string* error) {
    if ((configAddress & 0x80000000u) != 0 && (configAddress & 3) == 0) {
        return true;
    }
    char text[96];
    std::snprintf(text, sizeof(text),
                  "configuration address 0x%08X needs bit 31 set and bits 0-1 clear",
                  configAddress);
    SetError(error, text);
    return false;
}

bool PciRead32(Board* board, uint32_t configAddress, uint32_t* value, std::string* error) {
    if (board == nullptr || value == nullptr) {
        SetError(error, "no board is open");
        return false;
    }
    if (!ConfigAddressValid(configAddress, error)) {
        return false;
    }
    board->now += board->config.readCostNs;
    ++board->totals.pciReads;
    bool lpc = (configAddress & 0x7FFFFF00u) == (kLpcConfigBase & 0x7FFFFF00u);
    *value = lpc ? board->lpc[(configAddress & 0xFC) / 4] : 0xFFFFFFFFu;
    return true;
}

bool PciWrite32(Board* board, uint32_t configAddress, uint32_t value, std::string* error) {
    if (board == nullptr) {
        SetError(error, "no board is open");
        return false;
    }
    if (!ConfigAddressValid(configAddress, error)) {
        return false;
    }
    board->now += board->config.writeCostNs;
    ++board->totals.pciWrites;
    if ((configAddress & 0x7FFFFF00u) == (kLpcConfigBase & 0x7FFFFF00u)) {
        WriteLpc(board, configAddress & 0xFC, value);
    }
    return true;
}

bool IoWrite(Board* board, uint32_t port, uint32_t value, unsigned width, std::string* error) {
    if (board == nullptr) {
        SetError(error, "no board is open");
        return false;
    }
    if ((width != 1 && width != 2 && width != 4) || port > 0xFFFF) {
        SetError(error, "I/O writes are 1, 2 or 4 bytes to ports 0x0000 to 0xFFFF");
        return false;
    }
    board->now += board->config.writeCostNs;
    ++board->totals.ioWrites;
    LogOther(board, kLogIo, port, value & WidthMask(width), width);
    for (unsigned i = 0; i < width; ++i) {
        if (port + i != kResetPort) {
            continue;
        }
        // System reset (bit 1) with the CPU reset (bit 2); bit 3 asks for the
        // full reset that also cycles power.
        uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        if ((byte & 0x06) == 0x06) {
            PlatformReset(board, (byte & 0x08) != 0);
        }
    }
    return true;
}

bool CanMapPage(Board* board, uint32_t physicalPage, std::string* error) {
    if (board == nullptr) {
        SetError(error, "no board is open");
        return false;
    }
    char text[160];
    if ((physicalPage & 0xFFF) != 0) {
        std::snprintf(text, sizeof(text), "0x%08X is not the start of a 4 KB page", physicalPage);
        SetError(error, text);
        return false;
    }
    if (!RcbaEnabled(board)) {
        SetError(error, "the root complex register block is disabled (RCBA bit 0 clear)");
        return false;
    }
    if (physicalPage != SpiPage(board)) {
        std::snprintf(text, sizeof(text),
                      "physical page 0x%08X holds no device registers of this board (the SPI "
                      "registers are in page 0x%08X)",
                      physicalPage, SpiPage(board));
        SetError(error, text);
        return false;
    }
    return true;
}

uint32_t MmioRead(Board* board, uint32_t physicalAddress, unsigned width) {
    if (board == nullptr || (width != 1 && width != 2 && width != 4)) {
        return 0xFFFFFFFFu;
    }
    uint32_t page = SpiPage(board);
    if (!RcbaEnabled(board) || physicalAddress - page >= 0x1000) {
        return WidthMask(width);
    }
    return ControllerRead(board, physicalAddress - page, width);
}

void MmioWrite(Board* board, uint32_t physicalAddress, unsigned width, uint32_t value) {
    if (board == nullptr || (width != 1 && width != 2 && width != 4)) {
        return;
    }
    uint32_t page = SpiPage(board);
    if (!RcbaEnabled(board) || physicalAddress - page >= 0x1000) {
        return;
    }
    ControllerWrite(board, physicalAddress - page, width, value & WidthMask(width));
}

}  // namespace spiboard
