// A stand-in for ravoacc32 with the same C entry points, for the wrapper's
// own tests: it records every request block exactly as it was handed over
// and answers from a small configuration space whose BIOS Control register
// can be made to refuse the write-enable bit.
#ifndef TESTS_KELVOR_RAVO_FAKE_RAVOACC32_H
#define TESTS_KELVOR_RAVO_FAKE_RAVOACC32_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ravoacc32.h"

namespace fakeravo {

struct Library {
    int32_t InitResult = 1;
    bool PciFails = false;
    bool MapFails = false;
    bool UnmapFails = false;
    int32_t IoResult = 1;
    uint32_t MappedAddress = 0x00A00000;
    std::string ErrorText = "fake failure";
    std::map<uint32_t, uint32_t> Config;
    bool BiosControlKeepsWriteEnableClear = false;

    uint32_t InitReserved = 0xFFFFFFFF;
    uint32_t InitBlockSize = 0;
    std::vector<RavoPciRequest> PciCalls;
    std::vector<RavoMapRequest> MapCalls;
    std::vector<const RavoMapRequest*> UnmapBlocks;
    std::vector<RavoMapRequest> UnmapCalls;
    std::vector<RavoIoRequest> IoCalls;
};

extern Library Fake;
void Reset();

}  // namespace fakeravo

#endif  // TESTS_KELVOR_RAVO_FAKE_RAVOACC32_H
