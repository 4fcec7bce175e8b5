// The records of one virtual SPI board: what the board file configures
// (BoardConfig and its parts) and the live state of the LPC bridge, the SPI
// controller and the flash chips (Board). Shared by the board's own sources
// only; the library sees nothing of it.
#ifndef BOARDS_SPI_SRC_BOARD_MODEL_H
#define BOARDS_SPI_SRC_BOARD_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

namespace spiboard {

constexpr unsigned kMaxChips = 2;
constexpr unsigned kMaxEraseCommands = 4;
constexpr unsigned kMaxChipEraseOpcodes = 2;
constexpr unsigned kDataBytes = 64;
constexpr unsigned kLpcDwords = 64;

// Offsets inside the 4 KB page at RCBA + 0x3000.
constexpr uint32_t kSpiPageOffset = 0x3000;
constexpr uint32_t kSpiBlockOffset = 0x20;  // the register block starts here
constexpr uint32_t kSpiBlockSize = 0xE0;    // up to the end of the 256-byte window

// LPC bridge configuration registers the board gives meaning to.
constexpr uint32_t kLpcIdReg = 0x00;
constexpr uint32_t kLpcClassReg = 0x08;
constexpr uint32_t kLpcBiosControlReg = 0xDC;
constexpr uint32_t kLpcRcbaReg = 0xF0;
constexpr uint32_t kRcbaWritable = 0xFFFFC001u;
constexpr uint32_t kBiosWriteEnable = 0x01;
constexpr uint32_t kBiosLockEnable = 0x02;

// Answer of one read-ID opcode: the bytes a part shifts out after the opcode,
// repeated when more are clocked in.
struct IdAnswer {
    bool supported = false;
    uint8_t length = 0;
    uint8_t bytes[4] = {0, 0, 0, 0};
};

struct EraseCommand {
    uint8_t opcode = 0;
    uint32_t size = 0;  // bytes, a power of two
    uint64_t busyNs = 0;
};

enum class StatusEnable : uint8_t { Wren, Ewsr, Either };

// A flash part as the datasheet describes it.
struct PartModel {
    std::string name;
    IdAnswer id9F, id90, idAB;
    uint32_t size = 0;      // bytes, a power of two
    uint32_t pageSize = 0;  // program page: 256, or 1 for byte-program parts
    EraseCommand erases[kMaxEraseCommands];
    unsigned eraseCount = 0;
    uint8_t chipEraseOpcodes[kMaxChipEraseOpcodes] = {0, 0};
    unsigned chipEraseCount = 0;
    uint64_t chipEraseNs = 0;
    uint64_t programPageNs = 0;  // a whole page
    uint64_t programByteNs = 0;  // a single byte
    uint64_t writeStatusNs = 0;
    uint8_t protectMask = 0x1C;   // block-protect bits of the status register
    uint8_t writableMask = 0x9C;  // bits a status write may change
    bool statusVolatile = false;  // protect bits return to statusPowerOn at power-up
    uint8_t statusPowerOn = 0;
    uint8_t statusInitial = 0;  // a new non-volatile part's status
    StatusEnable statusEnable = StatusEnable::Wren;
};

enum class WriteStatusFault : uint8_t { None, Ignore, Fcerr };

struct ChipConfig {
    PartModel part;
    std::string imagePath;     // resolved against the board folder
    uint8_t silentIdMask = 0;  // bit 0: 0x9F, bit 1: 0x90, bit 2: 0xAB return nothing
    WriteStatusFault writeStatusFault = WriteStatusFault::None;
};

struct RegionConfig {
    bool present = false;
    uint32_t base = 0;
    uint32_t limit = 0;  // last byte
};

struct MasterConfig {
    uint16_t id = 0;
    uint8_t read = 0;
    uint8_t write = 0;
};

struct DescriptorConfig {
    bool present = false;
    unsigned components = 1;
    uint8_t densities[kMaxChips] = {0, 0};
    RegionConfig regions[4];       // Descriptor, BIOS, ME, GbE
    MasterConfig masters[3];       // CPU/BIOS, ME, GbE
    uint8_t componentBase = 0x03;  // section bases in 16-byte units
    uint8_t regionBase = 0x04;
    uint8_t masterBase = 0x06;
};

// Cycle kinds, as the log names them and as faults select them.
enum class CycleKind : uint8_t {
    Read,
    Program,
    Erase,
    ChipErase,
    ReadId,
    ReadStatus,
    WriteStatus,
    WriteEnable,
    Other,
    Count
};

enum class SeqSelect : uint8_t { Any, Software, Hardware };
enum class KindSelect : uint8_t { Any, Read, Program, Erase, ReadId, WriteStatus };

struct CycleFault {
    KindSelect kind = KindSelect::Any;
    SeqSelect seq = SeqSelect::Any;
    uint32_t nth = 1;
    uint32_t count = 1;  // 0: every cycle from the n-th on
    bool ael = false;    // else FCERR
    uint32_t seen = 0;   // matching cycles so far in this run
};

struct CallFault {
    bool set = false;
    std::string error;
    uint32_t nth = 0;    // 0: every call
    uint32_t count = 1;  // 0: every call from the n-th on
    uint32_t calls = 0;
};

struct BoardConfig {
    std::string sourceName;  // the board file as given, for messages
    std::string name;
    ChipConfig chips[kMaxChips];
    unsigned chipCount = 0;
    DescriptorConfig descriptor;
    std::string statePath;
    uint32_t spiPsPerBit = 50000;  // 20 MHz
    uint32_t lpcPowerOn[kLpcDwords] = {};
    uint32_t biosControlWritable = 0x0000000F;
    bool biosWriteEnableRefused = false;
    bool lockedAtPowerOn = false;
    bool fdopss = true;
    uint8_t opmenu[8] = {};
    uint16_t optype = 0;
    uint8_t preop[2] = {};
    uint32_t vscc = 0;
    bool fastForward = true;
    uint64_t readCostNs = 1000;
    uint64_t writeCostNs = 250;
    bool scipStuck = false;
    uint32_t scipStuckAfter = 0;
    std::vector<CycleFault> cycleFaults;
    CallFault callFaults[3];  // Init, Pci, MapPhys
    std::string logPath;      // empty: no log
    bool logCycles = true;
    bool logAppend = false;
    uint32_t logLimit = 1000000;
};

// Live state of one flash chip.
struct Chip {
    const ChipConfig* config = nullptr;
    std::vector<uint8_t> image;
    uint32_t sizeMask = 0;
    bool dirty = false;
    uint8_t status = 0;  // without WIP and WEL
    bool wel = false;
    bool ewsrLatch = false;
    uint64_t busyUntil = 0;
};

// The SPI controller's registers (the parts software can see).
struct SpiRegisters {
    uint8_t hwFlags = 0;  // HSFSTS bits 0-2
    uint16_t hsfctl = 0;  // without the go bit
    bool flockdn = false;
    bool fdopss = false;
    bool fdv = false;
    uint32_t faddr = 0;
    uint8_t fdata[kDataBytes] = {};
    uint32_t fracc = 0;
    uint32_t freg[4] = {};
    uint8_t swFlags = 0;     // SSFSTS bits 2-4
    uint8_t ssfctl[3] = {};  // bytes at 0x91, 0x92, 0x93
    uint8_t preop[2] = {};
    uint16_t optype = 0;
    uint8_t opmenu[8] = {};
    uint32_t vscc = 0;
    // Loaded from the descriptor at power-on with the region registers.
    unsigned components = 0;
    uint32_t componentSize[kMaxChips] = {};
};

// The cycle the controller is running, if any.
struct CycleState {
    bool active = false;
    bool hardware = false;
    bool stuck = false;
    uint64_t doneAt = 0;
    uint64_t fastForwardTo = 0;  // the clock jumps here when the cycle ends
    uint8_t errorFlags = 0;      // FCERR/AEL in the layout of the status register used
};

struct LogEntry {
    uint64_t startNs;
    uint64_t endNs;
    uint32_t addr;
    uint32_t value;
    uint16_t bytes;
    uint8_t type;  // LogType
    uint8_t kind;  // CycleKind
    uint8_t opcode;
    int16_t prefix;  // -1: none
    uint8_t hardware;
    uint8_t hasAddr;
    int8_t cs;  // -1: no chip answered
    uint8_t outcome;
    uint8_t chipNote;
};

enum LogType : uint8_t { kLogCycle, kLogIo, kLogReset, kLogGoWhileBusy };
enum Outcome : uint8_t { kDone, kFcerr, kAel, kStuck };
enum ChipNote : uint8_t {
    kChipOk,
    kChipIgnored,
    kChipBusy,
    kChipProtected,
    kChipNotEnabled,
    kChipAbsent
};

struct Totals {
    uint64_t cycles[2][static_cast<unsigned>(CycleKind::Count)] = {};  // [hardware][kind]
    uint64_t fcerr = 0, ael = 0, goWhileBusy = 0;
    uint64_t bytesRead = 0, bytesProgrammed = 0, bytesErased = 0;
    uint64_t registerReads = 0, registerWrites = 0;
    uint64_t pciReads = 0, pciWrites = 0, ioWrites = 0, resets = 0;
    uint64_t busNs = 0, chipBusyNs = 0;
    uint64_t logDropped = 0;
};

struct Board {
    BoardConfig config;
    uint32_t lpc[kLpcDwords] = {};
    Chip chips[kMaxChips];
    SpiRegisters regs;
    CycleState cycle;
    uint64_t now = 0;
    uint64_t cyclesStarted = 0;
    std::vector<LogEntry> log;  // reserved once, never grows past its capacity
    Totals totals;
    std::string stateLoaded;  // state file text as read, to skip an unchanged write
};

// Descriptor signature at flash address 0.
constexpr uint32_t kDescriptorSignature = 0x0FF0A55Au;

// board_file.cpp
bool ParseBoardFile(const std::string& text, const std::string& sourceName,
                    const std::string& folder, const std::string& stem, BoardConfig* config,
                    std::string* error);
bool FindPartModel(const std::string& name, PartModel* part);
std::string KnownPartNames();
uint32_t DensityBytes(unsigned code);
// A number written as decimal or with a 0x prefix, the whole text.
bool ParseNumberText(const std::string& text, uint64_t* value);
// "file:line:column: reason" for a JSON syntax error at byte `offset`.
std::string SyntaxErrorText(const std::string& file, const std::string& text, size_t offset,
                            const std::string& what);

// descriptor.cpp
void WriteDescriptor(const DescriptorConfig& descriptor, std::vector<uint8_t>* image);
void LoadDescriptorRegisters(Board* board);

// flash_chip.cpp
struct ChipTransfer {
    uint8_t opcode;
    bool hasAddr;
    uint32_t addr;  // chip-local
    uint8_t* data;
    uint32_t count;
    bool dataOut;  // data flows to the chip
};
// One SPI transaction with the chip select low from `at` on. Returns a
// ChipNote; `busyNs` gets the internal operation time the command started.
uint8_t ChipExecute(Board* board, Chip* chip, uint64_t at, const ChipTransfer& transfer,
                    uint64_t* busyNs);
bool ChipKnowsErase(const Chip& chip, uint8_t opcode, uint32_t* size);
bool ChipKnowsChipErase(const Chip& chip, uint8_t opcode);
void ChipPowerCycle(Chip* chip);

// spi_controller.cpp
void ControllerPowerOn(Board* board);
uint32_t ControllerRead(Board* board, uint32_t pageOffset, unsigned width);
void ControllerWrite(Board* board, uint32_t pageOffset, unsigned width, uint32_t value);

// cycle_log.cpp
void LogCycle(Board* board, const LogEntry& entry);
bool WriteLogFile(const Board& board, std::string* error);
const char* CycleKindName(CycleKind kind);

// persistence.cpp
// Sets `created` when a chip had no image yet and starts erased.
bool LoadImages(Board* board, bool* created, std::string* error);
bool LoadState(Board* board, bool* found, std::string* error);
bool SaveImages(Board* board, std::string* error);
bool SaveState(Board* board, std::string* error);
bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error);

}  // namespace spiboard

#endif  // BOARDS_SPI_SRC_BOARD_MODEL_H
