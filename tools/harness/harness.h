// Boots corvex on a virtual memory board: defines the host bus that corvex's
// host platform calls (CorvexHostRead, CorvexHostWrite, CorvexHostStop),
// calls MemInitEntry once per boot and turns whatever ends the boot into an
// outcome. Shared by corvex-run and the tests.
//
// A boot ends when the entry returns, when corvex stops the processor
// (CorvexHostStop), when it writes a reset request to port 0xCF9 (the write
// itself ends the boot), or when the board's virtual-time budget runs out.
// The last three leave corvex through a non-local jump: corvex frames hold no
// destructors.
#ifndef TOOLS_HARNESS_HARNESS_H
#define TOOLS_HARNESS_HARNESS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "corvex/config/boot_interface.h"
#include "mem_board.h"

namespace harness {

// Error: the boot could not be run to one of the other ends (only a host that
// runs corvex under emulation meets one; BootResult::error says what).
enum class Outcome { Returned, Fatal, Halt, Reset, Hang, Error };
// "returned", "fatal", "halt", "reset", "hang", "error"
const char* OutcomeName(Outcome outcome);

struct Access {
    memboard::Space space;
    bool write;
    uint8_t width;
    uint32_t address;
    uint32_t value;
    uint64_t timeNs;  // board time after the access
};

// One trace line: "<ns> <mem|io> <R|W><width> 0x<address> 0x<value>".
std::string FormatAccess(const Access& a);

struct BootOptions {
    bool keepAccesses = false;  // fill BootResult::accesses
    FILE* trace = nullptr;      // one line per access
};

struct BootResult {
    Outcome outcome = Outcome::Returned;
    uint32_t code = 0;         // fatal or halt code, or the value written to 0xCF9
    uint32_t stopReason = 0;   // the value passed to CorvexHostStop (0 when none)
    uint32_t returnValue = 0;  // what MemInitEntry returned (outcome Returned)
    MemInitInput input{};      // the input block after the boot (corvex fills savedConfigIn)
    MemInitOutput output{};
    uint64_t accessCount = 0;
    std::vector<Access> accesses;
    std::string error;  // outcome Error: what went wrong
};

// The MemInitOutput bytes that carry fields (0x00 to 0x38).
constexpr size_t kOutputBytes = __builtin_offsetof(MemInitOutput, engineChANone) + 1;

// Runs one boot on `board` (BeginBoot is called here). The output block
// starts as `outputBefore` (what the firmware left in it).
BootResult RunBoot(memboard::Board& board, const MemInitInput& input,
                   const MemInitOutput& outputBefore, const BootOptions& options);

// The same boot with `body` called in place of MemInitEntry, for tests that
// drive single corvex routines on a board. The body leaves by a non-local
// jump when the boot ends early, so its frame must hold no destructors.
using BootBody = u32 (*)(MemInitInput* input, MemInitOutput* output);
BootResult RunBootWith(memboard::Board& board, const MemInitInput& input,
                       const MemInitOutput& outputBefore, const BootOptions& options,
                       BootBody body);

// The same rules for a host that runs corvex in some other way (tools/image-run
// runs the freestanding image under emulation), so that both see one board
// through one set of rules. Neither jumps anywhere.
//
// Forwards one access to the board, counts and traces it as RunBoot does
// (`*value` is the value written, or receives the value read). Returns true
// when the access ended the boot: a reset request or the hang budget, with
// the outcome and code set in `result`.
bool ForwardAccess(memboard::Board& board, const BootOptions& options, BootResult* result,
                   memboard::Space space, bool write, uint32_t address, uint32_t width,
                   uint32_t* value);

// The outcome and code of a boot that corvex ended with PlatformStop(reason).
void SetStopOutcome(uint32_t reason, BootResult* result);

}  // namespace harness

#endif  // TOOLS_HARNESS_HARNESS_H
