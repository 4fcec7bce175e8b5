// The temporary rank map in force during DRAM initialization and calibration,
// and the real rank boundaries and channel and slot sizes.
#ifndef CORVEX_CONFIG_RANK_MAP_H
#define CORVEX_CONFIG_RANK_MAP_H

#include "corvex/config/records.h"

void ProgramTemporaryMap();
// Also computes chASizeMb, chBSizeMb and slotSizeMb.
void ProgramRankBoundaries(MemConfig* config);

#endif  // CORVEX_CONFIG_RANK_MAP_H
