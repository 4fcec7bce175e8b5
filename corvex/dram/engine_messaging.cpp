// Message transport to the ME, the two messages of memory initialization and
// the final DRAM-ready handshake (see engine_messaging.h).
#include "corvex/dram/engine_messaging.h"

#include "corvex/config/platform_control.h"
#include "corvex/config/registers.h"
#include "corvex/config/tables.h"
#include "corvex/dram/fatal_stop.h"
#include "corvex/dram/phase_calibration.h"
#include "corvex/platform/platform.h"

namespace {

// Host interface registers, offsets from the interface base.
const u32 kHostWindow = 0x00;    // each write appends a dword to the host buffer
const u32 kHostControl = 0x04;   // pointers of the host buffer, host flags
const u32 kEngineWindow = 0x08;  // each read takes a dword from the engine buffer
const u32 kEngineStatus = 0x0C;  // pointers of the engine buffer, engine ready

const u32 kHostIntStatus = 1u << 1;
const u32 kHostIntGenerate = 1u << 2;
const u32 kHostReady = 1u << 3;
const u32 kHostReset = 1u << 4;
const u32 kEngineReady = 1u << 3;

const u32 kHeaderComplete = 1u << 31;
const u32 kHeaderLengthMax = 0x1FF;

// Time-outs in HPET ticks.
const u32 kTransferTimeout = HPET_TICKS_PER_SECOND;  // one second
const u32 kEngineReadyTimeout = 71590899;            // five seconds

// Configuration space of the ME interface function, device 0:3.0.
const u32 kEngineIfConfig = PciCfgAddress(0, 3, 0, 0);
const u32 kEngineIfStatus = 0x40;

// Addresses memory initialization always uses.
const u8 kHostAddress = 0;
const u8 kEngineAddress = 1;

const u8 kCmdDramInitDone = 0x08;
const u8 kCmdDramInitDoneReply = 0x88;
const u8 kCmd0A = 0x0A;
const u8 kCmd0AReply = 0x8A;
const u32 kDramInitDoneLength = 10;
const u32 kCommand0ALength = 2;

u32 HpetNow() {
    return PhysRead32(HPET_MAIN_COUNTER);
}

// Fill level and depth, in dwords, of the buffer described by a host control
// or engine status value.
u32 FillLevel(u32 pointers) {
    return ((pointers >> 16) - (pointers >> 8)) & 0xFF;
}
u32 Depth(u32 pointers) {
    return pointers >> 24;
}

u32 HeaderLength(u32 header) {
    return (header >> 16) & kHeaderLengthMax;
}

constexpr u32 DwordsFor(u32 bytes) {
    return (bytes + 3) / 4;
}

u8 MessageByte(const u32* message, u32 index) {
    return static_cast<u8>(message[index / 4] >> (8 * (index % 4)));
}

u32 EngineIfHandOffState() {
    return (PhysRead32(kEngineIfConfig + kEngineIfStatus) >> 10) & 0x3;
}

// Revision 0 of one engine interface needs the host to trade the
// interrupt-generate bit against a change of the function's status field
// before each read of the engine buffer.
void Revision0HandOff(u32 base) {
    if (PhysRead32(kEngineIfConfig) != EngineIfIdRev0 ||
        PhysRead8(kEngineIfConfig + kPciRevisionId) != 0) {
        return;
    }
    while ((PhysRead32(base + kHostControl) & kHostIntGenerate) != 0) {
    }
    const u32 before = EngineIfHandOffState();
    PhysSetBits32(base + kHostControl, kHostIntGenerate);
    while (EngineIfHandOffState() == before) {
    }
}

}  // namespace

bool DeadlinePassed(u32 start, u32 end) {
    const u32 now = HpetNow();
    if (start < end) {
        return now >= end || now < start;
    }
    if (start > end) {
        return end < now && now < start;
    }
    return true;
}

bool EngineWaitReady(u32 base) {
    const u32 start = HpetNow();
    while ((PhysRead32(base + kEngineStatus) & kEngineReady) == 0) {
        if (DeadlinePassed(start, start + kEngineReadyTimeout)) {
            return false;
        }
    }
    if ((PhysRead32(base + kHostControl) & kHostReady) != 0) {
        return true;
    }
    PhysClearBits32(base + kHostControl, kHostReset);
    PhysSetBits32(base + kHostControl, kHostReady | kHostIntGenerate);
    return true;
}

