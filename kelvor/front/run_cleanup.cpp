// The end-of-run clean-up. Kept apart from the main sequence so that code
// which only needs to drop the part list does not pull the whole front end in.
#include <cstdlib>

#include "kelvor/front/main_sequence.h"
#include "kelvor/spi/ravo_util.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"
#include "ravoacc32.h"

void ReleaseHardware() {
    RAVOUnMapPhysAddress();
    RavoDestroy();
}

// The part list is grown with realloc by the part file loader, so free() is
// its match.
void ReleasePartDefinitions() {
    std::free(PartDefinitions);
    PartDefinitions = nullptr;
    PartDefinitionCount = 0;
}
