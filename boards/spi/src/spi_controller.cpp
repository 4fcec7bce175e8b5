// The SPI controller: its register block at RCBA + 0x3020 byte by byte (so
// that any access width at any offset behaves like the hardware's), and the
// software- and hardware-sequenced cycles it runs on the SPI bus.
//
// Cycles run on the virtual clock. A cycle's effect on the chip happens when
// software sets the go bit; the controller then reports the cycle in progress
// until the clock reaches the cycle's end (bus time plus, for atomic and
// hardware-sequenced cycles, the chip's busy time). A status read that finds
// a cycle running reports it running and, with fast-forward on, moves the
// clock to the cycle's end, so the next poll finds it done.
#include <cstring>

#include "board_model.h"

namespace spiboard {
namespace {

// HSFSTS (offset 0x04) and SSFSTS (offset 0x90) bits.
constexpr uint8_t kHwFdone = 0x01, kHwFcerr = 0x02, kHwAel = 0x04;
constexpr uint8_t kSwScip = 0x01, kSwFdone = 0x04, kSwFcerr = 0x08, kSwAel = 0x10;
constexpr uint32_t kVsccValidMask = 0x80FF0F00u;
constexpr uint32_t kVsccWg = 1u << 10;
constexpr uint32_t kVsccWsr = 1u << 11;
constexpr uint32_t kVsccVcl = 1u << 31;

enum AddrRule : uint8_t { kAddrNo, kAddrYes, kAddrEither };
enum DataRule : uint8_t { kDataNone, kDataIn, kDataOut };

struct OpcodeRule {
    uint8_t opcode;
    CycleKind kind;
    AddrRule addr;
    DataRule data;
};

// What each JEDEC command needs of the cycle that carries it. The chip's own
// erase opcodes are added from its part model.
const OpcodeRule kOpcodeRules[] = {
    {0x03, CycleKind::Read, kAddrYes, kDataIn},
    {0x9F, CycleKind::ReadId, kAddrNo, kDataIn},
    {0x90, CycleKind::ReadId, kAddrEither, kDataIn},
    {0xAB, CycleKind::ReadId, kAddrEither, kDataIn},
    {0x05, CycleKind::ReadStatus, kAddrNo, kDataIn},
    {0x01, CycleKind::WriteStatus, kAddrNo, kDataOut},
    {0x06, CycleKind::WriteEnable, kAddrNo, kDataNone},
    {0x04, CycleKind::WriteEnable, kAddrNo, kDataNone},
    {0x50, CycleKind::WriteEnable, kAddrNo, kDataNone},
    {0x02, CycleKind::Program, kAddrYes, kDataOut},
    {0x20, CycleKind::Erase, kAddrYes, kDataNone},
    {0x52, CycleKind::Erase, kAddrYes, kDataNone},
    {0xD8, CycleKind::Erase, kAddrYes, kDataNone},
    {0x60, CycleKind::ChipErase, kAddrNo, kDataNone},
    {0xC7, CycleKind::ChipErase, kAddrNo, kDataNone},
};

struct Route {
    bool outOfRange;
    int cs;
    Chip* chip;
    uint32_t chipAddr;
    uint32_t csBase;
    uint32_t csSpan;
};

uint64_t BusNs(const Board* b, uint64_t bits) {
    return bits * b->config.spiPsPerBit / 1000;
}

OpcodeRule Classify(uint8_t opcode, const Chip* chip) {
    if (chip != nullptr) {
        if (ChipKnowsErase(*chip, opcode, nullptr)) {
            return {opcode, CycleKind::Erase, kAddrYes, kDataNone};
        }
        if (ChipKnowsChipErase(*chip, opcode)) {
            return {opcode, CycleKind::ChipErase, kAddrNo, kDataNone};
        }
    }
    for (const OpcodeRule& rule : kOpcodeRules) {
        if (rule.opcode == opcode) {
            return rule;
        }
    }
    return {opcode, CycleKind::Other, kAddrEither, kDataNone};
}

// A known command carried by a cycle of the wrong shape is refused; an
// unknown one goes out as typed and the part ignores it.
bool RuleFits(const OpcodeRule& rule, bool hasAddr, bool dataPhase, bool dataOut) {
    if (rule.kind == CycleKind::Other) {
        return true;
    }
    if ((rule.addr == kAddrYes && !hasAddr) || (rule.addr == kAddrNo && hasAddr)) {
        return false;
    }
    if (!dataPhase) {
        return true;
    }
    if (rule.data == kDataNone) {
        return false;
    }
    return (rule.data == kDataOut) == dataOut;
}

bool PrefixFits(uint8_t prefix, const Chip* chip) {
    CycleKind kind = Classify(prefix, chip).kind;
    return kind == CycleKind::WriteEnable || kind == CycleKind::Other;
}

Route RouteAddress(Board* b, uint32_t addr) {
    const SpiRegisters& r = b->regs;
    Route route = {false, 0, nullptr, addr, 0, 0};
    if (r.fdv) {
        if (addr < r.componentSize[0]) {
            route.csSpan = r.componentSize[0];
        } else if (r.components > 1 && addr - r.componentSize[0] < r.componentSize[1]) {
            route.cs = 1;
            route.csBase = r.componentSize[0];
            route.csSpan = r.componentSize[1];
            route.chipAddr = addr - route.csBase;
        } else {
            route.outOfRange = true;
            route.cs = -1;
            return route;
        }
    } else {
        // Without a descriptor only chip select 0 is driven; the part ignores
        // the address bits above its size, so the flash repeats upwards.
        route.csSpan = b->chips[0].config->part.size;
    }
    if (static_cast<unsigned>(route.cs) < b->config.chipCount) {
        route.chip = &b->chips[route.cs];
    }
    return route;
}

bool HostMay(const Board* b, uint32_t addr, bool write) {
    const SpiRegisters& r = b->regs;
    if (!r.fdv || !r.fdopss) {
        return true;
    }
    for (unsigned region = 0; region < 4; ++region) {
        uint32_t base = (r.freg[region] & 0x1FFF) << 12;
        uint32_t limit = (((r.freg[region] >> 16) & 0x1FFF) << 12) | 0xFFF;
        if (limit < base || addr < base || addr > limit) {
            continue;
        }
        if (region == 1) {
            return true;  // the host's own region
        }
        unsigned bit = write ? 8 + region : region;
        return (r.fracc >> bit) & 1;
    }
    return false;
}

bool HostMayRange(const Board* b, uint32_t addr, uint32_t length, bool write) {
    uint32_t last = addr + (length > 0 ? length - 1 : 0);
    return HostMay(b, addr, write) && HostMay(b, last, write);
}

// Program and erase cycles that reach the BIOS region (any address without a
// descriptor) need the BIOS write enable of the LPC bridge.
bool BiosWriteBlocked(const Board* b, uint32_t start, uint64_t length) {
    if (b->lpc[kLpcBiosControlReg / 4] & kBiosWriteEnable) {
        return false;
    }
    if (!b->regs.fdv) {
        return true;
    }
    uint32_t word = b->regs.freg[1];
    uint64_t base = static_cast<uint64_t>(word & 0x1FFF) << 12;
    uint64_t limit = (static_cast<uint64_t>((word >> 16) & 0x1FFF) << 12) | 0xFFF;
    if (limit < base) {
        return false;
    }
    return start <= limit && start + length > base;
}

uint8_t InjectedError(Board* b, CycleKind kind, bool hardware) {
    uint8_t result = kDone;
    for (CycleFault& fault : b->config.cycleFaults) {
        bool kindMatches = false;
        switch (fault.kind) {
            case KindSelect::Any:
                kindMatches = true;
                break;
            case KindSelect::Read:
                kindMatches = kind == CycleKind::Read;
                break;
            case KindSelect::Program:
                kindMatches = kind == CycleKind::Program;
                break;
            case KindSelect::Erase:
                kindMatches = kind == CycleKind::Erase || kind == CycleKind::ChipErase;
                break;
            case KindSelect::ReadId:
                kindMatches = kind == CycleKind::ReadId;
                break;
            case KindSelect::WriteStatus:
                kindMatches = kind == CycleKind::WriteStatus;
                break;
        }
        bool seqMatches =
            fault.seq == SeqSelect::Any || (fault.seq == SeqSelect::Hardware) == hardware;
        if (!kindMatches || !seqMatches) {
            continue;
        }
        ++fault.seen;
        bool hit =
            fault.seen >= fault.nth && (fault.count == 0 || fault.seen < fault.nth + fault.count);
        if (hit && result == kDone) {
            result = fault.ael ? kAel : kFcerr;
        }
    }
    return result;
}

LogEntry NewEntry(const Board* b, bool hardware, CycleKind kind, uint8_t opcode, uint32_t addr,
                  bool hasAddr, uint32_t bytes) {
    LogEntry e;
    std::memset(&e, 0, sizeof(e));
    e.startNs = b->now;
    e.endNs = b->now;
    e.addr = addr;
    e.bytes = static_cast<uint16_t>(bytes);
    e.type = kLogCycle;
    e.kind = static_cast<uint8_t>(kind);
    e.opcode = opcode;
    e.prefix = -1;
    e.hardware = hardware ? 1 : 0;
    e.hasAddr = hasAddr ? 1 : 0;
    e.cs = -1;
    return e;
}

void FinishRefused(Board* b, LogEntry* e, uint8_t outcome) {
    bool hardware = e->hardware != 0;
    if (hardware) {
        b->regs.hwFlags |= kHwFdone | (outcome == kAel ? kHwAel : kHwFcerr);
    } else {
        b->regs.swFlags |= kSwFdone | (outcome == kAel ? kSwAel : kSwFcerr);
    }
    if (outcome == kAel) {
        ++b->totals.ael;
    } else {
        ++b->totals.fcerr;
    }
    e->outcome = outcome;
    LogCycle(b, *e);
}

void GoWhileBusy(Board* b, bool hardware) {
    if (hardware) {
        b->regs.hwFlags |= kHwFcerr;
    } else {
        b->regs.swFlags |= kSwFcerr;
    }
    ++b->totals.goWhileBusy;
    LogEntry e = NewEntry(b, hardware, CycleKind::Other, 0, 0, false, 0);
    e.type = kLogGoWhileBusy;
    e.outcome = kFcerr;
    LogCycle(b, e);
}

// A stuck controller takes the cycle and never finishes it.
bool StickIfFaulty(Board* b, LogEntry* e, bool hardware) {
    if (!b->config.scipStuck || b->cyclesStarted < b->config.scipStuckAfter) {
        return false;
    }
    b->cycle.active = true;
    b->cycle.stuck = true;
    b->cycle.hardware = hardware;
    e->outcome = kStuck;
    LogCycle(b, *e);
    return true;
}

// One transaction on the bus, from `*at` on; the chip acts when it ends.
uint8_t Send(Board* b, Chip* chip, uint64_t* at, uint8_t opcode, bool hasAddr, uint32_t addr,
             uint8_t* data, uint32_t count, bool dataOut) {
    uint64_t bus = BusNs(b, 8 + (hasAddr ? 24 : 0) + 8ull * count);
    *at += bus;
    b->totals.busNs += bus;
    uint64_t busy = 0;
    uint8_t note = ChipExecute(b, chip, *at, {opcode, hasAddr, addr, data, count, dataOut}, &busy);
    b->totals.chipBusyNs += busy;
    return note;
}

// The controller reads the chip's status until its busy bit clears.
void WaitReady(Board* b, Chip* chip, uint64_t* at) {
    if (chip != nullptr && chip->busyUntil > *at) {
        *at = chip->busyUntil;
    }
    uint64_t poll = BusNs(b, 16);
    *at += poll;
    b->totals.busNs += poll;
}

void Begin(Board* b, bool hardware, uint64_t doneAt, uint64_t fastForwardTo) {
    b->cycle.active = true;
    b->cycle.hardware = hardware;
    b->cycle.stuck = false;
    b->cycle.doneAt = doneAt;
    b->cycle.fastForwardTo = fastForwardTo;
    b->cycle.errorFlags = 0;
}

void StartSoftwareCycle(Board* b) {
    SpiRegisters& r = b->regs;
    uint8_t ctl0 = r.ssfctl[0];
    uint8_t ctl1 = r.ssfctl[1];
    unsigned slot = (ctl0 >> 4) & 7;
    uint8_t opcode = r.opmenu[slot];
    unsigned type = (r.optype >> (2 * slot)) & 3;
    bool atomic = (ctl0 & 0x04) != 0;
    uint8_t prefix = r.preop[(ctl0 >> 3) & 1];
    bool dataPhase = (ctl1 & 0x40) != 0;
    uint32_t count = dataPhase ? (ctl1 & 0x3Fu) + 1 : 0;
    bool hasAddr = (type & 2) != 0;
    bool dataOut = (type & 1) != 0;
    uint32_t addr = r.faddr & 0x01FFFFFFu;

    if (b->cycle.active) {
        GoWhileBusy(b, false);
        return;
    }
    Route route = RouteAddress(b, addr);
    OpcodeRule rule = Classify(opcode, route.chip);
    LogEntry e = NewEntry(b, false, rule.kind, opcode, addr, hasAddr, count);
    e.cs = static_cast<int8_t>(route.cs);
    if (atomic) {
        e.prefix = prefix;
    }
    ++b->totals.cycles[0][static_cast<unsigned>(rule.kind)];
    if (StickIfFaulty(b, &e, false)) {
        return;
    }
    ++b->cyclesStarted;

    uint8_t injected = InjectedError(b, rule.kind, false);
    uint8_t outcome = kDone;
    if (!RuleFits(rule, hasAddr, dataPhase, dataOut) ||
        (atomic && !PrefixFits(prefix, route.chip))) {
        outcome = kFcerr;
    } else if (route.outOfRange) {
        outcome = kFcerr;
    } else if (hasAddr && !HostMayRange(b, addr, count, dataOut)) {
        outcome = kAel;
    } else if (rule.kind == CycleKind::WriteStatus && route.chip != nullptr &&
               route.chip->config->writeStatusFault == WriteStatusFault::Fcerr) {
        outcome = kFcerr;
    } else {
        uint32_t eraseSize = 0;
        if (rule.kind == CycleKind::Program && BiosWriteBlocked(b, addr, count)) {
            outcome = kFcerr;
        } else if (rule.kind == CycleKind::Erase && route.chip != nullptr &&
                   ChipKnowsErase(*route.chip, opcode, &eraseSize) &&
                   BiosWriteBlocked(b, addr & ~(eraseSize - 1), eraseSize)) {
            outcome = kFcerr;
        } else if (rule.kind == CycleKind::ChipErase &&
                   BiosWriteBlocked(b, route.csBase, route.csSpan)) {
            outcome = kFcerr;
        }
    }
    if (outcome == kDone) {
        outcome = injected;
    }
    if (outcome != kDone) {
        FinishRefused(b, &e, outcome);
        return;
    }

    uint64_t at = b->now;
    if (atomic) {
        Send(b, route.chip, &at, prefix, false, 0, nullptr, 0, false);
    }
    e.chipNote = Send(b, route.chip, &at, opcode, hasAddr, route.chipAddr, r.fdata, count, dataOut);
    uint64_t fastForwardTo = 0;
    if (atomic) {
        WaitReady(b, route.chip, &at);
    } else if (opcode == 0x05 && route.chip != nullptr && route.chip->busyUntil > at) {
        // Software polling the chip itself: its status read that finds the
        // part busy lets the clock jump to the part's completion.
        fastForwardTo = route.chip->busyUntil;
    }
    Begin(b, false, at, b->config.fastForward ? fastForwardTo : 0);
    e.endNs = at;
    e.outcome = kDone;
    LogCycle(b, e);
}

void StartHardwareCycle(Board* b) {
    SpiRegisters& r = b->regs;
    static const uint32_t kEraseSizes[4] = {256, 4096, 0, 65536};
    unsigned type = (r.hsfctl >> 1) & 3;
    uint32_t count = ((r.hsfctl >> 8) & 0x3Fu) + 1;
    uint32_t addr = r.faddr & 0x01FFFFFFu;
    uint8_t eraseOpcode = static_cast<uint8_t>(r.vscc >> 16);
    uint32_t eraseSize = kEraseSizes[(r.vscc >> 8) & 3];

    if (b->cycle.active) {
        GoWhileBusy(b, true);
        return;
    }
    CycleKind kind = type == 0   ? CycleKind::Read
                     : type == 2 ? CycleKind::Program
                     : type == 3 ? CycleKind::Erase
                                 : CycleKind::Other;
    uint8_t opcode = type == 0 ? 0x03 : type == 2 ? 0x02 : type == 3 ? eraseOpcode : 0x00;
    uint32_t bytes = kind == CycleKind::Erase ? 0 : count;
    LogEntry e = NewEntry(b, true, kind, opcode, addr, true, bytes);
    ++b->totals.cycles[1][static_cast<unsigned>(kind)];
    if (StickIfFaulty(b, &e, true)) {
        return;
    }
    ++b->cyclesStarted;

    uint8_t injected = InjectedError(b, kind, true);
    Route route = RouteAddress(b, addr);
    e.cs = static_cast<int8_t>(route.cs);
    bool write = kind != CycleKind::Read;
    uint8_t outcome = kDone;
    if (!r.fdv || kind == CycleKind::Other) {
        outcome = kFcerr;
    } else if (kind == CycleKind::Erase &&
               (r.vscc == 0 || r.vscc == 0xFFFFFFFFu || eraseSize == 0)) {
        outcome = kFcerr;
    } else if (kind == CycleKind::Program && (r.vscc & kVsccWg) == 0 && count > 1) {
        outcome = kFcerr;  // the controller writes single bytes only
    } else if (route.outOfRange) {
        outcome = kFcerr;
    } else if (!HostMayRange(b, addr, kind == CycleKind::Erase ? 1 : count, write)) {
        outcome = kAel;
    } else if (kind == CycleKind::Program && BiosWriteBlocked(b, addr, count)) {
        outcome = kFcerr;
    } else if (kind == CycleKind::Erase &&
               BiosWriteBlocked(b, addr & ~(eraseSize - 1), eraseSize)) {
        outcome = kFcerr;
    }
    if (outcome == kDone) {
        outcome = injected;
    }
    if (outcome != kDone) {
        FinishRefused(b, &e, outcome);
        return;
    }

    uint64_t at = b->now;
    Chip* chip = route.chip;
    if (kind == CycleKind::Read) {
        e.chipNote = Send(b, chip, &at, 0x03, true, route.chipAddr, r.fdata, count, false);
    } else {
        if (r.vscc & kVsccWsr) {
            // Parts that need their protection cleared before every write.
            uint8_t zero = 0;
            Send(b, chip, &at, 0x50, false, 0, nullptr, 0, false);
            Send(b, chip, &at, 0x01, false, 0, &zero, 1, true);
            WaitReady(b, chip, &at);
        }
        e.prefix = 0x06;
        Send(b, chip, &at, 0x06, false, 0, nullptr, 0, false);
        if (kind == CycleKind::Program) {
            e.chipNote = Send(b, chip, &at, 0x02, true, route.chipAddr, r.fdata, count, true);
        } else {
            e.chipNote = Send(b, chip, &at, eraseOpcode, true, route.chipAddr, nullptr, 0, false);
        }
        WaitReady(b, chip, &at);
    }
    Begin(b, true, at, 0);
    e.endNs = at;
    e.outcome = kDone;
    LogCycle(b, e);
}

void Settle(Board* b) {
    CycleState& c = b->cycle;
    if (!c.active || c.stuck || b->now < c.doneAt) {
        return;
    }
    c.active = false;
    if (c.hardware) {
        b->regs.hwFlags |= kHwFdone | c.errorFlags;
    } else {
        b->regs.swFlags |= kSwFdone | c.errorFlags;
    }
    if (c.fastForwardTo > b->now) {
        b->now = c.fastForwardTo;
    }
}

uint8_t ReadByte(const Board* b, uint32_t o, bool* polled) {
    const SpiRegisters& r = b->regs;
    if (o >= 0x10 && o < 0x10 + kDataBytes) {
        return r.fdata[o - 0x10];
    }
    if (o >= 0x50 && o < 0x64) {
        uint32_t word = o < 0x54 ? r.fracc : r.freg[(o - 0x54) / 4];
        return static_cast<uint8_t>(word >> (8 * (o & 3)));
    }
    if (o >= 0x98 && o < 0xA0) {
        return r.opmenu[o - 0x98];
    }
    switch (o) {
        case 0x04:
            *polled = true;
            return static_cast<uint8_t>(r.hwFlags | (((r.vscc >> 8) & 3) << 3) |
                                        (b->cycle.active ? 0x20 : 0));
        case 0x05:
            return static_cast<uint8_t>((r.fdopss ? 0x20 : 0) | (r.fdv ? 0x40 : 0) |
                                        (r.flockdn ? 0x80 : 0));
        case 0x06:
            return static_cast<uint8_t>(r.hsfctl & 0x06);
        case 0x07:
            return static_cast<uint8_t>((r.hsfctl >> 8) & 0xBF);
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0B:
            return static_cast<uint8_t>((r.faddr & 0x01FFFFFFu) >> (8 * (o - 0x08)));
        case 0x90: {
            *polled = true;
            bool softwareBusy = b->cycle.active && (!b->cycle.hardware || b->cycle.stuck);
            return static_cast<uint8_t>(r.swFlags | (softwareBusy ? kSwScip : 0));
        }
        case 0x91:
            return static_cast<uint8_t>(r.ssfctl[0] & 0x7C);
        case 0x92:
            return r.ssfctl[1];
        case 0x93:
            return static_cast<uint8_t>(r.ssfctl[2] & 0x07);
        case 0x94:
        case 0x95:
            return r.preop[o - 0x94];
        case 0x96:
        case 0x97:
            return static_cast<uint8_t>(r.optype >> (8 * (o - 0x96)));
        case 0xC0:
        case 0xC1:
        case 0xC2:
        case 0xC3:
            return static_cast<uint8_t>(r.vscc >> (8 * (o - 0xC0)));
        default:
            return 0;
    }
}

void WriteByte(Board* b, uint32_t o, uint8_t v, bool* swGo, bool* hwGo) {
    SpiRegisters& r = b->regs;
    if (o >= 0x10 && o < 0x10 + kDataBytes) {
        r.fdata[o - 0x10] = v;
        return;
    }
    if (o >= 0x94 && o < 0xA0) {
        if (r.flockdn) {
            return;  // the menu is frozen until reset
        }
        if (o < 0x96) {
            r.preop[o - 0x94] = v;
        } else if (o < 0x98) {
            unsigned shift = 8 * (o - 0x96);
            r.optype = static_cast<uint16_t>((r.optype & ~(0xFFu << shift)) | (v << shift));
        } else {
            r.opmenu[o - 0x98] = v;
        }
        return;
    }
    switch (o) {
        case 0x04:
            r.hwFlags &= static_cast<uint8_t>(~(v & 0x07));
            break;
        case 0x05:
            if (v & 0x80) {
                r.flockdn = true;
            }
            break;
        case 0x06:
            r.hsfctl = static_cast<uint16_t>((r.hsfctl & 0xFF00) | (v & 0x06));
            if (v & 0x01) {
                *hwGo = true;
            }
            break;
        case 0x07:
            r.hsfctl = static_cast<uint16_t>((r.hsfctl & 0x00FF) | ((v & 0xBF) << 8));
            break;
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0B: {
            unsigned shift = 8 * (o - 0x08);
            r.faddr =
                ((r.faddr & ~(0xFFu << shift)) | (static_cast<uint32_t>(v) << shift)) & 0x01FFFFFFu;
            break;
        }
        case 0x90:
            r.swFlags &= static_cast<uint8_t>(~(v & 0x1C));
            break;
        case 0x91:
            r.ssfctl[0] = static_cast<uint8_t>(v & 0x7C);
            if (v & 0x02) {
                *swGo = true;
            }
            break;
        case 0x92:
            r.ssfctl[1] = v;
            break;
        case 0x93:
            r.ssfctl[2] = static_cast<uint8_t>(v & 0x07);
            break;
        case 0xC0:
        case 0xC1:
        case 0xC2:
        case 0xC3: {
            if (r.vscc & kVsccVcl) {
                break;
            }
            unsigned shift = 8 * (o - 0xC0);
            uint32_t mask = kVsccValidMask & (0xFFu << shift);
            r.vscc = (r.vscc & ~mask) | ((static_cast<uint32_t>(v) << shift) & mask);
            break;
        }
        default:
            break;
    }
}

}  // namespace

void ControllerPowerOn(Board* b) {
    const BoardConfig& c = b->config;
    SpiRegisters& r = b->regs;
    r = SpiRegisters();
    r.flockdn = c.lockedAtPowerOn;
    r.fdopss = c.fdopss;
    std::memcpy(r.opmenu, c.opmenu, sizeof(r.opmenu));
    std::memcpy(r.preop, c.preop, sizeof(r.preop));
    r.optype = c.optype;
    r.vscc = c.vscc;
    LoadDescriptorRegisters(b);
    b->cycle = CycleState();
    b->cyclesStarted = 0;
    if (c.scipStuck && c.scipStuckAfter == 0) {
        b->cycle.active = true;
        b->cycle.stuck = true;
    }
}

uint32_t ControllerRead(Board* b, uint32_t pageOffset, unsigned width) {
    b->now += b->config.readCostNs;
    ++b->totals.registerReads;
    Settle(b);
    bool polled = false;
    uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        uint32_t offset = pageOffset + i;
        uint8_t byte = 0xFF;
        if (offset >= kSpiBlockOffset && offset < kSpiBlockOffset + kSpiBlockSize) {
            byte = ReadByte(b, offset - kSpiBlockOffset, &polled);
        }
        value |= static_cast<uint32_t>(byte) << (8 * i);
    }
    if (polled && b->cycle.active && !b->cycle.stuck && b->config.fastForward &&
        b->cycle.doneAt > b->now) {
        b->now = b->cycle.doneAt;
    }
    return value;
}

void ControllerWrite(Board* b, uint32_t pageOffset, unsigned width, uint32_t value) {
    b->now += b->config.writeCostNs;
    ++b->totals.registerWrites;
    Settle(b);
    bool swGo = false;
    bool hwGo = false;
    for (unsigned i = 0; i < width; ++i) {
        uint32_t offset = pageOffset + i;
        if (offset >= kSpiBlockOffset && offset < kSpiBlockOffset + kSpiBlockSize) {
            WriteByte(b, offset - kSpiBlockOffset, static_cast<uint8_t>(value >> (8 * i)), &swGo,
                      &hwGo);
        }
    }
    // The go bits act once the whole access has landed, so one 32-bit write
    // can set up a cycle and start it.
    if (swGo) {
        StartSoftwareCycle(b);
    }
    if (hwGo) {
        StartHardwareCycle(b);
    }
}

}  // namespace spiboard
