// Channel population and CAS-latency settings.
#include "corvex/dram/channel_settings.h"

void ProgramChannelSettings(MemConfig*) {
    // Not built yet: population word and CAS-latency fields of each channel.
}