bool EngineSendChunk(u32 base, u32 header, const u32* payload) {
    const u32 start = HpetNow();
    const u32 end = start + kTransferTimeout;
    while ((PhysRead32(base + kEngineStatus) & kEngineReady) == 0) {
        if (DeadlinePassed(start, end)) {
            return false;
        }
    }
    const u32 length = HeaderLength(header);
    const u32 words = DwordsFor(length);
    const u32 needed = words + 1;
    for (;;) {
        const u32 control = PhysRead32(base + kHostControl);
        const u32 fill = FillLevel(control);
        const u32 depth = Depth(control);
        // An overfull buffer has no room at all.
        if (fill <= depth && needed <= depth - fill) {
            break;
        }
        if (DeadlinePassed(start, end)) {
            return false;
        }
    }
    PhysWrite32(base + kHostWindow, header);
    for (u32 i = 0; i < words; ++i) {
        // EngineSend never hands over a chunk longer than what is left of its
        // message, which the analyzer cannot follow across the two functions.
        u32 value = payload[i];  // NOLINT(clang-analyzer-core.uninitialized.Assign)
        const u32 tail = length % 4;
        if (i == words - 1 && tail != 0) {
            value &= (1u << (8 * tail)) - 1u;
        }
        PhysWrite32(base + kHostWindow, value);
    }
    PhysSetBits32(base + kHostControl, kHostIntGenerate);
    return true;
}

bool EngineSend(const u32* buffer, u32 base, u32 length, u8 hostAddress, u8 engineAddress) {
    const u32 depth = Depth(PhysRead32(base + kHostControl));
    const u32 address = static_cast<u32>(engineAddress) | static_cast<u32>(hostAddress) << 8;
    u32 sent = 0;
    while (sent < length) {
        const u32 remaining = length - sent;
        u32 header = address;
        u32 chunk;
        if (DwordsFor(remaining) < depth) {
            header |= kHeaderComplete;
            chunk = remaining;
        } else {
            // A buffer of fewer than two dwords never carries a payload dword
            // beside the header: sending would never end.
            if (depth < 2) {
                return false;
            }
            chunk = (depth - 1) * 4;
        }
        if (chunk > kHeaderLengthMax) {
            return false;  // the header cannot say how long this chunk is
        }
        header |= chunk << 16;
        // Every chunk but the last is whole dwords, so `sent` is a dword offset.
        if (!EngineSendChunk(base, header, buffer + sent / 4)) {
            return false;
        }
        sent += chunk;
    }
    return true;
}

bool EngineReceiveChunk(bool blocking, u32 base, u32* header, u32* destination, u32* length) {
    const u32 room = *length;
    *length = 0;
    PhysSetBits32(base + kHostControl, kHostIntStatus);
    const u32 first = PhysRead32(base + kEngineStatus);
    if (FillLevel(first) > Depth(first)) {
        return false;
    }
    if (FillLevel(first) == 0 && !blocking) {
        return false;
    }
    const u32 start = HpetNow();
    for (;;) {
        if (DeadlinePassed(start, start + kTransferTimeout)) {
            return false;
        }
        const u32 status = PhysRead32(base + kEngineStatus);
        if (FillLevel(status) == 0) {
            continue;
        }
        Revision0HandOff(base);
        *header = PhysRead32(base + kEngineWindow);
        const u32 chunk = HeaderLength(*header);
        if (chunk == 0) {
            PhysSetBits32(base + kHostControl, kHostIntGenerate);
            return true;
        }
        if (chunk + 4 > Depth(status) * 4) {
            return false;
        }
        // The room bounds every store: (chunk + 3) / 4 dwords never pass the
        // (room + 3) / 4 the caller's buffer holds.
        if (chunk > room) {
            return false;
        }
        const u32 words = DwordsFor(chunk);
        const u32 waitStart = HpetNow();
        while (FillLevel(PhysRead32(base + kEngineStatus)) < words) {
            if (DeadlinePassed(waitStart, waitStart + kTransferTimeout)) {
                return false;
            }
        }
        Revision0HandOff(base);
        for (u32 i = 0; i < words; ++i) {
            destination[i] = PhysRead32(base + kEngineWindow);
        }
        if ((PhysRead32(base + kEngineStatus) & kEngineReady) == 0) {
            return false;
        }
        PhysSetBits32(base + kHostControl, kHostIntGenerate);
        *length = chunk;
        return true;
    }
}

bool EngineReceive(bool blocking, u32 base, u32* buffer, u32* length) {
    const u32 capacity = *length;
    *length = 0;
    if (capacity == 0) {
        return false;
    }
    const u32 start = HpetNow();
    u32 received = 0;
    for (;;) {
        if (DeadlinePassed(start, start + kTransferTimeout)) {
            return false;
        }
        u32 header = 0;
        u32 chunk = capacity - received;
        if (!EngineReceiveChunk(blocking, base, &header, buffer + received / 4, &chunk)) {
            return false;
        }
        if (chunk == 0) {
            // Only an empty message may consist of an empty chunk.
            return received == 0 && (header & kHeaderComplete) != 0;
        }
        received += chunk;
        if ((header & kHeaderComplete) != 0) {
            *length = received;
            return true;
        }
        if (received >= capacity) {
            return false;
        }
    }
}

