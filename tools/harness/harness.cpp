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

void Record(memboard::Board& board, const BootOptions& options, BootResult* result,
            memboard::Space space, bool write, uint32_t address, uint32_t width, uint32_t value) {
    ++result->accessCount;
    if (!options.keepAccesses && !options.trace) {
        return;
    }
    Access a{space, write, static_cast<uint8_t>(width), address, value, board.NowNs()};
    if (options.trace) {
        std::fprintf(options.trace, "%s\n", FormatAccess(a).c_str());
    }
    if (options.keepAccesses) {
        result->accesses.push_back(a);
    }
}

// After every access: a reset request or the hang budget ends the boot.
bool CheckStop(const memboard::Board& b, BootResult* result) {
    switch (b.StopRequested()) {
        case memboard::Stop::None:
            return false;
        case memboard::Stop::Reset:
            result->outcome = Outcome::Reset;
            result->code = b.ResetValue();
            break;
        case memboard::Stop::Hang:
            result->outcome = Outcome::Hang;
            result->code = 0;
            break;
    }
    return true;
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
        case Outcome::Error:
            return "error";
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

bool ForwardAccess(memboard::Board& board, const BootOptions& options, BootResult* result,
                   memboard::Space space, bool write, uint32_t address, uint32_t width,
                   uint32_t* value) {
    if (write) {
        board.Write(space, address, width, *value);
    } else {
        *value = board.Read(space, address, width);
    }
    Record(board, options, result, space, write, address, width, *value);
    return CheckStop(board, result);
}

void SetStopOutcome(uint32_t reason, BootResult* result) {
    result->stopReason = reason;
    result->code = reason & 0xFF;
    switch (reason & 0xFFFFFF00u) {
        case kStopFatal:
            result->outcome = Outcome::Fatal;
            break;
        default:
            // A halt, or a reset request the hardware did not take: either
            // way the processor stops here for good.
            result->outcome = Outcome::Halt;
            break;
    }
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
    u32 value = 0;
    if (harness::ForwardAccess(*g_current.board, *g_current.options, g_current.result,
                               harness::SpaceOf(space), false, address, width, &value)) {
        harness::EndBoot();
    }
    return value;
}

extern "C" void CorvexHostWrite(u32 space, u32 address, u32 width, u32 value) {
    harness::RequireBoot();
    if (harness::ForwardAccess(*g_current.board, *g_current.options, g_current.result,
                               harness::SpaceOf(space), true, address, width, &value)) {
        harness::EndBoot();
    }
}

extern "C" void CorvexHostStop(u32 reason) {
    harness::RequireBoot();
    harness::SetStopOutcome(reason, g_current.result);
    harness::EndBoot();
}
