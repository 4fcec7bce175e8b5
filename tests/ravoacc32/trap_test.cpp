// The trap end to end, in this process: a window backed by a recording
// device, reached with plain volatile accesses of every width (as this build
// compiles them) and with hand-written instructions for the addressing forms
// and register encodings the compiler may not choose. Checks what the device
// saw, in order and width, and what the program got back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "tests/ravoacc32/recording_device.h"
#include "trap/mmio_trap.h"

namespace {

using ravotest::DeviceAccess;
using ravotest::RecordingDevice;

constexpr uint32_t kPhysicalPage = 0xFED1F000;

class TrapWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &address, &error))
            << error;
        base = reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(address));
    }
    void TearDown() override {
        std::string error;
        EXPECT_TRUE(ravotrap::UnmapTrapWindow(address, &error)) << error;
    }

    template <typename T>
    volatile T& At(uint32_t offset) {
        return *reinterpret_cast<volatile T*>(base + offset);
    }

    void ExpectLog(std::initializer_list<DeviceAccess> expected) {
        ASSERT_EQ(device.Count, static_cast<int>(expected.size()));
        int i = 0;
        for (const DeviceAccess& e : expected) {
            const DeviceAccess& got = device.Log[i];
            SCOPED_TRACE("access " + std::to_string(i));
            EXPECT_EQ(got.Write, e.Write);
            EXPECT_EQ(got.Address, kPhysicalPage + e.Address);
            EXPECT_EQ(got.Width, e.Width);
            EXPECT_EQ(got.Value, e.Value);
            ++i;
        }
    }

    RecordingDevice device{kPhysicalPage};
    uint32_t address = 0;
    volatile uint8_t* base = nullptr;
};

constexpr bool R = false;
constexpr bool W = true;

TEST_F(TrapWindow, LoadsReturnTheDeviceValueWithTheirExtension) {
    device.Set(0x10, 0x80, 1);
    device.Set(0x20, 0x8001, 2);
    device.Set(0x30, 0x80000001, 4);

    const uint8_t u8 = At<uint8_t>(0x10);
    const int8_t s8 = At<int8_t>(0x10);
    const uint16_t u16 = At<uint16_t>(0x20);
    const int16_t s16 = At<int16_t>(0x20);
    const uint32_t u32 = At<uint32_t>(0x30);
    const int64_t s32 = At<int32_t>(0x30);

    EXPECT_EQ(u8, 0x80);
    EXPECT_EQ(s8, -128);
    EXPECT_EQ(u16, 0x8001);
    EXPECT_EQ(s16, -32767);
    EXPECT_EQ(u32, 0x80000001u);
    EXPECT_EQ(s32, -2147483647);
    ExpectLog({{R, 0x10, 1, 0x80},
               {R, 0x10, 1, 0x80},
               {R, 0x20, 2, 0x8001},
               {R, 0x20, 2, 0x8001},
               {R, 0x30, 4, 0x80000001},
               {R, 0x30, 4, 0x80000001}});
}

TEST_F(TrapWindow, StoresReachTheDeviceWithTheirWidth) {
    volatile uint32_t fromRegister = 0xCAFEF00D;
    At<uint8_t>(0x91) = 0x5A;
    At<uint16_t>(0x96) = 0x1234;
    At<uint32_t>(0x10) = 0xDEADBEEF;
    At<uint32_t>(0x14) = fromRegister;
    At<uint16_t>(0x18) = static_cast<uint16_t>(fromRegister);
    At<uint8_t>(0x1A) = static_cast<uint8_t>(fromRegister >> 8);

    ExpectLog({{W, 0x91, 1, 0x5A},
               {W, 0x96, 2, 0x1234},
               {W, 0x10, 4, 0xDEADBEEF},
               {W, 0x14, 4, 0xCAFEF00D},
               {W, 0x18, 2, 0xF00D},
               {W, 0x1A, 1, 0xF0}});
    EXPECT_EQ(device.Get(0x10, 4), 0xDEADBEEFu);
    EXPECT_EQ(device.Get(0x96, 2), 0x1234u);
}

