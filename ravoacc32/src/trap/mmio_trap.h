// Trapped device windows: a page of the process that has no access rights, so
// that every load and store through it faults; the fault handler decodes the
// instruction, performs the access on the window's device with the exact
// width, puts a loaded value into the saved registers and resumes the program
// after the instruction, the way a hypervisor emulates memory-mapped I/O.
#ifndef RAVOACC32_TRAP_MMIO_TRAP_H
#define RAVOACC32_TRAP_MMIO_TRAP_H

#include <cstdint>
#include <string>

#include "trap/x86_decoder.h"

namespace ravotrap {

constexpr uint32_t kWindowSize = 4096;
constexpr int kMaxWindows = 16;
// Exit status of a process stopped because an access to a window could not be
// emulated (an instruction outside the known forms, or one that crosses the
// end of the window).
constexpr int kUnemulatedAccessExitStatus = 99;

// What stands behind a window. Both calls run inside the fault handler: they
// must not allocate, lock or block.
struct TrapDevice {
    uint32_t (*Read)(void* context, uint32_t physicalAddress, unsigned width);
    void (*Write)(void* context, uint32_t physicalAddress, unsigned width, uint32_t value);
    void* Context;
};

// Reserves a window below 4 GB whose accesses go to `device` at
// `physicalPage` + offset. Installs the fault handler on first use.
bool MapTrapWindow(uint32_t physicalPage, const TrapDevice& device, uint32_t* virtualAddress,
                   std::string* error);
// Releases a window made by MapTrapWindow.
bool UnmapTrapWindow(uint32_t virtualAddress, std::string* error);

// --- Between the platform's fault handler and the emulation. ---

enum class TrapOutcome { Emulated, NotOurs, Unemulated };

// Why an access could not be emulated, for the report.
enum class Refusal { None, UnknownInstruction, CrossesWindowEnd, AddressMismatch };

// Handles a fault at `faultAddress` with the interrupted registers: on
// Emulated the registers hold the state after the instruction.
TrapOutcome EmulateFault(uint64_t faultAddress, CpuRegisters* registers, CpuMode mode,
                         Refusal* refusal);

// Writes the report of an unemulated access to standard error; async-signal
// safe. The caller then ends the process with kUnemulatedAccessExitStatus.
void ReportUnemulated(uint64_t faultAddress, const CpuRegisters& registers, Refusal refusal);

// Platform part (fault_hook_*.cpp): the page itself and the handler.
bool ReservePage(uintptr_t* address, std::string* error);
void ReleasePage(uintptr_t address);
bool InstallFaultHandler(std::string* error);
void WriteStandardError(const char* text, unsigned length);
[[noreturn]] void TerminateAfterReport();

}  // namespace ravotrap

#endif  // RAVOACC32_TRAP_MMIO_TRAP_H
