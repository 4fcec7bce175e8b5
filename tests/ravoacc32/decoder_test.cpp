// The decoder against the instruction bytes the compilers really emit for
// volatile device accesses (objdump of small accessor functions built with the
// named compiler and flags), plus a few forms GNU as assembled for addressing
// modes and registers the compilers did not happen to choose.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "trap/x86_decoder.h"

namespace {

using ravotrap::CpuMode;
using ravotrap::CpuRegisters;
using ravotrap::DecodeAccess;
using ravotrap::DecodedAccess;
using ravotrap::Direction;
using ravotrap::Extension;

constexpr CpuMode k32 = CpuMode::Bits32;
constexpr CpuMode k64 = CpuMode::Bits64;
constexpr Direction L = Direction::Load;
constexpr Direction S = Direction::Store;
constexpr Extension N = Extension::None;
constexpr Extension Z = Extension::Zero;
constexpr Extension X = Extension::Sign;
constexpr int64_t kReg = -1;  // the store takes a register, not an immediate

// Register values the addresses are rebuilt from: register n holds (n + 1) << 12.
CpuRegisters SampleRegisters() {
    CpuRegisters registers{};
    for (int i = 0; i < 16; ++i) {
        registers.Gpr[i] = static_cast<uint64_t>(i + 1) << 12;
    }
    registers.Ip = 0x400000;
    return registers;
}

struct DecodeCase {
    const char* Source;
    CpuMode Mode;
    std::vector<uint8_t> Bytes;
    uint8_t Length;
    uint8_t Width;
    Direction Dir;
    uint8_t Register;
    bool HighByte;
    uint8_t RegisterWidth;  // loads only
    Extension Extend;       // loads only
    int64_t Immediate;      // kReg for a register store
    uint64_t Address;       // with SampleRegisters()
};

// clang-format off
const DecodeCase kDecodeCases[] = {
    // g++ 12 -O2, x86-64
    {"g++ -O2: movzbl 0x90(%rdi),%eax", k64, {0x0f, 0xb6, 0x87, 0x90, 0, 0, 0}, 7, 1, L, 0, false, 4, Z, kReg, 0x8090},
    {"g++ -O2: movzwl 0x4(%rdi),%eax", k64, {0x0f, 0xb7, 0x47, 0x04}, 4, 2, L, 0, false, 4, Z, kReg, 0x8004},
    {"g++ -O2: mov 0x8(%rdi),%eax", k64, {0x8b, 0x47, 0x08}, 3, 4, L, 0, false, 4, N, kReg, 0x8008},
    {"g++ -O2: movsbl 0x1(%rdi),%eax", k64, {0x0f, 0xbe, 0x47, 0x01}, 4, 1, L, 0, false, 4, X, kReg, 0x8001},
    {"g++ -O2: movswl 0x6(%rdi),%eax", k64, {0x0f, 0xbf, 0x47, 0x06}, 4, 2, L, 0, false, 4, X, kReg, 0x8006},
    {"g++ -O2: movslq 0x8(%rdi),%rax", k64, {0x48, 0x63, 0x47, 0x08}, 4, 4, L, 0, false, 8, X, kReg, 0x8008},
    {"g++ -O2: mov %sil,0x91(%rdi)", k64, {0x40, 0x88, 0xb7, 0x91, 0, 0, 0}, 7, 1, S, 6, false, 0, N, kReg, 0x8091},
    {"g++ -O2: mov %si,0x6(%rdi)", k64, {0x66, 0x89, 0x77, 0x06}, 4, 2, S, 6, false, 0, N, kReg, 0x8006},
    {"g++ -O2: mov %esi,0x8(%rdi)", k64, {0x89, 0x77, 0x08}, 3, 4, S, 6, false, 0, N, kReg, 0x8008},
    {"g++ -O2: movb $0x6,0x94(%rdi)", k64, {0xc6, 0x87, 0x94, 0, 0, 0, 0x06}, 7, 1, S, 0, false, 0, N, 0x06, 0x8094},
    {"g++ -O2: mov %ax,0x96(%rdi)", k64, {0x66, 0x89, 0x87, 0x96, 0, 0, 0}, 7, 2, S, 0, false, 0, N, kReg, 0x8096},
    {"g++ -O2: movl $0xdeadbeef,0x10(%rdi)", k64, {0xc7, 0x47, 0x10, 0xef, 0xbe, 0xad, 0xde}, 7, 4, S, 0, false, 0, N, 0xdeadbeef, 0x8010},
    {"g++ -O2: mov %dl,(%rdi)", k64, {0x88, 0x17}, 2, 1, S, 2, false, 0, N, kReg, 0x8000},
    {"g++ -O2: mov %al,-0x1(%rdi)", k64, {0x88, 0x47, 0xff}, 3, 1, S, 0, false, 0, N, kReg, 0x7fff},
    {"g++ -O2: mov %eax,-0x4(%rdi)", k64, {0x89, 0x47, 0xfc}, 3, 4, S, 0, false, 0, N, kReg, 0x7ffc},
    {"g++ -O2: mov 0x1000,%eax (SIB, no base, no index)", k64, {0x8b, 0x04, 0x25, 0x00, 0x10, 0, 0}, 7, 4, L, 0, false, 4, N, kReg, 0x1000},
    {"g++ -O2: movzbl 0x1004,%eax", k64, {0x0f, 0xb6, 0x04, 0x25, 0x04, 0x10, 0, 0}, 8, 1, L, 0, false, 4, Z, kReg, 0x1004},
    {"g++ -O2: mov %dil,0x1008", k64, {0x40, 0x88, 0x3c, 0x25, 0x08, 0x10, 0, 0}, 8, 1, S, 7, false, 0, N, kReg, 0x1008},
    {"g++ -O2: movzbl 0x0(%rip),%eax", k64, {0x0f, 0xb6, 0x05, 0, 0, 0, 0}, 7, 1, L, 0, false, 4, Z, kReg, 0x400007},
    {"g++ -O2: mov %dil,0x0(%rip)", k64, {0x40, 0x88, 0x3d, 0, 0, 0, 0}, 7, 1, S, 7, false, 0, N, kReg, 0x400007},
    {"g++ -O2: movl $0x11223344,0x0(%rip)", k64, {0xc7, 0x05, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}, 10, 4, S, 0, false, 0, N, 0x11223344, 0x40000a},
    {"g++ -O2: mov 0x4(%r10),%edx", k64, {0x41, 0x8b, 0x52, 0x04}, 4, 4, L, 2, false, 4, N, kReg, 0xb004},
    {"g++ -O2: mov 0x4(%r9),%r9d", k64, {0x45, 0x8b, 0x49, 0x04}, 4, 4, L, 9, false, 4, N, kReg, 0xa004},
    {"g++ -O2: mov %r9b,0x3(%r8)", k64, {0x45, 0x88, 0x48, 0x03}, 4, 1, S, 9, false, 0, N, kReg, 0x9003},
    {"g++ -O2: mov %r9w,0x6(%r8)", k64, {0x66, 0x45, 0x89, 0x48, 0x06}, 5, 2, S, 9, false, 0, N, kReg, 0x9006},
    // g++ 12 -O0, x86-64
    {"g++ -O0: movzbl (%rax),%eax", k64, {0x0f, 0xb6, 0x00}, 3, 1, L, 0, false, 4, Z, kReg, 0x1000},
    {"g++ -O0: mov (%rax),%edx", k64, {0x8b, 0x10}, 2, 4, L, 2, false, 4, N, kReg, 0x1000},
    {"g++ -O0: movw $0x1234,(%rax)", k64, {0x66, 0xc7, 0x00, 0x34, 0x12}, 5, 2, S, 0, false, 0, N, 0x1234, 0x1000},
    {"g++ -O0: movl $0xdeadbeef,(%rax)", k64, {0xc7, 0x00, 0xef, 0xbe, 0xad, 0xde}, 6, 4, S, 0, false, 0, N, 0xdeadbeef, 0x1000},
    {"g++ -O0: movb $0x6,(%rax)", k64, {0xc6, 0x00, 0x06}, 3, 1, S, 0, false, 0, N, 0x06, 0x1000},
    {"g++ -O0: mov %al,0x0(%rip)", k64, {0x88, 0x05, 0, 0, 0, 0}, 6, 1, S, 0, false, 0, N, kReg, 0x400006},
    // g++ 12 -O1 -fsanitize=address,undefined, x86-64 (the access after the shadow check)
    {"asan: movzbl (%r12),%r12d", k64, {0x45, 0x0f, 0xb6, 0x24, 0x24}, 5, 1, L, 12, false, 4, Z, kReg, 0xd000},
    {"asan: movzbl 0x11(%r12),%r12d", k64, {0x45, 0x0f, 0xb6, 0x64, 0x24, 0x11}, 6, 1, L, 12, false, 4, Z, kReg, 0xd011},
    {"asan: movzbl 0x90(%r12),%eax", k64, {0x41, 0x0f, 0xb6, 0x84, 0x24, 0x90, 0, 0, 0}, 9, 1, L, 0, false, 4, Z, kReg, 0xd090},
    {"asan: movzwl 0x4(%rbx),%r13d", k64, {0x44, 0x0f, 0xb7, 0x6b, 0x04}, 5, 2, L, 13, false, 4, Z, kReg, 0x4004},
    {"asan: mov %r13w,0x4(%rbx)", k64, {0x66, 0x44, 0x89, 0x6b, 0x04}, 5, 2, S, 13, false, 0, N, kReg, 0x4004},
    {"asan: mov %r12b,0x91(%rbx)", k64, {0x44, 0x88, 0xa3, 0x91, 0, 0, 0}, 7, 1, S, 12, false, 0, N, kReg, 0x4091},
    {"asan: mov %bl,(%r12)", k64, {0x41, 0x88, 0x1c, 0x24}, 4, 1, S, 3, false, 0, N, kReg, 0xd000},
    {"asan: mov %r13d,(%r12)", k64, {0x45, 0x89, 0x2c, 0x24}, 4, 4, S, 13, false, 0, N, kReg, 0xd000},
    {"asan: mov 0x90(%rbx),%r13d", k64, {0x44, 0x8b, 0xab, 0x90, 0, 0, 0}, 7, 4, L, 13, false, 4, N, kReg, 0x4090},
    {"asan: movb $0x6,0x94(%rbx)", k64, {0xc6, 0x83, 0x94, 0, 0, 0, 0x06}, 7, 1, S, 0, false, 0, N, 0x06, 0x4094},
    // GNU as, x86-64: high bytes, SIB with index, address size, moffs, other widths
    {"as: mov 0x2(%rdi),%bh", k64, {0x8a, 0x7f, 0x02}, 3, 1, L, 3, true, 1, N, kReg, 0x8002},
    {"as: mov %ah,0x1(%rdi)", k64, {0x88, 0x67, 0x01}, 3, 1, S, 0, true, 0, N, kReg, 0x8001},
    {"as: mov 0x2(%rdi),%dil", k64, {0x40, 0x8a, 0x7f, 0x02}, 4, 1, L, 7, false, 1, N, kReg, 0x8002},
    {"as: mov (%rdi,%rsi,4),%eax", k64, {0x8b, 0x04, 0xb7}, 3, 4, L, 0, false, 4, N, kReg, 0x8000 + 0x7000 * 4},
    {"as: mov 0x54(%rdi,%rsi,4),%eax", k64, {0x8b, 0x44, 0xb7, 0x54}, 4, 4, L, 0, false, 4, N, kReg, 0x8054 + 0x7000 * 4},
    {"as: mov %edx,-0x8(%rbx,%rcx,2)", k64, {0x89, 0x54, 0x4b, 0xf8}, 4, 4, S, 2, false, 0, N, kReg, 0x4000 + 0x2000 * 2 - 8},
    {"as: mov 0x0(%r13,%r12,1),%r8b", k64, {0x47, 0x8a, 0x44, 0x25, 0x00}, 5, 1, L, 8, false, 1, N, kReg, 0xe000 + 0xd000},
    {"as: movl $0x1,0x0(%r13,%r14,8)", k64, {0x43, 0xc7, 0x44, 0xf5, 0x00, 1, 0, 0, 0}, 9, 4, S, 0, false, 0, N, 1, 0xe000 + 0xf000 * 8},
    {"as: mov (%edi),%eax", k64, {0x67, 0x8b, 0x07}, 3, 4, L, 0, false, 4, N, kReg, 0x8000},
    {"as: movabs 0x123456789a,%al", k64, {0xa0, 0x9a, 0x78, 0x56, 0x34, 0x12, 0, 0, 0}, 9, 1, L, 0, false, 1, N, kReg, 0x123456789a},
    {"as: movabs %eax,0x1000", k64, {0xa3, 0x00, 0x10, 0, 0, 0, 0, 0, 0}, 9, 4, S, 0, false, 0, N, kReg, 0x1000},
    {"as: movb $0x5a,(%r12)", k64, {0x41, 0xc6, 0x04, 0x24, 0x5a}, 5, 1, S, 0, false, 0, N, 0x5a, 0xd000},
    {"as: movsbq 0x0(%r13),%rax", k64, {0x49, 0x0f, 0xbe, 0x45, 0x00}, 5, 1, L, 0, false, 8, X, kReg, 0xe000},
    {"as: movzbw (%rdi),%ax", k64, {0x66, 0x0f, 0xb6, 0x07}, 4, 1, L, 0, false, 2, Z, kReg, 0x8000},
    {"as: movzwq (%rdi),%rax", k64, {0x48, 0x0f, 0xb7, 0x07}, 4, 2, L, 0, false, 8, Z, kReg, 0x8000},
    {"as: movsxd (%rdi),%eax", k64, {0x63, 0x07}, 2, 4, L, 0, false, 4, N, kReg, 0x8000},
    {"as: mov 0x10(%rip),%eax", k64, {0x8b, 0x05, 0x10, 0, 0, 0}, 6, 4, L, 0, false, 4, N, kReg, 0x400016},
    // i686-w64-mingw32-g++ 12 -O2, i386
    {"mingw -O2: movzbl 0x90(%eax),%eax", k32, {0x0f, 0xb6, 0x80, 0x90, 0, 0, 0}, 7, 1, L, 0, false, 4, Z, kReg, 0x1090},
    {"mingw -O2: movzwl 0x4(%eax),%eax", k32, {0x0f, 0xb7, 0x40, 0x04}, 4, 2, L, 0, false, 4, Z, kReg, 0x1004},
    {"mingw -O2: mov 0x8(%eax),%eax", k32, {0x8b, 0x40, 0x08}, 3, 4, L, 0, false, 4, N, kReg, 0x1008},
    {"mingw -O2: movsbl 0x1(%eax),%eax", k32, {0x0f, 0xbe, 0x40, 0x01}, 4, 1, L, 0, false, 4, X, kReg, 0x1001},
    {"mingw -O2: movswl 0x6(%eax),%eax", k32, {0x0f, 0xbf, 0x40, 0x06}, 4, 2, L, 0, false, 4, X, kReg, 0x1006},
    {"mingw -O2: mov %dl,0x91(%eax)", k32, {0x88, 0x90, 0x91, 0, 0, 0}, 6, 1, S, 2, false, 0, N, kReg, 0x1091},
    {"mingw -O2: mov %dx,0x6(%eax)", k32, {0x66, 0x89, 0x50, 0x06}, 4, 2, S, 2, false, 0, N, kReg, 0x1006},
    {"mingw -O2: movb $0x6,0x94(%eax)", k32, {0xc6, 0x80, 0x94, 0, 0, 0, 0x06}, 7, 1, S, 0, false, 0, N, 0x06, 0x1094},
    {"mingw -O2: movl $0xdeadbeef,0x10(%eax)", k32, {0xc7, 0x40, 0x10, 0xef, 0xbe, 0xad, 0xde}, 7, 4, S, 0, false, 0, N, 0xdeadbeef, 0x1010},
    {"mingw -O2: mov %cl,0x90(%edx)", k32, {0x88, 0x8a, 0x90, 0, 0, 0}, 6, 1, S, 1, false, 0, N, kReg, 0x3090},
    {"mingw -O2: mov 0x4(%edi),%ebp", k32, {0x8b, 0x6f, 0x04}, 3, 4, L, 5, false, 4, N, kReg, 0x8004},
    {"mingw -O2: mov 0x1000,%eax (moffs)", k32, {0xa1, 0x00, 0x10, 0, 0}, 5, 4, L, 0, false, 4, N, kReg, 0x1000},
    {"mingw -O2: movzbl 0x1004,%eax", k32, {0x0f, 0xb6, 0x05, 0x04, 0x10, 0, 0}, 7, 1, L, 0, false, 4, Z, kReg, 0x1004},
    {"mingw -O2: mov %al,0x1008 (moffs)", k32, {0xa2, 0x08, 0x10, 0, 0}, 5, 1, S, 0, false, 0, N, kReg, 0x1008},
    {"mingw -O2: mov %eax,0x100c (moffs)", k32, {0xa3, 0x0c, 0x10, 0, 0}, 5, 4, S, 0, false, 0, N, kReg, 0x100c},
    {"mingw -O2: movl $0x11223344,0xc", k32, {0xc7, 0x05, 0x0c, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}, 10, 4, S, 0, false, 0, N, 0x11223344, 0xc},
    // i686-w64-mingw32-g++ 12 -O0, i386
    {"mingw -O0: mov %al,(%edx)", k32, {0x88, 0x02}, 2, 1, S, 0, false, 0, N, kReg, 0x3000},
    {"mingw -O0: movzwl (%eax),%edx", k32, {0x0f, 0xb7, 0x10}, 3, 2, L, 2, false, 4, Z, kReg, 0x1000},
    {"mingw -O0: movw $0x1234,(%eax)", k32, {0x66, 0xc7, 0x00, 0x34, 0x12}, 5, 2, S, 0, false, 0, N, 0x1234, 0x1000},
    {"mingw -O0: movl $0xdeadbeef,(%eax)", k32, {0xc7, 0x00, 0xef, 0xbe, 0xad, 0xde}, 6, 4, S, 0, false, 0, N, 0xdeadbeef, 0x1000},
    // GNU as, i386
    {"as --32: mov %ah,0x1(%eax)", k32, {0x88, 0x60, 0x01}, 3, 1, S, 0, true, 0, N, kReg, 0x1001},
    {"as --32: mov 0x3(%edx),%ch", k32, {0x8a, 0x6a, 0x03}, 3, 1, L, 1, true, 1, N, kReg, 0x3003},
    {"as --32: mov 0x54(,%eax,4),%eax", k32, {0x8b, 0x04, 0x85, 0x54, 0, 0, 0}, 7, 4, L, 0, false, 4, N, kReg, 0x54 + 0x1000 * 4},
    {"as --32: movw $0x1234,(%esi,%ebx,2)", k32, {0x66, 0xc7, 0x04, 0x5e, 0x34, 0x12}, 6, 2, S, 0, false, 0, N, 0x1234, 0x7000 + 0x4000 * 2},
    {"as --32: mov 0x40(%eax),%eax (0x40 is inc eax, not REX)", k32, {0x8b, 0x40, 0x40}, 3, 4, L, 0, false, 4, N, kReg, 0x1040},
};
// clang-format on

TEST(X86Decoder, DecodesTheFormsCompilersEmit) {
    const CpuRegisters registers = SampleRegisters();
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.Source);
        DecodedAccess a;
        ASSERT_TRUE(DecodeAccess(c.Bytes.data(), c.Mode, &a));
        EXPECT_EQ(a.Length, c.Length);
        EXPECT_EQ(a.Length, c.Bytes.size());
        EXPECT_EQ(a.Width, c.Width);
        EXPECT_EQ(a.Dir, c.Dir);
        EXPECT_EQ(a.HasImmediate, c.Immediate != kReg);
        if (c.Immediate != kReg) {
            EXPECT_EQ(a.Immediate, static_cast<uint32_t>(c.Immediate));
        } else {
            EXPECT_EQ(a.Register, c.Register);
            EXPECT_EQ(a.HighByte, c.HighByte);
        }
        if (c.Dir == Direction::Load) {
            EXPECT_EQ(a.RegisterWidth, c.RegisterWidth);
            EXPECT_EQ(a.Extend, c.Extend);
        }
        EXPECT_EQ(EffectiveAddress(a, registers, c.Mode), c.Address);
    }
}

