// The LPC bridge's configuration registers, the BIOS write protection in its
// BIOS Control register, and the confirm-and-reset operation.
#include "kelvor/ops/bios_protect.h"

#include <cstdio>

#include "kelvor/front/console.h"
#include "kelvor/spi/ravo_util.h"

namespace {
// BIOS Control of bus 0, device 31, function 0; bit 0 is BIOS write enable.
constexpr uint32_t kBiosControlAddress = 0x8000F8DC;
constexpr uint32_t kBiosWriteEnable = 0x00000001;
constexpr int kRebootAnswerSize = 16;
}  // namespace

uint32_t LpcConfigRead(uint32_t configAddress) {
    return RavoPci_IN(configAddress);
}

void LpcConfigWrite(uint32_t configAddress, uint32_t value) {
    RavoPci_OUT(configAddress, value);
}

int DisableBiosWriteProtection() {
    TraceOutput("DisableBiosWriteProtection()...\n");
    PrintOutput("Reading LPC BC register... ");
    const uint32_t value = LpcConfigRead(kBiosControlAddress);
    PrintOutput("0x%08X\n", value);
    if ((value & kBiosWriteEnable) != 0) {
        return 1;
    }
    PrintOutput("BIOS space write protection is enabled\n");
    PrintOutput("Disabling BIOS space write protection\n");
    LpcConfigWrite(kBiosControlAddress, value | kBiosWriteEnable);
    return (LpcConfigRead(kBiosControlAddress) & kBiosWriteEnable) != 0 ? 1 : 0;
}

int Reboot() {
    TraceOutput("Reboot()...\n");
    DirectOutput("\nWould you like to reboot (Y/N): ");
    std::fflush(stdout);
    // Always asked, whatever /y says; the end of input declines.
    char answer[kRebootAnswerSize];
    if (ReadAnswerWord(answer, sizeof answer) == 0) {
        return 1;
    }
    if (!((answer[0] == 'Y' || answer[0] == 'y') && answer[1] == '\0')) {
        return 1;
    }
    PrintOutput("rebooting...\n");
    std::fflush(stdout);
    return ResetPlatform();
}
