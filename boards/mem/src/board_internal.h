// Inside the virtual memory board: the board file's settings and the state of
// every model. Only the board's own sources include this.
#ifndef BOARDS_MEM_SRC_BOARD_INTERNAL_H
#define BOARDS_MEM_SRC_BOARD_INTERNAL_H

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mem_board.h"

namespace memboard {

// Fixed platform addresses.
constexpr uint32_t kMcDefaultBase = 0xFED14000;
constexpr uint32_t kMcSize = 0x4000;
constexpr uint32_t kPciWindowBase = 0xE0000000;
constexpr uint32_t kPciWindowSize = 0x10000000;
constexpr uint32_t kTpmBase = 0xFED40000;
constexpr uint32_t kTpmSize = 0x5000;  // localities 0..4
constexpr uint32_t kHpetBase = 0xFED00000;
constexpr uint32_t kHpetSize = 0x400;
constexpr uint32_t kRcbaBase = 0xFED1C000;
constexpr uint32_t kRcbaSize = 0x4000;
constexpr uint32_t kHpetDecodeOffset = 0x3404;  // 0xFED1F404 in the RCBA block
constexpr uint32_t kEngineIfBase = 0xFED10000;
constexpr uint32_t kEngineIfSize = 0x10;
constexpr uint32_t kDramWindowTop = 0x40000000;  // eight 128 MB rank windows
constexpr uint32_t kRankWindowShift = 27;
constexpr uint64_t kHpetTicksPerSecond = 14318179;
constexpr unsigned kLaneCount = 9;  // eight data lanes and the ECC lane

// Where a register initialiser, mask or retained bit lives.
enum class Where : uint8_t { Mc, Pci, Memory };

struct ByteSpec {
    Where where = Where::Memory;
    uint32_t device = 0;  // Pci: bus << 8 | device << 3 | function
    uint32_t offset = 0;  // Mc: offset in the block; Pci: register; Memory: physical address
    uint8_t value = 0;    // initial value, or the mask
};

struct Costs {
    uint64_t memReadNs = 500;
    uint64_t memWriteNs = 100;
    uint64_t portReadNs = 1000;
    uint64_t portWriteNs = 1000;
    uint64_t port61ReadNs = 1000;
};

struct SpdError {
    unsigned byte = 0;
    uint8_t status = 0x04;  // the error bit(s) of the host status register
    unsigned times = 0;     // 0: every attempt; otherwise the first `times` attempts
};

struct DimmConfig {
    bool fitted = false;
    std::string source;
    std::vector<uint8_t> spd;  // 256 bytes
    unsigned ranks = 0;
    bool ecc = false;
    std::vector<SpdError> errors;
};

struct ReplyConfig {
    bool silent = false;
    int command = -1;  // -1: request command | 0x80
    int length = -1;   // -1: command byte and status bytes
    std::vector<uint8_t> status;
};

struct EngineConfig {
    unsigned hostDepth = 16;
    unsigned engineDepth = 16;
    int64_t readyAfterNs = 0;  // -1: never
    uint64_t ackDelayNs = 2000;
    uint64_t replyDelayNs = 20000;
    bool clearsInterrupt = true;  // clears host control bit 2 once it has looked
    bool togglesStatus = true;    // advances bits 11:10 of 0:3.0 register 0x40
    uint8_t clientAddress = 1;
    std::map<uint8_t, ReplyConfig> replies;
};

struct CompletionBit {
    uint32_t offset = 0;  // in the controller block
    uint8_t bit = 0;
    uint64_t delayNs = 0;
    bool never = false;    // stays set: the poll never ends
    bool atReset = false;  // set by the hardware itself at power-on and reset
};

enum class SamplerMode : uint8_t { Model, Ones, Zeros, Mixed };

struct SamplerConfig {
    SamplerMode mode = SamplerMode::Model;
    int64_t offsetPs = 0;       // where the sampled clock's rising edge sits at step 0
    int64_t spreadPs = 320;     // window over which the 32 samples are spread
    int64_t clockStepPs = 469;  // one clock step (0x1F8 bit 19)
    int64_t coarsePs = 202;     // phase setting coarse unit
    int64_t finePs = 26;        // phase setting fine unit
    uint64_t delayNs = 300;
};

struct StrobeConfig {
    int64_t latencyPs = 4500;  // from CAS latency to the first strobe edge
    int64_t laneSkewPs = 40;   // added per lane number
    std::array<std::array<int64_t, kLaneCount>, 2> lanePs{};  // extra per channel and lane
    int64_t fineStepPs = 183;
    uint64_t sampleDelayNs = 200;
    // Explicit windows (ps from the read) replace the model for a lane.
    std::array<std::array<std::vector<std::pair<int64_t, int64_t>>, kLaneCount>, 2> windows;
};

struct BoardConfig {
    std::string name;
    Costs costs;
    uint64_t hangBudgetNs = 10000000000ull;
    std::vector<ByteSpec> init;
    std::set<uint32_t> pciDevices;
    std::vector<ByteSpec> readOnly;
    std::vector<ByteSpec> writeOneToClear;
    std::vector<ByteSpec> retains;
    std::array<DimmConfig, 4> dimms;
    uint64_t smbusTransactionNs = 200000;
    unsigned smbusSpuriousZeroReads = 0;
    std::string cmosFile;
    std::array<uint8_t, 128> cmos{};
    bool tpmPresent = true;
    int64_t tpmValidAfterNs = 0;  // -1: never
    uint64_t hpetCounterStart = 0;
    EngineConfig engine;
    std::vector<CompletionBit> completions;
    SamplerConfig sampler;
    StrobeConfig strobe;
    unsigned maxDdrFreq = 3;
    uint32_t dramReadValue = 0;
};

// A block of byte registers with power-on values and per-bit write rules.
struct Region {
    std::vector<uint8_t> bytes, powerOn, readOnly, oneToClear;
    void Resize(size_t size) {
        bytes.assign(size, 0);
        powerOn.assign(size, 0);
        readOnly.assign(size, 0);
        oneToClear.assign(size, 0);
    }
    void Store(uint32_t offset, uint8_t value) {
        uint8_t old = bytes[offset];
        uint8_t ro = readOnly[offset], w1c = oneToClear[offset];
        uint8_t next = static_cast<uint8_t>((old & ro) | (value & ~ro));
        next = static_cast<uint8_t>((next & ~w1c) | (old & w1c & ~value));
        bytes[offset] = next;
    }
};

enum class RankStage : uint8_t {
    PowerUp,
    Nop,
    Precharged,
    Emrs2,
    Emrs3,
    Emrs1,
    DllReset,
    Precharged2,
    Refreshed,
    ModeSet,
    OcdDefault,
    Initialized,
};

struct RankState {
    RankStage stage = RankStage::PowerUp;
    unsigned refreshes = 0;
    bool haveMode = false;
    unsigned casLatency = 0;
    unsigned burstLength = 0;
};

struct Chunk {
    std::vector<uint32_t> dwords;
};

struct Board::Impl {
    BoardConfig cfg;