TEST(X86Decoder, SegmentOverrideIsKeptForTheCaller) {
    // as: mov %fs:0x10(%rax),%eax and as --32: mov %fs:0x18,%eax
    const uint8_t fs64[] = {0x64, 0x8b, 0x40, 0x10};
    const uint8_t fs32[] = {0x64, 0xa1, 0x18, 0x00, 0x00, 0x00};
    DecodedAccess a;
    ASSERT_TRUE(DecodeAccess(fs64, k64, &a));
    EXPECT_EQ(a.Segment, 0x64);
    EXPECT_EQ(a.Length, 4);
    ASSERT_TRUE(DecodeAccess(fs32, k32, &a));
    EXPECT_EQ(a.Segment, 0x64);
    EXPECT_EQ(a.Length, 6);
}

struct RefusedCase {
    const char* Source;
    CpuMode Mode;
    std::vector<uint8_t> Bytes;
};

const RefusedCase kRefusedCases[] = {
    {"mov (%rdi),%rax: 64-bit access", k64, {0x48, 0x8b, 0x07}},
    {"movabs 0x1000,%rax: 64-bit access", k64, {0x48, 0xa1, 0x00, 0x10, 0, 0, 0, 0, 0, 0}},
    {"movq $1,(%rdi): 64-bit store", k64, {0x48, 0xc7, 0x07, 1, 0, 0, 0}},
    {"addl $0x1,(%rdi): read-modify-write", k64, {0x83, 0x07, 0x01}},
    {"lock orl $0x1,(%rdi)", k64, {0xf0, 0x83, 0x0f, 0x01}},
    {"lock-prefixed mov", k64, {0xf0, 0x89, 0x07}},
    {"rep movsb", k64, {0xf3, 0xa4}},
    {"testb $1,(%rdi)", k64, {0xf6, 0x07, 0x01}},
    {"mov %eax,%eax: no memory operand", k64, {0x89, 0xc0}},
    {"movzbl %al,%eax: no memory operand", k64, {0x0f, 0xb6, 0xc0}},
    {"c7 /1 is no mov", k64, {0xc7, 0x4f, 0x10, 0, 0, 0, 0}},
    {"as --32: mov (%bx,%si),%ax: 16-bit addressing", k32, {0x67, 0x66, 0x8b, 0x00}},
    {"as --32: arpl %ax,(%edi): 63 is no movsxd in 32-bit code", k32, {0x63, 0x07}},
    {"fifteen prefixes",
     k64,
     {0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
      0x89, 0x07}},
};