bool EngineTransact(u32* buffer, u32 base, u32* length, u8 hostAddress, u8 engineAddress) {
    if (!EngineSend(buffer, base, *length, hostAddress, engineAddress)) {
        *length = 0;
        return false;
    }
    return EngineReceive(true, base, buffer, length);
}

bool SendDramInitDone(MemConfig* config, MemInitOutput* output) {
    u8 status = 7;  // failure: no configuration to report
    u8 frequency = 0;
    u8 speedClass = 0;
    if (config != nullptr) {
        const bool noChannelA = config->chASizeMb == 0;
        if (output != nullptr) {
            output->engineChANone = noChannelA ? 1 : 0;
        }
        status = static_cast<u8>((config->tckMax533Ok == 0 ? 0x04 : 0) | (noChannelA ? 0x02 : 0));
        frequency = static_cast<u8>(config->ddrFreq + 1);
        speedClass = config->tckMax533Ok == 0 ? 1 : 2;
    }
    u32 message[DwordsFor(kDramInitDoneLength)];
    message[0] = kCmdDramInitDone | 2u << 8 | 2u << 16 | static_cast<u32>(status) << 24;
    message[1] = frequency | static_cast<u32>(speedClass) << 8 |
                 static_cast<u32>(SpdAddressTable[0]) << 16 |
                 static_cast<u32>(SpdAddressTable[1]) << 24;
    message[2] = SpdAddressTable[2] | static_cast<u32>(SpdAddressTable[3]) << 8;
    u32 length = kDramInitDoneLength;
    if (!EngineTransact(message, ENGINE_IF_BASE, &length, kHostAddress, kEngineAddress)) {
        return false;
    }
    if (MessageByte(message, 0) != kCmdDramInitDoneReply) {
        FatalHalt(kHaltDramInitDoneReply);
    }
    if (output != nullptr) {
        output->engineReply1 = MessageByte(message, 1);
        output->engineReply2 = MessageByte(message, 2);
    }
    return true;
}

bool SendCommand0A(MemConfig*, MemInitOutput* output) {
    u32 message[DwordsFor(kCommand0ALength)];
    message[0] = kCmd0A | 0x01u << 8;
    u32 length = kCommand0ALength;
    if (!EngineTransact(message, ENGINE_IF_BASE, &length, kHostAddress, kEngineAddress)) {
        return false;
    }
    if (MessageByte(message, 0) != kCmd0AReply) {
        FatalHalt(kHaltCommand0AReply);
    }
    if (output != nullptr) {
        output->engineReply1 = MessageByte(message, 1);
    }
    return true;
}

void DramReadyHandshake(MemConfig* config, MemInitOutput* output) {
    PostCode(0x4E);
    if (!EngineWaitReady(ENGINE_IF_BASE)) {
        PostCode(0x4A);
        return;
    }
    if (!SendDramInitDone(config, output)) {
        PostCode(0x4B);
        return;
    }
    // Tell the ME which channels hold DIMMs; this register sits at an odd offset.
    const bool channelA = config->rankPresent[0] != 0 || config->rankPresent[2] != 0;
    const bool channelB = config->rankPresent[4] != 0 || config->rankPresent[6] != 0;
    PhysSetBits32(McAddress(0xA2F), channelA ? 0x1u : 0u);
    PhysSetBits32(McAddress(0xA2F), channelB ? 0x2u : 0u);
    if (config->meHoldsMemory == 1) {
        PhysClearBits8(McAddress(0x5F4), 0x01);
        PhysClearBits8(McAddress(0x9F4), 0x01);
        PhysClearBits8(McAddress(0x18C), 0x01);
        PhysWrite16(McAddress(0x1A0), 0);
        PhysWrite16(McAddress(0x1A4), 0);
        PhysWrite16(McAddress(0x19C), 0xFFFF);
        PhysSetBits8(McAddress(0x199), 0x01);
        ClockPhaseAndTiming(config);
        PhysSetBits8(McAddress(0x130), 0x02);
        if (config->chASizeMb != 0) {
            PhysSetBits32(McAddress(0x268), 0xC0000000u);
            PhysSetBits32(McAddress(0x260), 1u << 27);
        }
        if (config->chBSizeMb != 0) {
            PhysSetBits32(McAddress(0x268, 1), 0xC0000000u);
            PhysSetBits32(McAddress(0x260, 1), 1u << 27);
        }
        PhysSetBits8(McAddress(0x5FF), 0x80);
        if (!SendCommand0A(config, output)) {
            PostCode(0x4C);
            return;
        }
    }
    PhysSetBits32(McAddress(0xA30), 1u << 26);
}