    // Time.
    uint64_t now = 0;
    uint64_t bootStart = 0;
    uint64_t resetTime = 0;  // last power-on or platform reset
    uint64_t hangBudget = 0;
    Stop stop = Stop::None;
    uint32_t resetValue = 0;

    // Register blocks.
    Region mc, rcba, hpet, tpm;
    std::map<uint32_t, Region> pci;  // by bus << 8 | device << 3 | function

    // Ports.
    std::array<uint8_t, 0x10> smbusRegs{};
    uint8_t port61 = 0, cmosIndex = 0, cf9 = 0;
    std::array<uint8_t, 8> postPorts{};  // 0x80..0x87
    std::array<uint8_t, 128> cmos{};

    // SMBus host.
    bool smbusBusy = false;
    uint64_t smbusDue = 0;
    uint8_t smbusResultStatus = 0, smbusResultData = 0;
    unsigned smbusZeroReadsLeft = 0;
    std::array<std::map<unsigned, unsigned>, 4> spdErrorCount;  // attempts per slot and byte

    // HPET main counter.
    bool hpetRunning = false;
    uint64_t hpetRunStart = 0;
    uint64_t hpetCounter = 0;  // value at hpetRunStart (or while stopped)

    // Completion bits: due time per entry, 0 when idle.
    std::vector<uint64_t> completionDue;
    std::vector<bool> completionBusy;

