// Verifying flash against a file (/v): the file is read whole, the compared
// range is reconciled with its length and the end of the flash, then the
// flash is read in 64-byte blocks and compared until the first block that
// differs.
#include <cstdint>
#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/ops/operation_support.h"
#include "kelvor/ops/ops.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"

namespace {

constexpr uint32_t kVerifyBlock = 64;
constexpr uint32_t kReportedBytes = 5;

// Compares [address, address + length) with the start of the image; 0 or
// the result code.
int CompareRange(const ImageBuffer& image, uint32_t address, uint32_t length) {
    PrintOutput("\n");
    uint8_t block[kVerifyBlock];
    uint32_t at = address;
    uint32_t done = 0;
    while (done < length) {
        const uint32_t count = length - done < kVerifyBlock ? length - done : kVerifyBlock;
        const int read = SpiReadFlash(at, block, count);
        if (read >= 1 && read <= 4) {
            PrintReadFailure(read, at, count, "");
            return 207 + read;
        }
        const uint8_t* expected = image.Data + done;
        if (std::memcmp(block, expected, count) != 0) {
            DirectOutput("\nRESULT: Data does not match!\n");
            // The first bytes of the block, not those from the difference on.
            for (uint32_t i = 0; i < count && i < kReportedBytes; ++i) {
                PrintOutput("\t0x%08X: 0x%02X - 0x%02X\n", at + i, static_cast<unsigned>(block[i]),
                            static_cast<unsigned>(expected[i]));
            }
            return 212;
        }
        at += count;
        done += count;
        ProgressOutput("- Verifying Flash [0x%06X]... %4dKB of %4dKB - %3.0f%% complete.\r", at,
                       static_cast<int>(done / 1024), static_cast<int>(length / 1024),
                       ProgressPercent(done, length));
    }
    DirectOutput("\nRESULT: The data is identical.\n");
    return 0;
}

// Everything after the file has been read; the caller releases the image.
int VerifyImage(const char* file, const ImageBuffer& image, uint32_t address, int32_t length) {
    const uint32_t total = SpiController.TotalFlashSize;
    if (static_cast<int32_t>(address) < 0 || address > total) {
        PrintOutput(
            "\n>>> Error: The address specified is outside the boundaries of flash area\n\tFlash "
            "Address: 0x%08X\n\tTotal Flash Size: 0x%08X\n",
            address, total);
        return 213;
    }
    if (length < 0) {
        length = static_cast<int32_t>(total - address);
    }
    if (image.Length > length) {
        PrintOutput(
            "\n>>> Warning: Not all of the file data will be compared to flash because the file "
            "is longer than the flash area to verify!\n\tFile: \"%s\"\n\tFile Length: "
            "%i\n\tVerify Length: %i\n\n",
            file, image.Length, length);
        if (PromptYesNo("Do you want to continue (Y/N): ") == 0) {
            return 204;
        }
    } else if (image.Length < length) {
        PrintOutput(
            "\n>>> Warning: The file does not contain enough data to completely compare with the "
            "target flash area!\n\tFile: \"%s\"\n\tFile Length: %i\n\tVerify Length: %i\n\n",
            file, image.Length, length);
        if (PromptYesNo("Do you want to truncate the verify range and continue (Y/N): ") == 0) {
            return 205;
        }
        length = image.Length;
    }
    if (RangeEndsBeyond(address, length, total)) {
        PrintOutput(
            "\n>>> Warning: The length of data to compare with flash extends past the end of "
            "flash memory!\n\tStart Address: 0x%08X\n\tWrite Length: %i\n\tTotal Flash Size: "
            "%dKB\n\n",
            address, length, static_cast<int>(total / 1024));
        if (PromptYesNo("Do you want to truncate the data and continue (Y/N): ") == 0) {
            return 206;
        }
        length = static_cast<int32_t>(total - address);
    }
    const uint32_t verifyLength = static_cast<uint32_t>(length);
    if (SpiCheckAccess(address, verifyLength, 0) == 1) {
        PrintOutput(
            "\n>>> Error: The host CPU does not have read access to the target flash area!\n\n");
        return 207;
    }
    return CompareRange(image, address, verifyLength);
}

}  // namespace

int VerifyFlash(const char* file, uint32_t address, int32_t length) {
    TraceOutput("VerifyFlash(%s, %d, %d)...\n", file, address, length);
    ImageBuffer image;
    switch (ReadImageFile(file, &image)) {
        case kImageRead:
            break;
        case kImageOpenFailed:
            return 200;
        case kImageNoMemory:
            return 202;
        default:
            return 203;
    }
    const int result = VerifyImage(file, image, address, length);
    ReleaseImageFile(&image);
    return result;
}
