// The configuration saved in CMOS at the end of a full detection and restored
// from there in boot mode 1.
#include "corvex/config/saved_config.h"

void SaveConfig(MemConfig*, MemInitOutput*) {
    // Not built yet: packs SavedConfig into the output block and CMOS and reports
    // the slot sizes.
}

void RestoreConfig(MemConfig*, MemInitInput*) {
    // Not built yet: reads SavedConfig back from CMOS and rebuilds the fields.
}
