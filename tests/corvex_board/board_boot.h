// Boots of corvex on the virtual memory board for the tests in this folder:
// the shipped boards of boards/mem/boards with small changes made in the
// test (a JSON merge patch, patched SPD images), whole boots or single
// routines run through the boot harness, and what the board recorded.
#ifndef TESTS_CORVEX_BOARD_BOARD_BOOT_H
#define TESTS_CORVEX_BOARD_BOARD_BOOT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "corvex/config/records.h"
#include "mem_board.h"
#include "tests/support/files.h"
#include "tools/harness/harness.h"

namespace harness {
inline void PrintTo(Outcome outcome, std::ostream* os) {
    *os << OutcomeName(outcome);
}
}  // namespace harness

namespace cvxboard {

using memboard::Board;
using memboard::Space;
using nlohmann::json;

constexpr uint32_t kMcBase = 0xFED14000;
constexpr uint32_t kEngineIf = 0xFED10000;
constexpr uint32_t kHpetDecode = 0xFED1F404;
constexpr uint32_t kHpetConfig = 0xFED00010;
constexpr uint32_t kHpetCounter = 0xFED000F0;
constexpr uint32_t kTicksPerSecond = 14318179;

inline uint32_t Mc(uint32_t offset) {
    return kMcBase + offset;
}
inline uint32_t Cfg(uint8_t device, uint8_t function, uint16_t reg) {
    return memboard::PciWindowAddress(0, device, function, reg);
}

// A shipped board file, parsed.
json ShippedBoard(const std::string& name);
// `board` with `patch` merged in (RFC 7386: null removes a key).
json Patched(json board, const json& patch);

using Spd = std::vector<uint8_t>;
using SpdPatch = std::pair<int, uint8_t>;  // SPD byte number, new value
// The module of the shipped boards, and the dumps of tests/fixtures/spd.
Spd ShippedSpd();
Spd FixtureSpd(const std::string& name);
Spd Patched(Spd spd, const std::vector<SpdPatch>& patches);

// The bytes written to one port or address, or read from it, and a boot's
// record of the board's logic analyser.
struct Boot {
    harness::BootResult result;
    std::vector<uint32_t> post;  // port 0x80 writes in order; a 16-bit write is one value
    std::vector<uint64_t> postTimeNs;
    std::vector<memboard::EngineMessage> messages;
    std::vector<memboard::DramCommand> dramCommands;
    std::vector<memboard::Violation> violations;
    uint64_t unmapped = 0;

    harness::Outcome outcome() const { return result.outcome; }
    uint32_t code() const { return result.code; }
    const std::vector<harness::Access>& accesses() const { return result.accesses; }
    // Values written with this width, in order (width 0: any width).
    std::vector<uint32_t> Writes(Space space, uint32_t address, unsigned width = 0) const;
    size_t Reads(Space space, uint32_t address) const;
    // Virtual time from the first POST code `from` to the first `to` after it.
    uint64_t NsBetween(uint32_t from, uint32_t to) const;
};

// One expected access: its space, direction, width, address and value (for
// a read, the value the board answers), in order. `repeat` n > 0 makes this
// step and the n - 1 after it a group that occurs one or more times in a row
// (a poll) at least `minTimes` times; `mask` limits the value compared (0:
// any value).
struct Step {
    Space space;
    bool write;
    unsigned width;
    uint32_t address;
    uint32_t value;
    uint32_t mask = 0xFFFFFFFFu;
    unsigned repeat = 0;
    unsigned minTimes = 1;
};
Step MemR(unsigned width, uint32_t address, uint32_t value, uint32_t mask = 0xFFFFFFFFu);
Step MemW(unsigned width, uint32_t address, uint32_t value);
Step IoR(uint32_t port, uint32_t value, uint32_t mask = 0xFFu);
Step IoW(uint32_t port, uint32_t value, unsigned width = 1);
// The step with `repeat` set: it and the next n - 1 steps form a poll.
Step Poll(Step first, unsigned n = 1, unsigned minTimes = 1);
// A step whose value is compared under `mask` only.
Step Masked(Step step, uint32_t mask);

// Whether `got` from index `from` on is exactly `want` (every access, none
// left over when `toEnd`); the message shows where they part.
::testing::AssertionResult MatchesSteps(const std::vector<harness::Access>& got, size_t from,
                                        const std::vector<Step>& want, bool toEnd = true);

// One boot of each firmware call the test asks for, on one board.
class BoardTest : public ::testing::Test {
  protected:
    BoardTest();

    // Opens a board from its JSON; relative file names are those of the
    // shipped boards.
    std::unique_ptr<Board> Open(const json& board);
    // Writes an SPD image into the test's scratch directory and returns the
    // name a board file gives it.
    std::string SpdFile(const Spd& spd);
    // `board` with its DIMMs replaced: {slot, SPD image} each.
    json WithDimms(json board, const std::vector<std::pair<int, Spd>>& dimms);

    // A boot through MemInitEntry, or through `body` in its place. Accesses
    // are kept unless the boot is a long wait.
    Boot Run(Board& board, const MemInitInput& input = {}, const MemInitOutput& before = {},
             harness::BootBody body = nullptr, bool keepAccesses = true);
    // Boots with these boot modes in turn, each after a platform reset but the
    // first, as the platform comes back after a reset request or a reboot.
    std::vector<Boot> Sequence(Board& board, const std::vector<uint8_t>& bootModes);

    testsupport::ScratchDir scratch_;

  private:
    int spdFiles_ = 0;
};

// Bodies for BoardTest::Run in place of MemInitEntry: the SPD read alone,
// the entry's detection (SPD read, validation, selection, timings, rank
// maps) alone, and the CMOS restore alone. They leave their records here.
extern SpdBuffer g_spd;
extern MemConfig g_config;
u32 ReadSpdOnly(MemInitInput* input, MemInitOutput* output);
u32 DetectOnly(MemInitInput* input, MemInitOutput* output);
u32 RestoreOnly(MemInitInput* input, MemInitOutput* output);

// The DRAM-init-done request, command 0x08, as FatalStop sends it.
extern const std::vector<uint8_t> kFailedDramInitDone;

}  // namespace cvxboard

#endif  // TESTS_CORVEX_BOARD_BOARD_BOOT_H
