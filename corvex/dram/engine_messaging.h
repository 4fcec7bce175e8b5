// Messages to the ME over its host interface: two circular buffers of dwords
// behind four 32-bit registers, with time-outs counted on the HPET main
// counter; the DRAM-init-done and command 0x0A exchanges; and the handshake
// that ends a successful memory initialization.
//
// Payload moves in whole dwords, so every message buffer is an array of u32:
// a send of `length` bytes reads (length + 3) / 4 dwords of it, and a receive
// with a capacity of `length` bytes stores at most (length + 3) / 4 dwords,
// whatever the engine reports. Message byte n is byte n % 4 of dword n / 4.
#ifndef CORVEX_DRAM_ENGINE_MESSAGING_H
#define CORVEX_DRAM_ENGINE_MESSAGING_H

#include "corvex/config/boot_interface.h"
#include "corvex/config/records.h"
#include "corvex/platform/types.h"

const u32 ENGINE_IF_BASE = 0xFED10000;
const u32 HPET_TICKS_PER_SECOND = 14318179;

// The identifier dword (device identifier in bits 31:16, vendor identifier in
// bits 15:0) that the ME interface function 0:3.0 reports on the silicon whose
// revision 0 needs the extra hand-off before each read of the engine buffer.
// A platform constant: this is the identifier our virtual memory boards give
// that function (boards/mem); on real silicon it comes from the platform
// documentation.
const u32 EngineIfIdRev0 = 0x01107A5C;

// Whether the window [start, end) on the HPET counter has ended, allowing for
// the 32-bit counter wrapping. Reads the counter once.
bool DeadlinePassed(u32 start, u32 end);

// Waits up to five seconds for the engine to report ready, then makes the host
// side ready.
bool EngineWaitReady(u32 base);

// One chunk: the header dword, then (length + 3) / 4 payload dwords, the bytes
// beyond the length sent as zero.
bool EngineSendChunk(u32 base, u32 header, const u32* payload);

// `buffer` holds (length + 3) / 4 dwords.
bool EngineSend(const u32* buffer, u32 base, u32 length, u8 hostAddress, u8 engineAddress);

// `*length` is the room in bytes at `destination`, which holds (room + 3) / 4
// dwords; on success it becomes the chunk length, on failure 0.
bool EngineReceiveChunk(bool blocking, u32 base, u32* header, u32* destination, u32* length);

// `*length` is the capacity in bytes of `buffer`, which holds (capacity + 3) / 4
// dwords; on success it becomes the message length, on failure 0.
bool EngineReceive(bool blocking, u32 base, u32* buffer, u32* length);

// Sends `*length` bytes of `buffer` and receives the reply into it, with the
// request length as capacity.
bool EngineTransact(u32* buffer, u32 base, u32* length, u8 hostAddress, u8 engineAddress);

// DRAM-init-done (command 0x08). With both records it reports the
// configuration and copies the reply to the output block; with neither (from
// FatalStop) it reports failure.
bool SendDramInitDone(MemConfig* config, MemInitOutput* output);

// Command 0x0A, sent when the ME already held its memory.
bool SendCommand0A(MemConfig* config, MemInitOutput* output);

// The last step of a successful initialization; failures show only as POST
// codes 0x4A, 0x4B and 0x4C.
void DramReadyHandshake(MemConfig* config, MemInitOutput* output);

#endif  // CORVEX_DRAM_ENGINE_MESSAGING_H
