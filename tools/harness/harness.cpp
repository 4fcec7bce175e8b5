#include "tools/harness/harness.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "corvex/platform/host/host_bus.h"
#include "corvex/platform/platform.h"

namespace harness {

namespace {

// The boot in progress. Global because corvex reaches the host through plain
// C functions; there is one boot at a time.
struct Current {
    memboard::Board* board = nullptr;
    const BootOptions* options = nullptr;
    BootResult* result = nullptr;
    std::jmp_buf exit;
};

Current g_current;

[[noreturn]] void EndBoot() {
    std::longjmp(g_current.exit, 1);
}

void Record(memboard::Space space, bool write, uint32_t address, uint32_t width, uint32_t value) {
    BootResult& r = *g_current.result;
    ++r.accessCount;
    if (!g_current.options->keepAccesses && !g_current.options->trace) {
        return;
    }
    Access a{space, write, static_cast<uint8_t>(width), address, value, g_current.board->NowNs()};
    if (g_current.options->trace) {
        std::fprintf(g_current.options->trace, "%s\n", FormatAccess(a).c_str());
    }
    if (g_current.options->keepAccesses) {
        r.accesses.push_back(a);
    }
}

// After every access: a reset request or the hang budget ends the boot.
void CheckStop() {
    memboard::Board& b = *g_current.board;
    switch (b.StopRequested()) {
        case memboard::Stop::None:
            return;
        case memboard::Stop::Reset:
            g_current.result->outcome = Outcome::Reset;
            g_current.result->code = b.ResetValue();
            break;
        case memboard::Stop::Hang:
            g_current.result->outcome = Outcome::Hang;
            g_current.result->code = 0;
            break;
    }
    EndBoot();
}

memboard::Space SpaceOf(u32 space) {
    return space == kHostBusPort ? memboard::Space::Port : memboard::Space::Physical;
}

void RequireBoot() {
    if (!g_current.board) {
        std::fprintf(stderr, "corvex reached the host bus outside a boot\n");
        std::abort();
    }
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Returned:
            return "returned";
        case Outcome::Fatal:
            return "fatal";
        case Outcome::Halt:
            return "halt";
        case Outcome::Reset:
            return "reset";
        case Outcome::Hang:
            return "hang";
    }
    return "?";
}

std::string FormatAccess(const Access& a) {
    char buf[96];
    bool port = a.space == memboard::Space::Port;
    std::snprintf(buf, sizeof buf, "%llu %s %c%u 0x%0*X 0x%0*X",
                  static_cast<unsigned long long>(a.timeNs), port ? "io" : "mem",
                  a.write ? 'W' : 'R', a.width, port ? 4 : 8, a.address, 2 * a.width, a.value);
    return buf;
}

BootResult RunBoot(memboard::Board& board, const MemInitInput& input,
                   const MemInitOutput& outputBefore, const BootOptions& options) {
    return RunBootWith(board, input, outputBefore, options, MemInitEntry);
}

BootResult RunBootWith(memboard::Board& board, const MemInitInput& input,
                       const MemInitOutput& outputBefore, const BootOptions& options,
                       BootBody body) {
    // Kept in static storage: nothing that setjmp's caller keeps in
    // registers may be changed between the jump and its landing.
    static BootResult result;
    result = BootResult();
    result.input = input;
    result.output = outputBefore;
    board.BeginBoot();
    g_current.board = &board;
    g_current.options = &options;
    g_current.result = &result;
    if (setjmp(g_current.exit) == 0) {
        result.returnValue = body(&result.input, &result.output);
        result.outcome = Outcome::Returned;
    }
    g_current.board = nullptr;
    g_current.options = nullptr;
    g_current.result = nullptr;
    return std::move(result);
}

}  // namespace harness

using harness::g_current;

extern "C" u32 CorvexHostRead(u32 space, u32 address, u32 width) {
    harness::RequireBoot();
    u32 value = g_current.board->Read(harness::SpaceOf(space), address, width);
    harness::Record(harness::SpaceOf(space), false, address, width, value);
    harness::CheckStop();
    return value;
}

extern "C" void CorvexHostWrite(u32 space, u32 address, u32 width, u32 value) {
    harness::RequireBoot();
    g_current.board->Write(harness::SpaceOf(space), address, width, value);
    harness::Record(harness::SpaceOf(space), true, address, width, value);
    harness::CheckStop();
}

extern "C" void CorvexHostStop(u32 reason) {
    harness::RequireBoot();
    harness::BootResult& r = *g_current.result;
    r.stopReason = reason;
    r.code = reason & 0xFF;
    switch (reason & 0xFFFFFF00u) {
        case kStopFatal:
            r.outcome = harness::Outcome::Fatal;
            break;
        default:
            // A halt, or a reset request the hardware did not take: either
            // way the processor stops here for good.
            r.outcome = harness::Outcome::Halt;
            break;
    }
    harness::EndBoot();
}
