// The scripted bus behind CorvexHostRead/Write/Stop (see scripted_bus.h).
#include "tests/corvex/scripted_bus.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

namespace scriptbus {

std::jmp_buf stopJump;
bool stopArmed = false;
uint32_t stopReason = 0;

namespace {

struct Source {
    std::vector<uint32_t> values;  // scripted values, or empty for a ramp
    size_t next = 0;
    uint32_t rampValue = 0;
    uint32_t rampStep = 0;
};

std::map<std::pair<uint32_t, uint32_t>, Source> sources;
std::vector<Access> log;

[[noreturn]] void Stop(uint32_t reason) {
    if (!stopArmed) {
        std::fprintf(stderr, "corvex stopped (0x%X) outside RunUntilStop\n", reason);
        std::abort();
    }
    stopReason = reason;
    std::longjmp(stopJump, 1);
}

void Count() {
    if (log.size() >= kAccessBudget) {
        Stop(kRunaway);
    }
}

}  // namespace

void Reset() {
    sources.clear();
    log.clear();
    stopArmed = false;
    stopReason = 0;
}

void Script(uint32_t space, uint32_t address, std::vector<uint32_t> values) {
    Source source;
    source.values = std::move(values);
    sources[{space, address}] = source;
}

void Ramp(uint32_t space, uint32_t address, uint32_t start, uint32_t step) {
    Source source;
    source.rampValue = start;
    source.rampStep = step;
    sources[{space, address}] = source;
}

const std::vector<Access>& Log() {
    return log;
}

std::vector<uint32_t> Writes(uint32_t space, uint32_t address, uint32_t width) {
    std::vector<uint32_t> values;
    for (const Access& a : log) {
        if (a.write && a.space == space && a.address == address && a.width == width) {
            values.push_back(a.value);
        }
    }
    return values;
}

size_t Reads(uint32_t space, uint32_t address) {
    size_t count = 0;
    for (const Access& a : log) {
        count += (!a.write && a.space == space && a.address == address) ? 1 : 0;
    }
    return count;
}

}  // namespace scriptbus

using namespace scriptbus;

extern "C" u32 CorvexHostRead(u32 space, u32 address, u32 width) {
    Count();
    uint32_t value = 0;
    auto found = sources.find({space, address});
    if (found != sources.end()) {
        Source& s = found->second;
        if (!s.values.empty()) {
            value = s.values[s.next];
            if (s.next + 1 < s.values.size()) {
                ++s.next;
            }
        } else {
            value = s.rampValue;
            s.rampValue += s.rampStep;
        }
    }
    if (width < 4) {
        value &= (1u << (8 * width)) - 1u;
    }
    log.push_back({false, space, address, width, value});
    return value;
}

extern "C" void CorvexHostWrite(u32 space, u32 address, u32 width, u32 value) {
    Count();
    log.push_back({true, space, address, width, value});
}

extern "C" void CorvexHostStop(u32 reason) {
    Stop(reason);
}