    // Phase sampler.
    bool samplerBusy = false;
    uint64_t samplerDue = 0;
    uint32_t clockSteps = 0;

    // Strobe sampling per channel.
    std::array<bool, 2> strobeArmed{};
    std::array<bool, 2> strobePending{};
    std::array<uint64_t, 2> strobeDue{};
    std::array<uint16_t, 2> strobeLevels{};

    // DRAM ranks.
    std::array<RankState, 8> ranks;

    // ME.
    std::deque<uint32_t> hostQueue, engineQueue;
    uint8_t hostRead = 0, hostWrite = 0, engineRead = 0, engineWrite = 0;
    uint32_t hostControl = 0;  // bits 4:1 as stored
    bool ackPending = false;
    uint64_t ackDue = 0;
    std::vector<uint8_t> assembling;
    unsigned assemblingChunks = 0;
    std::deque<Chunk> outgoing;
    uint64_t replyDue = 0;
    uint8_t replyEngineAddress = 0, replyHostAddress = 0;

    // Per-boot records.
    std::vector<PostCode> postCodes;
    std::vector<EngineMessage> messages;
    std::vector<DramCommand> dramCommands;
    std::vector<Violation> violations;
    std::vector<UnmappedAccess> unmapped;
    uint64_t unmappedCount = 0;
    std::set<uint32_t> writtenPhys;
    std::set<uint32_t> writtenPci;  // window offsets

    // board.cpp
    void PowerOn();
    void ApplyPowerOnValues(bool keepRetained);
    void Advance(uint64_t ns);
    void Tick();
    void Violate(const std::string& what);
    void RecordUnmapped(Space space, bool write, uint32_t address, unsigned width, uint32_t value);
    uint32_t ReadPhysical(uint32_t address, unsigned width);
    void WritePhysical(uint32_t address, unsigned width, uint32_t value);
    uint32_t ReadPort(uint32_t port, unsigned width);
    void WritePort(uint32_t port, unsigned width, uint32_t value);
    bool McDecoded(uint32_t* base) const;
    uint32_t HpetDecodedBase() const;  // 0 when not decoded
    bool PeekByte(uint32_t address, uint8_t* value) const;
    void StoreByte(uint32_t address, uint8_t value);
    Region* PciFunction(uint32_t address, uint32_t* reg);
    const Region* PciFunction(uint32_t address, uint32_t* reg) const;
    uint8_t McByte(uint32_t offset) const { return mc.bytes[offset]; }
    void SetMcHw(uint32_t offset, uint8_t value) { mc.bytes[offset] = value; }

    // hpet (board.cpp)
    uint64_t HpetCounterNow() const;
    void HpetUpdateRunning();

    // controller.cpp
    void ControllerAfterWrite(uint32_t offset, uint8_t old, uint8_t written);
    void ControllerTick();
    void ControllerReset();
    uint32_t SampleWord() const;
    int64_t ClockPeriodPs() const;
    uint32_t DramRead(uint32_t address, unsigned width);

    // smbus.cpp
    uint8_t SmbusRead(uint32_t offset);
    uint8_t SmbusPeek(uint32_t offset) const;
    void SmbusWrite(uint32_t offset, uint8_t value);
    void SmbusTick();

    // engine.cpp
    uint32_t EngineStatusWord() const;
    uint32_t HostControlWord() const;
    bool EngineReady() const;
    void EngineWriteControl(uint32_t value, uint32_t byteMask);
    void EngineWriteWindow(uint32_t value, unsigned width);
    uint32_t EnginePop();
    void EngineTick();
    void EngineReset();
};

// board_file.cpp
bool ParseBoardFile(const std::string& json, const std::string& baseDir, bool builtIn,
                    BoardConfig* cfg, std::string* error);
// embedded files of the built-in board, by path relative to boards/mem
const std::vector<uint8_t>* EmbeddedFile(const std::string& relative);

}  // namespace memboard

#endif  // BOARDS_MEM_SRC_BOARD_INTERNAL_H
