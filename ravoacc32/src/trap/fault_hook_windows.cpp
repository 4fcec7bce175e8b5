// The trap on 32-bit Windows (and wine): the window is a committed page with
// PAGE_NOACCESS, and a vectored exception handler, first in the chain,
// emulates the access violations inside windows and lets every other
// exception continue its search.
#include <windows.h>

#include "trap/mmio_trap.h"

#if !defined(__i386__)
#error "the Windows fault hook is written for 32-bit x86"
#endif

namespace ravotrap {

namespace {

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CONTEXT* context = pointers->ContextRecord;
    DWORD* const slots[8] = {&context->Eax, &context->Ecx, &context->Edx, &context->Ebx,
                             &context->Esp, &context->Ebp, &context->Esi, &context->Edi};
    CpuRegisters registers{};
    for (int i = 0; i < 8; ++i) {
        registers.Gpr[i] = *slots[i];
    }
    registers.Ip = context->Eip;
    const uint64_t address = record->ExceptionInformation[1];
    Refusal refusal = Refusal::None;
    switch (EmulateFault(address, &registers, CpuMode::Bits32, &refusal)) {
        case TrapOutcome::Emulated:
            for (int i = 0; i < 8; ++i) {
                *slots[i] = static_cast<DWORD>(registers.Gpr[i]);
            }
            context->Eip = static_cast<DWORD>(registers.Ip);
            return EXCEPTION_CONTINUE_EXECUTION;
        case TrapOutcome::Unemulated:
            ReportUnemulated(address, registers, refusal);
            TerminateAfterReport();
        case TrapOutcome::NotOurs:
            break;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool ReservePage(uintptr_t* address, std::string* error) {
    void* page = VirtualAlloc(nullptr, kWindowSize, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    if (page == nullptr) {
        *error =
            "no page could be reserved (VirtualAlloc error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    *address = reinterpret_cast<uintptr_t>(page);
    return true;
}

void ReleasePage(uintptr_t address) {
    VirtualFree(reinterpret_cast<void*>(address), 0, MEM_RELEASE);
}

bool InstallFaultHandler(std::string* error) {
    if (AddVectoredExceptionHandler(1, OnException) == nullptr) {
        *error = "the exception handler cannot be installed";
        return false;
    }
    return true;
}

void WriteStandardError(const char* text, unsigned length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
}

void TerminateAfterReport() {
    // Not ExitProcess: no DLL detach code may run while the program is stuck
    // in the middle of an instruction.
    TerminateProcess(GetCurrentProcess(), kUnemulatedAccessExitStatus);
    for (;;) {
    }
}

}  // namespace ravotrap
