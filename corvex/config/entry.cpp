// Placeholder entry until the driver lands: touches no hardware.
#include "corvex/config/boot_interface.h"

extern "C" u32 MemInitEntry(MemInitInput*, MemInitOutput*) {
    return 0;
}
