// The blank check (/b): the whole flash is read from address 0 in 64-byte
// blocks until the first byte that does not hold the erased value 0xFF.
#include <cstdint>

#include "kelvor/front/console.h"
#include "kelvor/ops/operation_support.h"
#include "kelvor/ops/ops.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"

namespace {
constexpr uint32_t kReadBlock = 64;
constexpr uint8_t kErased = 0xFF;
}  // namespace

int BlankCheck() {
    TraceOutput("BlankCheck()...\n");
    const uint32_t total = SpiController.TotalFlashSize;
    if (SpiCheckAccess(0, total, 0) == 1) {
        PrintOutput(
            "\n>>> Error: The host CPU does not have read access to the entire flash area!\n\n");
        return 600;
    }
    PrintOutput("\n");
    uint8_t block[kReadBlock];
    uint32_t address = 0;
    uint32_t done = 0;
    while (done < total) {
        const uint32_t count = total - done < kReadBlock ? total - done : kReadBlock;
        const int read = SpiReadFlash(address, block, count);
        if (read >= 1 && read <= 4) {
            PrintReadFailure(read, address, count, "\n");
            return 600 + read;
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (block[i] != kErased) {
                DirectOutput(
                    "\nRESULT: The flash is NOT blank! Data found at address 0x%08X. = 0x%02X\n",
                    address + i, static_cast<unsigned>(block[i]));
                return 605;
            }
        }
        address += count;
        done += count;
        ProgressOutput("- Reading Flash [0x%06X]... %4dKB of %4dKB - %3.0f%% complete.\r", address,
                       static_cast<int>(done / 1024), static_cast<int>(total / 1024),
                       ProgressPercent(done, total));
    }
    PrintOutput("\nRESULT: The flash is blank.\n");
    return 0;
}
