// The trap in the 32-bit Windows build, run under wine by the host tests: a
// window backed by the recording device, reached with the accesses this
// compiler emits and with hand-written 32-bit forms (ah, SIB), plus the
// entry points of ravoacc32.dll as a program imports them. Prints one line
// per failed check and "trap check passed" at the end; exit status 0 or 1.
// With the argument "unknown" it runs an instruction the trap cannot emulate.
#include <cstdio>
#include <cstring>
#include <string>

#include "ravoacc32.h"
#include "tests/ravoacc32/recording_device.h"
#include "trap/mmio_trap.h"

namespace {

int Failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++Failures;
    }
}

constexpr uint32_t kPhysicalPage = 0xFED1F000;

void CheckTrap() {
    static ravotest::RecordingDevice device{kPhysicalPage};
    uint32_t address = 0;
    std::string error;
    if (!ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &address, &error)) {
        std::printf("FAILED: map: %s\n", error.c_str());
        ++Failures;
        return;
    }
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(address);
    device.Set(0x0C, 0x11223344, 4);
    device.Set(0x11, 0x9C, 1);
    device.Set(0x20, 0x8001, 2);

    Check(p[0x11] == 0x9C, "8-bit load");
    Check(*reinterpret_cast<volatile int8_t*>(p + 0x11) == -100, "8-bit sign extension");
    Check(*reinterpret_cast<volatile uint16_t*>(p + 0x20) == 0x8001, "16-bit load");
    Check(*reinterpret_cast<volatile int16_t*>(p + 0x20) == -32767, "16-bit sign extension");
    Check(*reinterpret_cast<volatile uint32_t*>(p + 0x0C) == 0x11223344, "32-bit load");

    p[0x91] = 0x5A;
    *reinterpret_cast<volatile uint16_t*>(p + 0x96) = 0x1234;
    *reinterpret_cast<volatile uint32_t*>(p + 0x40) |= 0x1C;
    Check(device.Get(0x91, 1) == 0x5A && device.Get(0x96, 2) == 0x1234, "8- and 16-bit stores");
    Check(device.Get(0x40, 4) == 0x1C, "32-bit read-modify-write");

    uint32_t out = 0;
    uint32_t index = 3;
    asm volatile("movl (%[p],%[i],4), %[out]"
                 : [out] "=r"(out)
                 : [p] "r"(p), [i] "r"(index)
                 : "memory");
    Check(out == 0x11223344, "SIB load");
    asm volatile("movl $0x11223344, %%eax\n\tmovb 0x11(%[p]), %%ah\n\tmovl %%eax, %[out]"
                 : [out] "=r"(out)
                 : [p] "r"(p)
                 : "eax", "memory");
    Check(out == 0x11229C44, "ah load keeps the rest of eax");
    asm volatile("movl $0x12AB, %%eax\n\tmovb %%ah, 0x3(%[p])" : : [p] "r"(p) : "eax", "memory");
    Check(device.Get(0x03, 1) == 0x12, "ah store");

    // Widths and order as the device saw them, for the last accesses.
    const ravotest::DeviceAccess& rmwRead = device.Log[7];
    const ravotest::DeviceAccess& rmwWrite = device.Log[8];
    Check(!rmwRead.Write && rmwRead.Width == 4 && rmwRead.Address == kPhysicalPage + 0x40,
          "read of the read-modify-write");
    Check(rmwWrite.Write && rmwWrite.Width == 4 && rmwWrite.Value == 0x1C,
          "write of the read-modify-write");
    Check(ravotrap::UnmapTrapWindow(address, &error), "unmap");
    if (Failures != 0) {
        for (int i = 0; i < device.Count; ++i) {
            const ravotest::DeviceAccess& a = device.Log[i];
            std::printf("device saw: %s 0x%08X width %u value 0x%X\n", a.Write ? "write" : "read",
                        static_cast<unsigned>(a.Address), a.Width, static_cast<unsigned>(a.Value));
        }
    }
}

void CheckLibraryEntryPoints() {
    Check(RavoDestroy() != 0, "RavoDestroy without RavoInit");
    RavoPciRequest pci = {};
    pci.Size = sizeof pci;
    pci.Operation = RAVO_PCI_READ32;
    Check(RavoPCI(&pci) == 0, "RavoPCI before RavoInit fails");
    char text[RAVO_ERROR_TEXT_SIZE] = {};
    RavoGetLastError(text, sizeof text);
    Check(std::strstr(text, "not initialized") != nullptr, "not-initialized text");
    // RAVOACC_BOARD names a file that does not exist (set by the test).
    static RavoInitBlock block;
    block.Size = RAVO_INIT_BLOCK_SIZE;
    Check(RavoInit(0, &block) == 0, "RavoInit with a missing board file fails");
    RavoGetLastError(text, sizeof text);
    Check(std::strstr(text, "cannot read the board file") != nullptr, "missing board text");
    std::printf("last error: %s\n", text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "unknown") == 0) {
        static ravotest::RecordingDevice device{kPhysicalPage};
        uint32_t address = 0;
        std::string error;
        if (!ravotrap::MapTrapWindow(kPhysicalPage, device.AsTrapDevice(), &address, &error)) {
            return 2;
        }
        volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(address);
        asm volatile("addl $1, 0x10(%0)" : : "r"(p) : "memory");
        return 3;
    }
    CheckTrap();
    CheckLibraryEntryPoints();
    if (Failures == 0) {
        std::printf("trap check passed\n");
    }
    return Failures == 0 ? 0 : 1;
}