TEST_F(TrapWindow, ReadModifyWriteSequencesKeepTheirOrder) {
    // The status-clearing sequences of the SPI controller: one read, then
    // three byte writes; and a 32-bit read-modify-write.
    device.Set(0x90, 0x01, 1);
    const uint8_t v = At<uint8_t>(0x90);
    At<uint8_t>(0x90) = v | 0x10;
    At<uint8_t>(0x90) = v | 0x18;
    At<uint8_t>(0x90) = v | 0x1C;
    device.Set(0x94, 0x06, 4);
    At<uint32_t>(0x94) |= 0x1C00;

    ExpectLog({{R, 0x90, 1, 0x01},
               {W, 0x90, 1, 0x11},
               {W, 0x90, 1, 0x19},
               {W, 0x90, 1, 0x1D},
               {R, 0x94, 4, 0x06},
               {W, 0x94, 4, 0x1C06}});
}

TEST_F(TrapWindow, AddressingFormsAndRegisterEncodings) {
    device.Set(0x0C, 0x11223344, 4);
    device.Set(0x11, 0x9C, 1);
    device.Set(0x20, 0xBEEF, 2);
    device.Set(0x30, 0x80000001, 4);
    volatile uint8_t* p = base;
    uint64_t out = 0;

    // SIB with index and scale: mov (%base,%index,4),%r32
    uint64_t index = 3;
    uint32_t viaSib = 0;
    asm volatile("movl (%[p],%[i],4), %[out]"
                 : [out] "=r"(viaSib)
                 : [p] "r"(p), [i] "r"(index)
                 : "memory");
    EXPECT_EQ(viaSib, 0x11223344u);

    // r12 as base needs a SIB byte; the load goes to r12d itself.
    asm volatile("mov %[p], %%r12\n\tmovzbl 0x11(%%r12), %%r12d\n\tmov %%r12, %[out]"
                 : [out] "=r"(out)
                 : [p] "r"(p)
                 : "r12", "memory");
    EXPECT_EQ(out, 0x9Cu);

    // ah: the second byte of rax, everything else kept.
    // (ah has no encoding with REX, so the pointer sits in rdi.)
    asm volatile("movabs $0x1122334455667788, %%rax\n\tmovb 0x11(%[p]), %%ah\n\tmov %%rax, %[out]"
                 : [out] "=r"(out)
                 : [p] "D"(p)
                 : "rax", "memory");
    EXPECT_EQ(out, 0x1122334455669C88u);

    // 16-bit load keeps the upper 48 bits; 32-bit load clears the upper half.
    asm volatile("movabs $0x1122334455667788, %%rax\n\tmovw 0x20(%[p]), %%ax\n\tmov %%rax, %[out]"
                 : [out] "=r"(out)
                 : [p] "r"(p)
                 : "rax", "memory");
    EXPECT_EQ(out, 0x112233445566BEEFu);
    asm volatile("mov $-1, %%rax\n\tmovl 0x30(%[p]), %%eax\n\tmov %%rax, %[out]"
                 : [out] "=r"(out)
                 : [p] "r"(p)
                 : "rax", "memory");
    EXPECT_EQ(out, 0x80000001u);

    // Sign extension to 64 bits into REX-encoded registers.
    asm volatile("movsbq 0x11(%[p]), %%r9\n\tmov %%r9, %[out]"
                 : [out] "=r"(out)
                 : [p] "r"(p)
                 : "r9", "memory");
    EXPECT_EQ(out, 0xFFFFFFFFFFFFFF9Cu);
    asm volatile("movslq 0x30(%[p]), %%r10\n\tmov %%r10, %[out]"
                 : [out] "=r"(out)
                 : [p] "r"(p)
                 : "r10", "memory");
    EXPECT_EQ(out, 0xFFFFFFFF80000001u);

    const int before = device.Count;
    // Stores: ah, sil (REX), an immediate through SIB, an immediate at disp32.
    asm volatile("mov $0x12AB, %%eax\n\tmovb %%ah, 0x3(%[p])" : : [p] "D"(p) : "rax", "memory");
    asm volatile("mov $0x77, %%esi\n\tmov %%sil, 0x4(%[p])" : : [p] "r"(p) : "rsi", "memory");
    asm volatile("movw $0x4321, 0x40(%[p],%[i],2)" : : [p] "r"(p), [i] "r"(index) : "memory");
    asm volatile("movb $0xA5, 0x123(%[p])" : : [p] "r"(p) : "memory");
    ASSERT_EQ(device.Count, before + 4);
    const DeviceAccess* log = device.Log + before;
    EXPECT_TRUE(log[0].Write && log[0].Address == kPhysicalPage + 0x03 && log[0].Width == 1 &&
                log[0].Value == 0x12);
    EXPECT_TRUE(log[1].Write && log[1].Address == kPhysicalPage + 0x04 && log[1].Width == 1 &&
                log[1].Value == 0x77);
    EXPECT_TRUE(log[2].Write && log[2].Address == kPhysicalPage + 0x46 && log[2].Width == 2 &&
                log[2].Value == 0x4321);
    EXPECT_TRUE(log[3].Write && log[3].Address == kPhysicalPage + 0x123 && log[3].Width == 1 &&
                log[3].Value == 0xA5);
}

