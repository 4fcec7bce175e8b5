// Stand-ins for the access library, the SPI layer and the operations, linked
// with the real front end into a program that runs the main sequence without
// hardware. Each call is logged on standard error with what it was given;
// KELVOR_FAKE ("key=value,...") sets what the calls return:
//   init   InitRAVODriver (default 1)      spi    InitializeSpi (0)
//   region SpiGetRegion (0)                base, size  the region found (0x1000, 0x2000)
//   access SpiCheckAccess (0)              wp     DisableBiosWriteProtection (1)
//   erase  SpiEraseFlash (0)               op     every operation (0)
// Bring-up prints "[spi]\n" through PrintOutput, so /q can be seen at work.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kelvor/front/console.h"
#include "kelvor/front/settings.h"
#include "kelvor/ops/bios_protect.h"
#include "kelvor/ops/ops.h"
#include "kelvor/spi/ravo_util.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"
#include "ravoacc32.h"

FlashDeviceRecord* PartDefinitions = nullptr;
uint32_t PartDefinitionCount = 0;

namespace {

long Setting(const char* key, long fallback) {
    const char* all = std::getenv("KELVOR_FAKE");
    if (all == nullptr) {
        return fallback;
    }
    std::string text = std::string(",") + all;
    std::string wanted = std::string(",") + key + "=";
    size_t at = text.find(wanted);
    if (at == std::string::npos) {
        return fallback;
    }
    return std::strtol(text.c_str() + at + wanted.size(), nullptr, 0);
}

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

int Operation(const char* name, const char* file, uint32_t address, int32_t length) {
    Log("%s(%s,0x%08X,%d)\n", name, file, address, length);
    return static_cast<int>(Setting("op", 0));
}

}  // namespace

int32_t InitRAVODriver() {
    Log("InitRAVODriver\n");
    return static_cast<int32_t>(Setting("init", 1));
}

int32_t RAVOUnMapPhysAddress() {
    Log("RAVOUnMapPhysAddress\n");
    return 1;
}

// Tells whether the part list was still held when the library was closed.
extern "C" int32_t RAVOCALL RavoDestroy(void) {
    Log("RavoDestroy(parts %s)\n", PartDefinitions != nullptr ? "held" : "none");
    return 1;
}

int InitializeSpi() {
    Log("InitializeSpi(part=%s,out=%d,prompt=%d,erase=%d)\n", PartFilePath, OutputEnabled,
        PromptEnabled, EraseEnabled);
    PartDefinitions = static_cast<FlashDeviceRecord*>(std::calloc(2, sizeof(FlashDeviceRecord)));
    PartDefinitionCount = 2;
    PrintOutput("[spi]\n");
    return static_cast<int>(Setting("spi", 0));
}

int SpiGetRegion(uint32_t selector, uint32_t* startAddress, int32_t* length) {
    Log("SpiGetRegion(%u)\n", selector);
    int result = static_cast<int>(Setting("region", 0));
    if (result == 0) {
        *startAddress = static_cast<uint32_t>(Setting("base", 0x1000));
        *length = static_cast<int32_t>(Setting("size", 0x2000));
    }
    return result;
}

int SpiCheckAccess(uint32_t address, uint32_t length, int write) {
    Log("SpiCheckAccess(0x%08X,%u,%d)\n", address, length, write);
    return static_cast<int>(Setting("access", 0));
}

int SpiEraseFlash() {
    Log("SpiEraseFlash\n");
    return static_cast<int>(Setting("erase", 0));
}

int DisableBiosWriteProtection() {
    Log("DisableBiosWriteProtection\n");
    return static_cast<int>(Setting("wp", 1));
}

int DisplayFlashInformation() {
    Log("DisplayFlashInformation\n");
    return static_cast<int>(Setting("op", 0));
}

int BlankCheck() {
    Log("BlankCheck\n");
    return static_cast<int>(Setting("op", 0));
}

int WriteFileToFlash(const char* file, uint32_t address, int32_t length) {
    return Operation("WriteFileToFlash", file, address, length);
}

int VerifyFlash(const char* file, uint32_t address, int32_t length) {
    return Operation("VerifyFlash", file, address, length);
}

int DumpFlashToFile(const char* file, uint32_t address, int32_t length) {
    return Operation("DumpFlashToFile", file, address, length);
}
