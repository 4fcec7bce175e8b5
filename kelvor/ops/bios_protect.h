// LPC bridge configuration access, BIOS write protection and reboot.
#ifndef KELVOR_OPS_BIOS_PROTECT_H
#define KELVOR_OPS_BIOS_PROTECT_H

#include <cstdint>

uint32_t LpcConfigRead(uint32_t configAddress);
void LpcConfigWrite(uint32_t configAddress, uint32_t value);
// 1 when the BIOS space is writable afterwards, 0 otherwise.
int DisableBiosWriteProtection();
// Non-zero when the user declines; otherwise the platform is reset.
int Reboot();

#endif  // KELVOR_OPS_BIOS_PROTECT_H
