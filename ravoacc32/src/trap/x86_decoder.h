// Decoding of the x86 instructions that load or store device memory, so that
// a trapped access can be carried out on the device and the program resumed
// after it. Only the plain data moves that compilers emit for volatile
// accesses are known (mov, movzx, movsx, movsxd, mov of an immediate and the
// accumulator moffs forms); everything else is refused, never guessed.
#ifndef RAVOACC32_TRAP_X86_DECODER_H
#define RAVOACC32_TRAP_X86_DECODER_H

#include <cstdint>

namespace ravotrap {

enum class CpuMode : uint8_t { Bits32, Bits64 };

enum class Direction : uint8_t { Load, Store };

// How a loaded value reaches its register: None merges it into the low part
// of the register (a plain mov of that width); Zero and Sign extend it to the
// register's width (movzx, movsx, movsxd).
enum class Extension : uint8_t { None, Zero, Sign };

constexpr int8_t kNoRegister = -1;
constexpr int8_t kRipBase = 16;  // base "register" of RIP-relative addressing

struct DecodedAccess {
    uint8_t Length;  // bytes of the whole instruction
    uint8_t Width;   // bytes moved to or from memory: 1, 2 or 4
    Direction Dir;
    // The register loaded or stored (0 to 15 in the usual order: ax, cx, dx,
    // bx, sp, bp, si, di, r8 to r15). With HighByte it names the second byte
    // of register 0 to 3 (ah, ch, dh, bh).
    uint8_t Register;
    bool HighByte;
    uint8_t RegisterWidth;  // bytes of the destination register of a load: 1, 2, 4 or 8
    Extension Extend;
    bool HasImmediate;  // a store of Immediate instead of a register
    uint32_t Immediate;
    // The memory operand, so that the address the CPU used can be rebuilt.
    int8_t Base;    // kNoRegister, 0 to 15, or kRipBase
    int8_t Index;   // kNoRegister or 0 to 15
    uint8_t Scale;  // 1, 2, 4 or 8
    int64_t Displacement;
    uint8_t AddressSize;  // 4 or 8 bytes
    uint8_t Segment;      // override prefix byte, 0 when none
};

// Decodes the instruction at `code`. Returns false for anything outside the
// known forms, including 64-bit accesses and register-only operands.
bool DecodeAccess(const uint8_t* code, CpuMode mode, DecodedAccess* access);

// The register file as the trap sees it: general registers in encoding order
// and the instruction pointer. 32-bit code uses the low halves of 0 to 7.
struct CpuRegisters {
    uint64_t Gpr[16];
    uint64_t Ip;
};

// The address the instruction accessed, segment base left out.
uint64_t EffectiveAddress(const DecodedAccess& access, const CpuRegisters& registers, CpuMode mode);
// The register's new contents after a load of `value`.
uint64_t MergeLoad(const DecodedAccess& access, uint64_t oldValue, uint32_t value, CpuMode mode);
// The value a store writes, `width` bytes of it significant.
uint32_t StoreValue(const DecodedAccess& access, uint64_t sourceValue);

}  // namespace ravotrap

#endif  // RAVOACC32_TRAP_X86_DECODER_H
