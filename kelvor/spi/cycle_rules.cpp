// The rules both sequencing modes apply before and while cutting a request
// into cycles: how many bytes one cycle may carry, and which requests are
// refused before the first cycle because no cycle loop could serve them
// without overrunning the data buffer, erasing outside the request or never
// ending.
#include "kelvor/front/console.h"
#include "kelvor/spi/flash_cycles.h"
#include "kelvor/spi/spi_window.h"

namespace {
constexpr uint32_t kSectorBoundary = 4096;
constexpr uint32_t kProgramPageSize = 256;
}  // namespace

uint32_t CycleByteCount(uint32_t address, uint32_t remaining, uint32_t limit, uint32_t operation) {
    uint32_t count = remaining < limit ? remaining : limit;
    const uint32_t intoSector = address & (kSectorBoundary - 1);
    if (intoSector + count > kSectorBoundary) {
        count = kSectorBoundary - intoSector;
    }
    if (operation == kCycleProgram) {
        const uint32_t intoPage = address & (kProgramPageSize - 1);
        if (intoPage + count > kProgramPageSize) {
            count = kProgramPageSize - intoPage;
        }
    }
    return count;
}

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

bool CheckWriteGranularity(uint32_t granularity) {
    if (IsPowerOfTwo(granularity) && granularity <= kDataBufferSize) {
        return true;
    }
    PrintOutput(
        "\n>>> Error: The write granularity of %u bytes given for the flash part cannot be "
        "used! It must be a power of two from 1 to 64.\n\n",
        granularity);
    return false;
}

bool CheckEraseSteps(uint32_t address, uint32_t length, uint32_t step, const char* what) {
    if (!IsPowerOfTwo(step)) {
        PrintOutput(
            "\n>>> Error: The %s of %u bytes cannot be used! It must be a power of two.\n\n", what,
            step);
        return false;
    }
    if ((address & (step - 1)) != 0) {
        PrintOutput(
            "\n>>> Error: The erase address 0x%08X is not a multiple of the %s (%u bytes)!\n\n",
            address, what, step);
        return false;
    }
    if ((length & (step - 1)) != 0) {
        PrintOutput(
            "\n>>> Error: The erase length of %u bytes is not a multiple of the %s (%u bytes)!\n\n",
            length, what, step);
        return false;
    }
    return true;
}

bool RangeFitsAddressSpace(uint32_t address, uint32_t length) {
    if (static_cast<uint64_t>(address) + length <= 0x100000000ull) {
        return true;
    }
    PrintOutput(
        "\n>>> Error: The flash range of %u bytes at 0x%08X runs past the end of the address "
        "space!\n\n",
        length, address);
    return false;
}
