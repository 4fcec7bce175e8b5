// Stand-ins for the parts of the SPI flash access layer that are not built
// yet. Each says plainly that it is missing and reports failure; none of them
// pretends to have done its work. Delete an entry when its real code lands.
#include "kelvor/front/console.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"

namespace {
void NotAvailable(const char* function) {
    PrintOutput("\n>>> Error: %s is not available yet in this build of kelvor!\n\n", function);
}
}  // namespace

SpiControllerState SpiController = {nullptr, 0, 0, 0, 0, 0, {}, {0, 1, 2, 3, 4, 5, 0}};
FlashDeviceRecord* PartDefinitions = nullptr;
uint32_t PartDefinitionCount = 0;

int InitializeSpi() {
    NotAvailable("SPI controller bring-up");
    return 1;
}
int SpiGetRegion(uint32_t, uint32_t*, int32_t*) {
    NotAvailable("SpiGetRegion");
    return 1;
}
int SpiCheckAccess(uint32_t, uint32_t, int) {
    NotAvailable("SpiCheckAccess");
    return 1;
}
int SpiReadFlash(uint32_t, uint8_t*, uint32_t) {
    NotAvailable("SpiReadFlash");
    return 4;
}
int SpiWriteFlash(uint32_t, const uint8_t*, uint32_t) {
    NotAvailable("SpiWriteFlash");
    return 5;
}
int SpiEraseBlock(uint32_t) {
    NotAvailable("SpiEraseBlock");
    return 6;
}
int SpiEraseFlash() {
    NotAvailable("SpiEraseFlash");
    return 3;
}
