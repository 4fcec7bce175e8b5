// The virtual memory board: the platform as memory initialization code sees
// it before RAM exists. It answers physical memory and I/O port accesses of
// 1, 2 or 4 bytes at any alignment, keeps virtual time, and records what a
// logic analyser on the board would show (POST codes, SMBus transactions,
// ME messages, DRAM commands, accesses that nothing answered, and rule
// violations such as a DDR2 command out of JEDEC order).
//
// A board is described by a JSON board file (see boards/mem/README.md). The
// board never knows which code runs against it; the host (a harness) forwards
// every access, asks after each one whether the platform stopped (a reset
// request or the hang budget), and resets the platform between boots.
#ifndef MEM_BOARD_H
#define MEM_BOARD_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace memboard {

enum class Space : uint8_t { Physical = 0, Port = 1 };

// Why the platform stopped running the current boot.
enum class Stop : uint8_t {
    None,
    Reset,  // a reset request at port 0xCF9 (see ResetValue)
    Hang,   // the boot ran past its virtual-time budget
};

struct PostCode {
    uint32_t value;  // 16-bit writes are one value (high byte went to 0x81)
    unsigned width;  // 1, 2 or 4
    uint64_t timeNs;
};

struct EngineMessage {
    bool toEngine;  // true: host to ME; false: ME reply to the host
    uint8_t engineAddress;
    uint8_t hostAddress;
    unsigned chunks;
    std::vector<uint8_t> bytes;
    uint64_t timeNs;
};

struct DramCommand {
    unsigned rank;  // 0..7
    std::string
        command;     // "NOP", "PRECHARGE ALL", "MRS", "EMRS(1)", "EMRS(2)", "EMRS(3)", "REFRESH"
    uint32_t value;  // mode-register value (DRAM address bits), 0 for other commands
    bool fitted;     // false: no DRAM rank answers at that address
    uint64_t timeNs;
};

struct Violation {
    uint64_t timeNs;
    std::string what;
};

struct UnmappedAccess {
    Space space;
    bool write;
    uint32_t address;
    unsigned width;
    uint32_t value;
    uint64_t timeNs;
};

// PCI configuration address of the window at 0xE0000000.
struct PciAddress {
    uint8_t bus, device, function;
    uint16_t reg;
};

class Board {
  public:
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const std::string& Name() const;

    // One access; time advances by the access cost first. After each access
    // the host asks StopRequested(); once it is not None the boot is over and
    // further accesses read all ones and change nothing.
    uint32_t Read(Space space, uint32_t address, unsigned width);
    void Write(Space space, uint32_t address, unsigned width, uint32_t value);

    Stop StopRequested() const;
    uint32_t ResetValue() const;  // the value written to 0xCF9 that asked for the reset

    // Starts a boot: clears the per-boot records and the stop request, and
    // starts the boot's virtual-time budget.
    void BeginBoot();
    // The platform reset that follows a boot: every register returns to its
    // power-on value except the state a real reset keeps (the board file's
    // resetRetains list, CMOS, the ME's own state, DRAM mode registers).
    void PlatformReset();

    uint64_t NowNs() const;       // since power-on
    uint64_t BootTimeNs() const;  // since BeginBoot
    uint64_t HangBudgetNs() const;
    void SetHangBudgetNs(uint64_t ns);

    // Per-boot records.
    const std::vector<PostCode>& PostCodes() const;
    const std::vector<EngineMessage>& EngineMessages() const;
    const std::vector<DramCommand>& DramCommands() const;
    const std::vector<Violation>& Violations() const;
    const std::vector<UnmappedAccess>& Unmapped() const;  // the first 100
    uint64_t UnmappedCount() const;
    // Addresses of every physical byte (outside PCI configuration space) and
    // every configuration byte written during this boot, in ascending order.
    std::vector<uint32_t> WrittenPhysical() const;
    std::vector<PciAddress> WrittenPci() const;

    // Side-effect-free views for reports and tests.
    uint8_t PeekPhysical(uint32_t address) const;  // all ones where nothing answers
    uint8_t PeekPci(const PciAddress& at) const;
    uint8_t CmosByte(uint8_t index) const;  // bank 2, index bit 7 ignored
    void SetCmosByte(uint8_t index, uint8_t value);

    // Writes the CMOS file named by the board file (or SetCmosFile), if any.
    bool SaveCmos(std::string* error) const;
    void SetCmosFile(const std::string& path);

    struct Impl;

  private:
    explicit Board(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    friend std::unique_ptr<Board> MakeBoard(std::unique_ptr<Impl> impl);
};

// Opens a board file; relative file names inside it (SPD images, CMOS file)
// are taken relative to the board file. Returns null with `error` set.
std::unique_ptr<Board> OpenBoard(const std::string& path, std::string* error);
// The same from JSON text, with relative names taken from `baseDir`.
std::unique_ptr<Board> OpenBoardText(const std::string& json, const std::string& baseDir,
                                     std::string* error);
// The built-in default board (boards/mem/boards/default.json with its SPD
// image, compiled in).
std::unique_ptr<Board> OpenDefaultBoard(std::string* error);
const std::string& DefaultBoardText();

// Physical address of configuration register `reg` of b:d.f in the window.
uint32_t PciWindowAddress(uint8_t bus, uint8_t device, uint8_t function, uint16_t reg);

}  // namespace memboard

#endif  // MEM_BOARD_H