TEST(X86Decoder, RefusesWhatItCannotEmulateExactly) {
    for (const RefusedCase& c : kRefusedCases) {
        SCOPED_TRACE(c.Source);
        DecodedAccess a;
        EXPECT_FALSE(DecodeAccess(c.Bytes.data(), c.Mode, &a));
    }
}

struct MergeCase {
    const char* What;
    std::vector<uint8_t> Bytes;  // the load
    CpuMode Mode;
    uint64_t Old;
    uint32_t Value;
    uint64_t Expected;
};

const MergeCase kMergeCases[] = {
    {"8-bit mov keeps the rest", {0x8a, 0x07}, k64, 0x1122334455667788, 0xAB, 0x11223344556677AB},
    {"ah keeps al and the rest", {0x8a, 0x27}, k64, 0x1122334455667788, 0xAB, 0x112233445566AB88},
    {"16-bit mov keeps the rest",
     {0x66, 0x8b, 0x07},
     k64,
     0x1122334455667788,
     0xBEEF,
     0x112233445566BEEF},
    {"32-bit mov clears the upper half",
     {0x8b, 0x07},
     k64,
     0xFFFFFFFFFFFFFFFF,
     0x80000001,
     0x0000000080000001},
    {"movzbl", {0x0f, 0xb6, 0x07}, k64, 0xFFFFFFFFFFFFFFFF, 0x80, 0x80},
    {"movsbl sign-extends to 32 and clears the upper half",
     {0x0f, 0xbe, 0x07},
     k64,
     0xFFFFFFFF00000000,
     0x80,
     0x00000000FFFFFF80},
    {"movswl", {0x0f, 0xbf, 0x07}, k64, 0, 0x8001, 0x00000000FFFF8001},
    {"movsbq", {0x48, 0x0f, 0xbe, 0x07}, k64, 0, 0xFE, 0xFFFFFFFFFFFFFFFE},
    {"movslq", {0x48, 0x63, 0x07}, k64, 0, 0x80000000, 0xFFFFFFFF80000000},
    {"movzbw keeps the upper 48 bits",
     {0x66, 0x0f, 0xb6, 0x07},
     k64,
     0x1122334455667788,
     0xF0,
     0x11223344556600F0},
    {"movsbw", {0x66, 0x0f, 0xbe, 0x07}, k64, 0x1122334455667788, 0x80, 0x112233445566FF80},
    {"only the access width counts", {0x0f, 0xb6, 0x07}, k64, 0, 0xFFFFFF12, 0x12},
    {"32-bit code: mov", {0x8b, 0x07}, k32, 0x12345678, 0x9ABCDEF0, 0x9ABCDEF0},
    {"32-bit code: ch", {0x8a, 0x2f}, k32, 0x12345678, 0xAB, 0x1234AB78},
    {"32-bit code: movswl", {0x0f, 0xbf, 0x07}, k32, 0, 0xFFFE, 0xFFFFFFFE},
};

