// A scripted stand-in for what hosts a corvex boot, for unit tests that need
// no board: reads of an address return a script of values (0 when there is
// none), writes change nothing and are logged, and a stop of corvex returns
// control to the test. Not a model of any hardware.
#ifndef TESTS_CORVEX_SCRIPTED_BUS_H
#define TESTS_CORVEX_SCRIPTED_BUS_H

#include <csetjmp>
#include <cstdint>
#include <optional>
#include <vector>

#include "corvex/platform/host/host_bus.h"

namespace scriptbus {

struct Access {
    bool write;
    uint32_t space;
    uint32_t address;
    uint32_t width;
    uint32_t value;
};

void Reset();

// Reads of (space, address) return the values in turn; the last one repeats.
void Script(uint32_t space, uint32_t address, std::vector<uint32_t> values);
// Reads of (space, address) return start, start + step, start + 2 * step, ...
void Ramp(uint32_t space, uint32_t address, uint32_t start, uint32_t step);

const std::vector<Access>& Log();
// Values written to (space, address) with the given width, in order.
std::vector<uint32_t> Writes(uint32_t space, uint32_t address, uint32_t width);
// Number of reads of (space, address).
size_t Reads(uint32_t space, uint32_t address);

// Reported instead of a stop reason when corvex made this many accesses
// without stopping (a wait that never ends).
const uint32_t kRunaway = 0xDEADu;
const size_t kAccessBudget = 2000000;

extern std::jmp_buf stopJump;
extern bool stopArmed;
extern uint32_t stopReason;

// Runs the body; returns the reason when corvex stopped, nothing when the body
// returned. The body must hold no objects with destructors: a stop leaves it
// by longjmp.
template <typename Body>
std::optional<uint32_t> RunUntilStop(Body body) {
    stopArmed = true;
    if (setjmp(stopJump) != 0) {
        stopArmed = false;
        return stopReason;
    }
    body();
    stopArmed = false;
    return std::nullopt;
}

}  // namespace scriptbus

#endif  // TESTS_CORVEX_SCRIPTED_BUS_H
