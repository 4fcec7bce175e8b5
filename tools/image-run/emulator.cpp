// One boot of the corvex image under emulation (see image_run.h and the
// README beside this file for the memory map and the hooks).
#include <unicorn/unicorn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "corvex/platform/platform.h"
#include "tools/image-run/image_run.h"

namespace imagerun {

namespace {

constexpr uint64_t kSpaceEnd = 0x100000000ull;
constexpr uint32_t kPage = 0x1000;

// Fill patterns: the stack's shows how deep it was used, the blocks page's
// shows writes beside the two blocks.
constexpr uint8_t kStackFill = 0xA5;
constexpr uint8_t kBlocksFill = 0x5A;
// int3, should anything execute the return address instead of ending there.
constexpr uint8_t kCallerFill = 0xCC;

// Values for the registers MemInitEntry must give back unchanged (cdecl).
constexpr uint32_t kEbxIn = 0x0B0B0B0B;
constexpr uint32_t kEsiIn = 0x05150515;
constexpr uint32_t kEdiIn = 0x0D1D0D1D;
constexpr uint32_t kEbpIn = 0x0EBB0EBB;
constexpr uint32_t kEflagsIn = 0x00000002;  // interrupts off, direction up
constexpr uint32_t kEflagsDirection = 1u << 10;

// Initial ESP: the return address, then the input and output pointers.
constexpr uint32_t kEspIn = kStackTop - 12;

constexpr uint16_t kCodeSelector = 0x08;
constexpr uint16_t kDataSelector = 0x10;

std::string Hex(uint64_t v, int digits = 8) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

uint32_t Mask(unsigned width) {
    return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

struct Boot;

// A stretch of the address space answered by the board.
struct BoardRange {
    Boot* boot;
    uint64_t begin;
    uint64_t end;  // exclusive
};

// The access the memory hooks saw last, until the emulator's MMIO callbacks
// have taken every byte of it. The emulator splits unaligned accesses into
// aligned pieces (and unaligned writes into bytes), each with a callback of
// its own and, for reads, a hook of its own too; the hook that comes first
// carries the access as the instruction made it, and that is the one the
// board gets.
struct Pending {
    bool active = false;
    uint32_t address = 0;
    unsigned width = 0;
    uint32_t value = 0;
    unsigned taken = 0;  // bit i: byte i has been handed over
};

struct Boot {
    uc_engine* uc = nullptr;
    const Image* image = nullptr;
    memboard::Board* board = nullptr;
    const harness::BootOptions* options = nullptr;
    harness::BootResult* result = nullptr;
    BoardRange ranges[6];  // a gap before each of the five local ranges, one after them
    int rangeCount = 0;
    uint64_t imageEnd = 0;       // link address + image size
    uint64_t imagePagesEnd = 0;  // the same rounded up to a page
    Pending pending;
    // Set once the outcome is decided. Code the emulator still runs before
    // it stops (the rest of the current block) reaches the board no more,
    // as the host build's jump out of corvex would.
    bool over = false;
    // What the board last saw of the two ways a boot stops: a write to the
    // reset port and a 16-bit 0xEExx POST code, each with the access count
    // right after it.
    uint64_t resetWriteAt = 0;
    uint32_t resetValue = 0;
    uint64_t stopCodeAt = 0;
    uint32_t stopCode = 0;
    std::chrono::milliseconds stallLimit{0};
    std::atomic<uint64_t> progress{0};
    std::atomic<bool> stalled{false};
};

uint32_t Eip(uc_engine* uc) {
    uint32_t eip = 0;
    uc_reg_read(uc, UC_X86_REG_EIP, &eip);
    return eip;
}

void Fail(Boot& b, const std::string& what) {
    if (b.over) {
        return;
    }
    b.over = true;
    b.result->outcome = harness::Outcome::Error;
    b.result->code = 0;
    b.result->error = what + " (EIP " + Hex(Eip(b.uc)) + ")";
    uc_emu_stop(b.uc);
}

bool InImage(const Boot& b, uint64_t address) {
    return address >= b.image->linkAddress && address < b.imageEnd;
}

// One access to the board, through the harness's rules.
void Forward(Boot& b, memboard::Space space, bool write, uint32_t address, unsigned width,
             uint32_t* value) {
    if (b.over) {
        if (!write) {
            *value = Mask(width);
        }
        return;
    }
    harness::BootResult& r = *b.result;
    bool ended =
        harness::ForwardAccess(*b.board, *b.options, &r, space, write, address, width, value);
    if (space == memboard::Space::Port && write) {
        if (address == 0xCF9) {
            b.resetWriteAt = r.accessCount;
            b.resetValue = *value & 0xFF;
        } else if (address == 0x80 && width == 2 && (*value & 0xFF00) == 0xEE00) {
            b.stopCodeAt = r.accessCount;
            b.stopCode = *value & 0xFF;
        }
    }
    b.progress.store(r.accessCount, std::memory_order_relaxed);
    if (ended) {
        b.over = true;
        uc_emu_stop(b.uc);
    }
}

void OnBoardMemory(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t value,
                   void* user) {
    BoardRange& range = *static_cast<BoardRange*>(user);
    Boot& b = *range.boot;
    const unsigned width = static_cast<unsigned>(size);
    if (b.pending.active) {
        // A piece of the pending access: it lies in the aligned span around it.
        const uint64_t spanBegin = b.pending.address & ~uint64_t(b.pending.width - 1);
        const uint64_t spanEnd =
            (uint64_t(b.pending.address) + b.pending.width + b.pending.width - 1) &
            ~uint64_t(b.pending.width - 1);
        if (address >= spanBegin && address + width <= spanEnd) {
            return;
        }
        Fail(b, "emulator: the access at " + Hex(b.pending.address) +
                    " was never completed before the access at " + Hex(address));
        b.pending.active = false;
    }
    const bool write = type == UC_MEM_WRITE;
    if (width != 1 && width != 2 && width != 4) {
        Fail(b, "a " + std::to_string(width) + "-byte " + (write ? "write" : "read") + " at " +
                    Hex(address) + ": the hardware takes accesses of 1, 2 and 4 bytes");
    } else if (address + width > range.end) {
        Fail(b, "a " + std::to_string(width) + "-byte access at " + Hex(address) +
                    " runs from the hardware into the image or the emulator's memory");
    }
    b.pending.active = true;
    b.pending.address = static_cast<uint32_t>(address);
    b.pending.width = width > 4 ? 4 : width;
    b.pending.taken = 0;
    uint32_t v = write ? static_cast<uint32_t>(value) & Mask(width) : 0;
    Forward(b, memboard::Space::Physical, write, static_cast<uint32_t>(address), width, &v);
    b.pending.value = v;
}

// Hands the bytes of the pending access to one MMIO callback.
uint64_t TakePending(BoardRange& range, uint64_t offset, unsigned size) {
    Boot& b = *range.boot;
    const uint64_t address = range.begin + offset;
    Pending& p = b.pending;
    uint64_t v = 0;
    bool any = false;
    for (unsigned i = 0; i < size; ++i) {
        uint64_t byte = 0xFF;
        const uint64_t a = address + i;
        if (p.active && a >= p.address && a < uint64_t(p.address) + p.width) {
            const unsigned k = static_cast<unsigned>(a - p.address);
            byte = (p.value >> (8 * k)) & 0xFF;
            p.taken |= 1u << k;
            any = true;
        }
        v |= byte << (8 * i);
    }
    if (!any) {
        Fail(b, "emulator: an access at " + Hex(address) + " that no hook saw");
    }
    if (p.active && p.taken == (1u << p.width) - 1) {
        p.active = false;
    }
    return v;
}

uint64_t OnMmioRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
    return TakePending(*static_cast<BoardRange*>(user), offset, size);
}

void OnMmioWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t, void* user) {
    TakePending(*static_cast<BoardRange*>(user), offset, size);
}

uint32_t OnPortIn(uc_engine*, uint32_t port, int size, void* user) {
    uint32_t v = 0;
    Forward(*static_cast<Boot*>(user), memboard::Space::Port, false, port,
            static_cast<unsigned>(size), &v);
    return v;
}

void OnPortOut(uc_engine*, uint32_t port, int size, uint32_t value, void* user) {
    uint32_t v = value & Mask(static_cast<unsigned>(size));
    Forward(*static_cast<Boot*>(user), memboard::Space::Port, true, port,
            static_cast<unsigned>(size), &v);
}

bool OnInvalidMemory(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t value,
                     void* user) {
    Boot& b = *static_cast<Boot*>(user);
    const std::string bytes = std::to_string(size) + "-byte";
    if (type == UC_MEM_WRITE_PROT && InImage(b, address)) {
        Fail(b, "writable global state: a " + bytes + " write of " +
                    Hex(uint64_t(value) & Mask(unsigned(size)), 2 * size) + " to " + Hex(address) +
                    ", offset " + Hex(address - b.image->linkAddress, 4) +
                    " of the image, which runs from read-only flash");
    } else if (address >= kGuardBase && address < kStackBase) {
        Fail(b, "stack overflow: an access at " + Hex(address) + ", below the 64 KB stack");
    } else if (type == UC_MEM_FETCH_PROT || type == UC_MEM_FETCH_UNMAPPED) {
        Fail(b, "execution at " + Hex(address) + ", outside the image");
    } else if (type == UC_MEM_WRITE_PROT) {
        Fail(b, "a " + bytes + " write to " + Hex(address) + " in the caller's read-only memory");
    } else {
        Fail(b, "a " + bytes + " access at " + Hex(address) + " the emulator cannot place");
    }
    return false;
}

void OnLocalRead(uc_engine*, uc_mem_type, uint64_t address, int size, int64_t, void* user) {
    Boot& b = *static_cast<Boot*>(user);
    if (address >= kCallerBase && address < kLocalEnd) {
        Fail(b,
             "a " + std::to_string(size) + "-byte read of the caller's memory at " + Hex(address));
    } else {
        Fail(b, "a " + std::to_string(size) + "-byte read at " + Hex(address) +
                    ", past the end of the image (" + Hex(b.imageEnd) + ")");
    }
}

void OnInterrupt(uc_engine*, uint32_t number, void* user) {
    static const char* const kNames[] = {"divide error",
                                         "debug",
                                         "NMI",
                                         "breakpoint",
                                         "overflow",
                                         "bound range",
                                         "invalid opcode",
                                         "device not available",
                                         "double fault",
                                         "coprocessor overrun",
                                         "invalid TSS",
                                         "segment not present",
                                         "stack fault",
                                         "general protection",
                                         "page fault",
                                         "reserved",
                                         "x87 error",
                                         "alignment check",
                                         "machine check",
                                         "SIMD error"};
    std::string name = number < sizeof kNames / sizeof kNames[0] ? kNames[number] : "interrupt";
    Fail(*static_cast<Boot*>(user),
         "processor exception " + std::to_string(number) + " (" + name + ")");
}

bool OnInvalidInstruction(uc_engine*, void* user) {
    Fail(*static_cast<Boot*>(user), "invalid instruction");
    return false;
}

// Ends a stop that the image made on its own: the emulator sees only that the
// processor halted, so why it stopped comes from what the board saw last,
// matched against corvex's three ways of stopping for good. A reset request
// the board did not take is a reset-port write followed by nothing; FatalHalt
// is a 0xEExx POST code followed by nothing; FatalStop is a 0xEExx POST code
// followed by its attempt to tell the ME (accesses, whether or not a message
// gets through).
void DecideHalt(Boot& b, uint32_t at) {
    const uint64_t last = b.result->accessCount;
    if (b.resetWriteAt != 0 && b.resetWriteAt == last) {
        harness::SetStopOutcome(kStopReset | b.resetValue, b.result);
    } else if (b.stopCodeAt != 0 && b.stopCodeAt > b.resetWriteAt) {
        harness::SetStopOutcome((b.stopCodeAt == last ? kStopHalt : kStopFatal) | b.stopCode,
                                b.result);
    } else {
        Fail(b, "the processor halted at " + Hex(at) + " without a stop code on the POST port");
    }
}

// The entry returned: check what cdecl promises the caller.
void DecideReturn(Boot& b) {
    struct Saved {
        int reg;
        const char* name;
        uint32_t in;
    };
    static const Saved kSaved[] = {{UC_X86_REG_EBX, "EBX", kEbxIn},
                                   {UC_X86_REG_ESI, "ESI", kEsiIn},
                                   {UC_X86_REG_EDI, "EDI", kEdiIn},
                                   {UC_X86_REG_EBP, "EBP", kEbpIn},
                                   {UC_X86_REG_ESP, "ESP", kEspIn + 4}};
    for (const Saved& s : kSaved) {
        uint32_t v = 0;
        uc_reg_read(b.uc, s.reg, &v);
        if (v != s.in) {
            Fail(b, std::string("MemInitEntry returned with ") + s.name + " " + Hex(v) +
                        " where the caller expects " + Hex(s.in));
            return;
        }
    }
    uint32_t eflags = 0;
    uc_reg_read(b.uc, UC_X86_REG_EFLAGS, &eflags);
    if (eflags & kEflagsDirection) {
        Fail(b, "MemInitEntry returned with the direction flag set");
        return;
    }
    uint32_t eax = 0;
    uc_reg_read(b.uc, UC_X86_REG_EAX, &eax);
    b.result->outcome = harness::Outcome::Returned;
    b.result->code = 0;
    b.result->returnValue = eax;
}

// Stops the emulation when no access reaches the board for the stall limit.
class Watchdog {
  public:
    explicit Watchdog(Boot* boot) : boot_(boot), thread_([this] { Run(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        uint64_t seen = boot_->progress.load();
        auto changed = std::chrono::steady_clock::now();
        while (!done_) {
            wake_.wait_for(lock, std::chrono::milliseconds(200));
            const uint64_t now = boot_->progress.load();
            if (now != seen) {
                seen = now;
                changed = std::chrono::steady_clock::now();
            } else if (!done_ && std::chrono::steady_clock::now() - changed > boot_->stallLimit) {
                boot_->stalled.store(true);
                uc_emu_stop(boot_->uc);
                return;
            }
        }
    }

    Boot* boot_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

struct UcCloser {
    void operator()(uc_engine* uc) const { uc_close(uc); }
};

// Maps memory, loads the image and the blocks, installs the hooks and sets up
// the processor. Returns the first emulator error.
uc_err Prepare(Boot& b, const MemInitInput& input, const MemInitOutput& output) {
    uc_engine* uc = b.uc;
    const uint32_t link = b.image->linkAddress;
    struct Local {
        uint64_t begin, end;
        uint32_t perms;
    };
    // In address order; everything between them is the board's. The guard
    // page stays unmapped.
    const Local locals[] = {
        {kGuardBase, kStackBase, 0},
        {kStackBase, kStackTop, UC_PROT_READ | UC_PROT_WRITE},
        {kBlocksBase, kCallerBase, UC_PROT_READ | UC_PROT_WRITE},
        {kCallerBase, kLocalEnd, UC_PROT_READ | UC_PROT_EXEC},
    };
    const Local imageLocal = {link, b.imagePagesEnd, UC_PROT_READ | UC_PROT_EXEC};
    std::vector<Local> all;
    for (const Local& l : locals) {
        all.push_back(l);
    }
    all.insert(link < kGuardBase ? all.begin() : all.end(), imageLocal);

    uint64_t cursor = 0;
    uc_err e = UC_ERR_OK;
    auto boardRange = [&](uint64_t begin, uint64_t end) {
        if (begin >= end || e != UC_ERR_OK) {
            return;
        }
        BoardRange& r = b.ranges[b.rangeCount++];
        r = BoardRange{&b, begin, end};
        e = uc_mmio_map(uc, begin, end - begin, OnMmioRead, &r, OnMmioWrite, &r);
        uc_hook h;
        if (e == UC_ERR_OK) {
            e = uc_hook_add(uc, &h, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                            reinterpret_cast<void*>(OnBoardMemory), &r, begin, end - 1);
        }
    };
    for (const Local& l : all) {
        boardRange(cursor, l.begin);
        if (l.perms != 0 && e == UC_ERR_OK) {
            e = uc_mem_map(uc, l.begin, l.end - l.begin, l.perms);
        }
        cursor = l.end;
    }
    boardRange(cursor, kSpaceEnd);
    if (e != UC_ERR_OK) {
        return e;
    }

    std::vector<uint8_t> fill(kStackTop - kStackBase, kStackFill);
    e = uc_mem_write(uc, kStackBase, fill.data(), fill.size());
    fill.assign(kCallerBase - kBlocksBase, kBlocksFill);
    if (e == UC_ERR_OK) {
        e = uc_mem_write(uc, kBlocksBase, fill.data(), fill.size());
    }
    fill.assign(kLocalEnd - kCallerBase, kCallerFill);
    if (e == UC_ERR_OK) {
        e = uc_mem_write(uc, kCallerBase, fill.data(), fill.size());
    }
    // Flat 4 GB code and data segments, as boot firmware leaves them.
    const uint64_t gdt[3] = {0, 0x00CF9B000000FFFFull, 0x00CF93000000FFFFull};
    const uint32_t frame[3] = {kReturnAddress, kInputAddress, kOutputAddress};
    if (e == UC_ERR_OK) {
        e = uc_mem_write(uc, kGdtAddress, gdt, sizeof gdt);
    }
    if (e == UC_ERR_OK) {
        e = uc_mem_write(uc, link, b.image->bytes.data(), b.image->bytes.size());
    }
    if (e == UC_ERR_OK) {
        e = uc_mem_write(uc, kInputAddress, &input, sizeof input);
    }
    if (e == UC_ERR_OK) {
        e = uc_mem_write(uc, kOutputAddress, &output, sizeof output);
    }
    if (e == UC_ERR_OK) {
        e = uc_mem_write(uc, kEspIn, frame, sizeof frame);
    }
    if (e != UC_ERR_OK) {
        return e;
    }

    uc_x86_mmr gdtr{};
    gdtr.base = kGdtAddress;
    gdtr.limit = sizeof gdt - 1;
    // Before the hooks: loading the segment registers reads the GDT.
    e = uc_reg_write(uc, UC_X86_REG_GDTR, &gdtr);
    struct Reg {
        int reg;
        uint32_t value;
    };
    const Reg regs[] = {
        {UC_X86_REG_DS, kDataSelector}, {UC_X86_REG_ES, kDataSelector},
        {UC_X86_REG_SS, kDataSelector}, {UC_X86_REG_FS, kDataSelector},
        {UC_X86_REG_GS, kDataSelector}, {UC_X86_REG_CS, kCodeSelector},
        {UC_X86_REG_ESP, kEspIn},       {UC_X86_REG_EBX, kEbxIn},
        {UC_X86_REG_ESI, kEsiIn},       {UC_X86_REG_EDI, kEdiIn},
        {UC_X86_REG_EBP, kEbpIn},       {UC_X86_REG_EAX, 0xDEADBEEF},
        {UC_X86_REG_ECX, 0xDEADBEEF},   {UC_X86_REG_EDX, 0xDEADBEEF},
        {UC_X86_REG_EFLAGS, kEflagsIn},
    };
    for (const Reg& r : regs) {
        if (e == UC_ERR_OK) {
            e = uc_reg_write(uc, r.reg, &r.value);
        }
    }
    if (e != UC_ERR_OK) {
        return e;
    }

    uc_hook h;
    struct Hook {
        int type;
        void* callback;
        uint64_t begin, end;
        int instruction;
    };
    const Hook hooks[] = {
        {UC_HOOK_INSN, reinterpret_cast<void*>(OnPortIn), 1, 0, UC_X86_INS_IN},
        {UC_HOOK_INSN, reinterpret_cast<void*>(OnPortOut), 1, 0, UC_X86_INS_OUT},
        {UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(OnInvalidMemory), 1, 0, 0},
        {UC_HOOK_INTR, reinterpret_cast<void*>(OnInterrupt), 1, 0, 0},
        {UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(OnInvalidInstruction), 1, 0, 0},
        {UC_HOOK_MEM_READ, reinterpret_cast<void*>(OnLocalRead), kCallerBase, kLocalEnd - 1, 0},
    };
    for (const Hook& k : hooks) {
        e = k.type == UC_HOOK_INSN
                ? uc_hook_add(uc, &h, k.type, k.callback, &b, k.begin, k.end, k.instruction)
                : uc_hook_add(uc, &h, k.type, k.callback, &b, k.begin, k.end);
        if (e != UC_ERR_OK) {
            return e;
        }
    }
    if (b.imageEnd % kPage != 0) {
        e = uc_hook_add(uc, &h, UC_HOOK_MEM_READ, reinterpret_cast<void*>(OnLocalRead), &b,
                        b.imageEnd, b.imagePagesEnd - 1);
        if (e != UC_ERR_OK) {
            return e;
        }
    }

    return e;
}

}  // namespace

harness::BootResult RunImageBoot(const Image& image, memboard::Board& board,
                                 const MemInitInput& input, const MemInitOutput& outputBefore,
                                 const harness::BootOptions& options, const ImageRunOptions& run,
                                 ImageBootInfo* info) {
    harness::BootResult result;
    result.input = input;
    result.output = outputBefore;
    board.BeginBoot();

    uc_engine* raw = nullptr;
    uc_err e = uc_open(UC_ARCH_X86, UC_MODE_32, &raw);
    if (e != UC_ERR_OK) {
        result.outcome = harness::Outcome::Error;
        result.error = std::string("emulator: ") + uc_strerror(e);
        return result;
    }
    std::unique_ptr<uc_engine, UcCloser> uc(raw);
    auto boot = std::make_unique<Boot>();
    Boot& b = *boot;
    b.uc = raw;
    b.image = &image;
    b.board = &board;
    b.options = &options;
    b.result = &result;
    b.stallLimit = std::chrono::milliseconds(run.stallLimitMs);
    b.imageEnd = uint64_t(image.linkAddress) + image.bytes.size();
    b.imagePagesEnd = (b.imageEnd + kPage - 1) & ~uint64_t(kPage - 1);

    e = Prepare(b, input, outputBefore);
    if (e != UC_ERR_OK) {
        result.outcome = harness::Outcome::Error;
        result.error = std::string("emulator set-up: ") + uc_strerror(e);
        return result;
    }

    {
        Watchdog watchdog(&b);
        e = uc_emu_start(raw, image.linkAddress + image.entryOffset, kReturnAddress, 0, 0);
    }
    const uint32_t eip = Eip(raw);
    if (!b.over) {
        uint8_t previous = 0;
        if (b.stalled.load()) {
            Fail(b, "no board access for " + std::to_string(run.stallLimitMs) +
                        " ms: the image spins without touching the hardware");
        } else if (e != UC_ERR_OK) {
            Fail(b, std::string("emulation stopped: ") + uc_strerror(e));
        } else if (eip == kReturnAddress) {
            DecideReturn(b);
        } else if (InImage(b, eip - 1) && uc_mem_read(raw, eip - 1, &previous, 1) == UC_ERR_OK &&
                   previous == 0xF4) {
            DecideHalt(b, eip - 1);
        } else {
            Fail(b, "emulation stopped at " + Hex(eip) + " for no reason the tool knows");
        }
    }

    uc_mem_read(raw, kInputAddress, &result.input, sizeof result.input);
    uc_mem_read(raw, kOutputAddress, &result.output, sizeof result.output);
    std::vector<uint8_t> page(kCallerBase - kBlocksBase);
    if (uc_mem_read(raw, kBlocksBase, page.data(), page.size()) == UC_ERR_OK &&
        result.outcome != harness::Outcome::Error) {
        for (uint32_t i = 0; i < page.size(); ++i) {
            const uint32_t a = kBlocksBase + i;
            const bool inBlock =
                (a >= kInputAddress && a < kInputAddress + sizeof(MemInitInput)) ||
                (a >= kOutputAddress && a < kOutputAddress + sizeof(MemInitOutput));
            if (!inBlock && page[i] != kBlocksFill) {
                b.over = false;
                Fail(b, "a write at " + Hex(a) + ", beside the firmware blocks");
                break;
            }
        }
    }
    if (info) {
        std::vector<uint8_t> stack(kStackTop - kStackBase);
        uint32_t used = 0;
        if (uc_mem_read(raw, kStackBase, stack.data(), stack.size()) == UC_ERR_OK) {
            uint32_t i = 0;
            while (i < stack.size() && stack[i] == kStackFill) {
                ++i;
            }
            used = static_cast<uint32_t>(stack.size()) - i;
        }
        info->stackBytes = used;
    }
    return result;
}

}  // namespace imagerun