TEST_F(TrapWindow, AnInstructionItCannotEmulateStopsTheProcessWithItsBytes) {
    volatile uint8_t* p = base;
    EXPECT_EXIT(asm volatile("addl $1, 0x10(%0)"
                             :
                             : "r"(p)
                             : "memory"),
                ::testing::ExitedWithCode(ravotrap::kUnemulatedAccessExitStatus),
                "not a plain 8-, 16- or 32-bit move\nravoacc32: instruction at 0x[0-9a-f]+, "
                "bytes: 83 [0-9a-f]{2} 10 01");
    EXPECT_EXIT(asm volatile("movl 0xFFE(%0), %%eax"
                             :
                             : "r"(p)
                             : "rax", "memory"),
                ::testing::ExitedWithCode(ravotrap::kUnemulatedAccessExitStatus),
                "crosses the end of the mapped page");
}

void PreviousHandler(int, siginfo_t*, void*) {
    const char text[] = "previous handler reached\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    _exit(42);
}

TEST(TrapHandler, FaultsOutsideTheWindowsGoToThePreviousHandler) {
    // A fresh process, so that this handler is the one the trap finds.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            struct sigaction action {};
            action.sa_sigaction = PreviousHandler;
            action.sa_flags = SA_SIGINFO;
            sigaction(SIGSEGV, &action, nullptr);
            RecordingDevice device{kPhysicalPage};
            device.Set(0, 0x5A, 1);
            uint32_t address = 0;
            std::string error;
            if (!ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &address, &error)) {
                _exit(1);
            }
            if (*reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(address)) != 0x5A) {
                _exit(2);
            }
            void* other = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            (void)*static_cast<volatile uint8_t*>(other);
            _exit(3);
        },
        ::testing::ExitedWithCode(42), "previous handler reached");
}

TEST(TrapHandler, FaultsOutsideTheWindowsStillEndTheProcess) {
    // With nothing installed before the trap the default action (or, in a
    // sanitizer build, AddressSanitizer's report) must still happen.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#if defined(__SANITIZE_ADDRESS__)
    const char* expected = "AddressSanitizer: SEGV";
    auto ended = [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; };
#else
    const char* expected = "";
    auto ended = [](int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV; };
#endif
    EXPECT_EXIT(
        {
            const rlimit noCore{};  // the expected crash leaves no core file
            setrlimit(RLIMIT_CORE, &noCore);
            RecordingDevice device{kPhysicalPage};
            uint32_t address = 0;
            std::string error;
            if (!ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &address, &error)) {
                _exit(1);
            }
            void* other = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            (void)*static_cast<volatile uint8_t*>(other);
            _exit(3);
        },
        ended, expected);
}

TEST(TrapHandler, WindowTableIsBoundedAndSlotsAreReused) {
    RecordingDevice device{kPhysicalPage};
    uint32_t addresses[ravotrap::kMaxWindows] = {};
    std::string error;
    for (uint32_t& address : addresses) {
        ASSERT_TRUE(ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &address, &error))
            << error;
        EXPECT_NE(address, 0u);
    }
    uint32_t extra = 0;
    EXPECT_FALSE(ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &extra, &error));
    EXPECT_EQ(error, "all 16 mapping windows are in use");

    ASSERT_TRUE(ravotrap::UnmapTrapWindow(addresses[5], &error));
    EXPECT_FALSE(ravotrap::UnmapTrapWindow(addresses[5], &error));
    EXPECT_EQ(error.find("is not the address of a mapped page"), 11u) << error;
    ASSERT_TRUE(
        ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &addresses[5], &error));
    for (uint32_t address : addresses) {
        EXPECT_TRUE(ravotrap::UnmapTrapWindow(address, &error));
    }
}

}  // namespace
