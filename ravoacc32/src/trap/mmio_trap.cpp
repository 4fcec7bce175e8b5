#include "trap/mmio_trap.h"

#include <atomic>
#include <cstdio>

namespace ravotrap {

namespace {

// The window table is read by the fault handler, which may run at any moment:
// a slot is published by storing its start address last, and the handler only
// ever reads it. No locks, no allocation, a fixed number of slots.
struct Window {
    std::atomic<bool> Claimed;
    std::atomic<uintptr_t> Start;  // 0 while the slot is not in use
    uint32_t Physical;
    TrapDevice Device;
};

Window Windows[kMaxWindows];
std::atomic<bool> HandlerInstalled{false};

Window* FindWindow(uint64_t address) {
    for (Window& window : Windows) {
        const uintptr_t start = window.Start.load(std::memory_order_acquire);
        if (start != 0 && address >= start && address - start < kWindowSize) {
            return &window;
        }
    }
    return nullptr;
}

// Appends to a fixed buffer without the C library's formatting (the report
// is written from inside the fault handler).
struct ReportBuffer {
    char Text[512];
    unsigned Length = 0;

    void Add(const char* text) {
        while (*text != '\0' && Length < sizeof Text) {
            Text[Length++] = *text++;
        }
    }
    void AddHex(uint64_t value, int minDigits) {
        char digits[16];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value & 0xF];
            value >>= 4;
        } while (value != 0 || count < minDigits);
        while (count > 0 && Length < sizeof Text) {
            Text[Length++] = digits[--count];
        }
    }
};

const char* RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::UnknownInstruction:
            return "the instruction is not a plain 8-, 16- or 32-bit move";
        case Refusal::CrossesWindowEnd:
            return "the access crosses the end of the mapped page";
        case Refusal::AddressMismatch:
            return "the access does not start where the fault was reported (it crosses into "
                   "the page from below)";
        case Refusal::None:
            break;
    }
    return "unknown reason";
}

}  // namespace

bool MapTrapWindow(uint32_t physicalPage, const TrapDevice& device, uint32_t* virtualAddress,
                   std::string* error) {
    if (!HandlerInstalled.load()) {
        if (!InstallFaultHandler(error)) {
            return false;
        }
        HandlerInstalled.store(true);
    }
    Window* slot = nullptr;
    for (Window& window : Windows) {
        if (!window.Claimed.exchange(true)) {
            slot = &window;
            break;
        }
    }
    if (slot == nullptr) {
        *error = "all " + std::to_string(kMaxWindows) + " mapping windows are in use";
        return false;
    }
    uintptr_t start = 0;
    if (!ReservePage(&start, error)) {
        slot->Claimed.store(false);
        return false;
    }
    slot->Physical = physicalPage;
    slot->Device = device;
    slot->Start.store(start, std::memory_order_release);
    *virtualAddress = static_cast<uint32_t>(start);
    return true;
}

bool UnmapTrapWindow(uint32_t virtualAddress, std::string* error) {
    for (Window& window : Windows) {
        if (virtualAddress != 0 && window.Start.load() == virtualAddress) {
            window.Start.store(0, std::memory_order_release);
            ReleasePage(virtualAddress);
            window.Claimed.store(false);
            return true;
        }
    }
    char text[80];
    std::snprintf(text, sizeof text, "0x%08X is not the address of a mapped page",
                  static_cast<unsigned>(virtualAddress));
    *error = text;
    return false;
}

TrapOutcome EmulateFault(uint64_t faultAddress, CpuRegisters* registers, CpuMode mode,
                         Refusal* refusal) {
    *refusal = Refusal::None;
    Window* window = FindWindow(faultAddress);
    if (window == nullptr) {
        return TrapOutcome::NotOurs;
    }
    DecodedAccess access;
    if (!DecodeAccess(reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(registers->Ip)), mode,
                      &access)) {
        *refusal = Refusal::UnknownInstruction;
        return TrapOutcome::Unemulated;
    }
    // The rebuilt address must be the fault address: a mismatch means an
    // access that began below the window (or a decoding fault), and carrying
    // on would corrupt the program. FS and GS have bases we do not know.
    if (access.Segment != 0x64 && access.Segment != 0x65 &&
        EffectiveAddress(access, *registers, mode) != faultAddress) {
        *refusal = Refusal::AddressMismatch;
        return TrapOutcome::Unemulated;
    }
    const uint32_t offset =
        static_cast<uint32_t>(faultAddress - window->Start.load(std::memory_order_relaxed));
    if (offset + access.Width > kWindowSize) {
        *refusal = Refusal::CrossesWindowEnd;
        return TrapOutcome::Unemulated;
    }
    const uint32_t physical = window->Physical + offset;
    uint64_t& reg = registers->Gpr[access.Register];
    if (access.Dir == Direction::Load) {
        const uint32_t value = window->Device.Read(window->Device.Context, physical, access.Width);
        reg = MergeLoad(access, reg, value, mode);
    } else {
        window->Device.Write(window->Device.Context, physical, access.Width,
                             StoreValue(access, reg));
    }
    registers->Ip += access.Length;
    return TrapOutcome::Emulated;
}

void ReportUnemulated(uint64_t faultAddress, const CpuRegisters& registers, Refusal refusal) {
    ReportBuffer report;
    report.Add("ravoacc32: cannot emulate an access to mapped device memory: ");
    report.Add(RefusalText(refusal));
    report.Add("\nravoacc32: instruction at 0x");
    report.AddHex(registers.Ip, 8);
    report.Add(", bytes:");
    // Up to the longest instruction, but never past the end of the code page.
    const uintptr_t ip = static_cast<uintptr_t>(registers.Ip);
    const uintptr_t toPageEnd = 4096 - (ip & 4095);
    const unsigned count = toPageEnd < 15 ? static_cast<unsigned>(toPageEnd) : 15u;
    for (unsigned i = 0; i < count; ++i) {
        report.Add(" ");
        report.AddHex(reinterpret_cast<const uint8_t*>(ip)[i], 2);
    }
    report.Add("\nravoacc32: accessed address 0x");
    report.AddHex(faultAddress, 8);
    report.Add("\nravoacc32: stopping the process (exit status 99)\n");
    WriteStandardError(report.Text, report.Length);
}

}  // namespace ravotrap
