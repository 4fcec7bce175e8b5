// The bench the selection and validation tables run corvex on: the scripted
// bus with the platform registers detection reads, SPD records filled from
// the real dumps of tests/fixtures/spd as a successful SPD read leaves them,
// and CMOS reads scripted in table order. Reading SPD over SMBus and the
// CMOS bank itself are tested on the memory board (tests/corvex_board).
#ifndef TESTS_CORVEX_DIMM_DIMM_BENCH_H
#define TESTS_CORVEX_DIMM_DIMM_BENCH_H

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"
#include "tests/corvex/scripted_bus.h"

namespace dimmtest {

// The real dumps (tests/fixtures/spd/README.md).
extern const char kCrucial800[];      // SO-DIMM, 1 GB, 6-6-6-18 @800
extern const char kSoDimm400[];       // SO-DIMM, DDR2-400 only
extern const char kUdimm800[];        // desktop, 2 GB, two ranks, no 50 ohm ODT
extern const char kUdimmTranscend[];  // desktop, 1 GB, two ranks of 4-bank devices
extern const char kUdimmInfineon[];   // desktop, 1 GB
extern const char kRdimm[];           // registered ECC
extern const char kFbdimm[];          // FB-DIMM layout

using Spd = std::vector<uint8_t>;
// SPD byte number and the value it is patched to.
using Patch = std::pair<int, uint8_t>;

Spd LoadSpd(const std::string& name);
Spd Patched(Spd spd, const std::vector<Patch>& patches);
// A desktop dump run as an SO-DIMM (byte 20 patched to 4) to use its real
// timing bytes.
Spd AsSoDimm(const std::string& name);

// What the platform shows detection.
struct Platform {
    uint8_t fsbStrap = 2;       // MC_BASE+0xC00 bits 2:0: host bus index (2 = 800)
    uint8_t ddrCapability = 0;  // host bridge byte 0xE3, bits 7:6 (0 = up to DDR2-800)
    uint8_t hostRevision = 1;   // revision ID of 0:0.0
};

// Capability values that let the search start at a given ddrFreq.
const uint8_t kUpTo800 = 0x00;
const uint8_t kUpTo667 = 0x80;
const uint8_t kUpTo533 = 0xC0;

struct Outcome {
    std::optional<uint32_t> stop;  // the stop reason, none when corvex returned
    std::vector<uint32_t> post;    // POST codes (8-bit writes to port 0x80)
    bool StoppedWith(uint8_t fatal) const;
};

class DimmBench : public ::testing::Test {
  protected:
    void SetUp() override { Reset(Platform{}); }

    // Starts over with the platform and no DIMM.
    void Reset(const Platform& platform);
    void PutDimm(int slot, const Spd& spd);

    // `spd` as ReadAllSpd leaves it when every DIMM put was read.
    void FillSpd();
    // FillSpd and DetectDimms, as the entry runs them.
    Outcome Detect(const MemInitInput& input = {});
    // Reads of the CMOS data port give these 16 bytes in turn, the order in
    // which RestoreConfig reads the copy.
    void ScriptCmos(const uint8_t bytes[16]);

    std::array<std::optional<Spd>, 4> dimms;
    SpdBuffer spd = {};
    MemConfig config = {};
};

}  // namespace dimmtest

#endif  // TESTS_CORVEX_DIMM_DIMM_BENCH_H