TEST(X86Decoder, MergesLoadedValuesLikeTheCpu) {
    for (const MergeCase& c : kMergeCases) {
        SCOPED_TRACE(c.What);
        DecodedAccess a;
        ASSERT_TRUE(DecodeAccess(c.Bytes.data(), c.Mode, &a));
        EXPECT_EQ(MergeLoad(a, c.Old, c.Value, c.Mode), c.Expected);
    }
}

TEST(X86Decoder, StoresTakeTheirWidthOfTheSource) {
    const uint64_t source = 0x1122334455667788;
    const struct {
        std::vector<uint8_t> Bytes;
        uint32_t Expected;
    } cases[] = {
        {{0x88, 0x07}, 0x88},                      // mov %al,(%rdi)
        {{0x88, 0x27}, 0x77},                      // mov %ah,(%rdi)
        {{0x66, 0x89, 0x07}, 0x7788},              // mov %ax,(%rdi)
        {{0x89, 0x07}, 0x55667788},                // mov %eax,(%rdi)
        {{0x66, 0xc7, 0x07, 0x34, 0x12}, 0x1234},  // movw $0x1234,(%rdi)
        {{0xc6, 0x07, 0xff}, 0xff},                // movb $0xff,(%rdi)
    };
    for (const auto& c : cases) {
        DecodedAccess a;
        ASSERT_TRUE(DecodeAccess(c.Bytes.data(), k64, &a));
        EXPECT_EQ(StoreValue(a, source), c.Expected);
    }
}

}  // namespace
