// The trap on Linux x86-64: the window is an anonymous page without access
// rights below 4 GB, and a SIGSEGV handler (SA_SIGINFO) emulates the faults
// inside windows and hands every other fault to the handler that was there
// before it (the default action, or for example AddressSanitizer's).
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "trap/mmio_trap.h"

#if !defined(__x86_64__)
#error "the POSIX fault hook is written for x86-64"
#endif

namespace ravotrap {

namespace {

struct sigaction PreviousAction;

constexpr int kGregIndex[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP,
                                REG_RSI, REG_RDI, REG_R8,  REG_R9,  REG_R10, REG_R11,
                                REG_R12, REG_R13, REG_R14, REG_R15};

void PassOn(int signal, siginfo_t* info, void* context) {
    if ((PreviousAction.sa_flags & SA_SIGINFO) != 0) {
        if (PreviousAction.sa_sigaction != nullptr) {
            PreviousAction.sa_sigaction(signal, info, context);
        }
        return;
    }
    if (PreviousAction.sa_handler == SIG_DFL || PreviousAction.sa_handler == SIG_IGN) {
        // Back to the default action: a real fault recurs when the
        // instruction is restarted, a sent signal is raised again.
        struct sigaction fallback;
        std::memset(&fallback, 0, sizeof fallback);
        fallback.sa_handler = SIG_DFL;
        sigaction(signal, &fallback, nullptr);
        if (info->si_code <= 0) {
            raise(signal);
        }
        return;
    }
    PreviousAction.sa_handler(signal);
}

void OnSegmentationFault(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    auto* uc = static_cast<ucontext_t*>(context);
    greg_t* gregs = uc->uc_mcontext.gregs;
    const uint64_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    CpuRegisters registers;
    for (int i = 0; i < 16; ++i) {
        registers.Gpr[i] = static_cast<uint64_t>(gregs[kGregIndex[i]]);
    }
    registers.Ip = static_cast<uint64_t>(gregs[REG_RIP]);
    Refusal refusal = Refusal::None;
    // A signal sent by kill() carries no fault address of ours.
    const TrapOutcome outcome = info->si_code > 0
                                    ? EmulateFault(address, &registers, CpuMode::Bits64, &refusal)
                                    : TrapOutcome::NotOurs;
    if (outcome == TrapOutcome::Emulated) {
        for (int i = 0; i < 16; ++i) {
            gregs[kGregIndex[i]] = static_cast<greg_t>(registers.Gpr[i]);
        }
        gregs[REG_RIP] = static_cast<greg_t>(registers.Ip);
        errno = savedErrno;
        return;
    }
    if (outcome == TrapOutcome::Unemulated) {
        ReportUnemulated(address, registers, refusal);
        TerminateAfterReport();
    }
    errno = savedErrno;
    PassOn(signal, info, context);
}

}  // namespace

bool ReservePage(uintptr_t* address, std::string* error) {
    void* page =
        mmap(nullptr, kWindowSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (page == MAP_FAILED) {
        *error = std::string("no page below 4 GB could be reserved: ") + std::strerror(errno);
        return false;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(page);
    if (start + kWindowSize > 0x100000000ull) {
        munmap(page, kWindowSize);
        *error = "the reserved page does not lie below 4 GB";
        return false;
    }
    *address = start;
    return true;
}

void ReleasePage(uintptr_t address) {
    munmap(reinterpret_cast<void*>(address), kWindowSize);
}

bool InstallFaultHandler(std::string* error) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = OnSegmentationFault;
    // On the alternate stack when the program has one, so that a stack
    // overflow still reaches the previous handler.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSEGV, &action, &PreviousAction) != 0) {
        *error = std::string("the fault handler cannot be installed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void WriteStandardError(const char* text, unsigned length) {
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written <= 0) {
            if (written < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        length -= static_cast<unsigned>(written);
    }
}

void TerminateAfterReport() {
    _exit(kUnemulatedAccessExitStatus);
}

}  // namespace ravotrap
