// Values of the shared constant tables (see tables.h).
#include "corvex/config/tables.h"

const u8 SpdAddressTable[4] = {0xA0, 0xA2, 0xA4, 0xA6};

const u16 DdrRateTable[5] = {400, 533, 667, 800, 1066};
const u16 FsbRateTable[4] = {1066, 533, 800, 1333};

const u16 DdrClockTable[5] = {500, 375, 300, 250, 187};
const u16 FsbClockTable[5] = {375, 750, 500, 300, 600};

const u8 RatioClassTable[3][3] = {
    {0, 2, 2},  // host bus 1066: DDR2-533, -667, -800
    {0, 0, 0},  // host bus 533
    {0, 1, 1},  // host bus 800
};

const GeometryRow GeometryTable[kGeometryCodeCount] = {
    {1, 1, 0, 8, 0, 4},  {1, 0, 0, 16, 0, 2},  {2, 1, 0, 8, 1, 8},  {1, 1, 0, 16, 1, 4},
    {1, 1, 1, 8, 1, 8},  {0, 1, 1, 16, 1, 4},  {2, 1, 1, 8, 2, 16}, {1, 1, 1, 16, 2, 8},
    {3, 1, 1, 8, 3, 32}, {2, 1, 1, 16, 3, 16},
};
