// Stand-ins for the flash operations that are not built yet. Each says plainly
// that it is missing and returns a failing code of its own range. Delete an
// entry when its real code lands.
#include "kelvor/front/console.h"
#include "kelvor/ops/ops.h"

namespace {
void NotAvailable(const char* function) {
    PrintOutput("\n>>> Error: %s is not available yet in this build of kelvor!\n\n", function);
}
}  // namespace

int WriteFileToFlash(const char*, uint32_t, int32_t) {
    NotAvailable("WriteFileToFlash");
    return 100;
}
int VerifyFlash(const char*, uint32_t, int32_t) {
    NotAvailable("VerifyFlash");
    return 200;
}
int DumpFlashToFile(const char*, uint32_t, int32_t) {
    NotAvailable("DumpFlashToFile");
    return 300;
}
int BlankCheck() {
    NotAvailable("BlankCheck");
    return 600;
}
int DisplayFlashInformation() {
    NotAvailable("DisplayFlashInformation");
    return 500;
}
int GetDeviceInfo(uint32_t, FlashDeviceRecord*) {
    NotAvailable("GetDeviceInfo");
    return 1;
}
