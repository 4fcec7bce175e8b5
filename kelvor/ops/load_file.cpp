// Loading a file into flash (/f): the file is read whole, its length is
// reconciled with the requested range and the end of the flash, the range is
// checked and erased block by block, then programmed in 1024-byte chunks.
// Also the accessor for the records of the installed flash devices.
#include <cstdint>

#include "kelvor/front/console.h"
#include "kelvor/front/settings.h"
#include "kelvor/ops/operation_support.h"
#include "kelvor/ops/ops.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"

namespace {

constexpr uint32_t kProgramChunk = 1024;

void PrintEraseLengthMisaligned(uint32_t blockSize) {
    PrintOutput(
        "\n>>> Error: Cannot erase flash because the write length is not a multiple of the block "
        "erase size!\n");
    PrintOutput("Block Erase Size: %d bytes\n\n", static_cast<int>(blockSize));
}

// Erases [start, start + length) in blocks of `blockSize`; 0 or the result
// code. Bring-up accepts two parts only when their erase blocks are alike, so
// the first part's size steps through both.
int EraseRange(uint32_t start, uint32_t length, uint32_t blockSize) {
    PrintOutput("\n");
    uint32_t block = start;
    uint32_t done = 0;
    while (done < length) {
        const int erased = SpiEraseBlock(block);
        switch (erased) {
            case 1:
                PrintOutput(
                    "\n\n>>> Error: The address of the block to erase is not aligned "
                    "correctly!\n\tAddress: 0x%08X\n\tMinimum block erase size: %d\n\n",
                    block, static_cast<int>(blockSize));
                return 111;
            case 2:
                PrintOutput(
                    "\n\n>>> Error: An attempt was made to erase a block beyond the end of flash "
                    "memory!\n\tAddress 0x%08X\n\n",
                    block);
                return 112;
            case 4:
                PrintOutput(
                    "\n>>> Error: The host does not have write access to the target flash "
                    "memory!\n\tAddress 0x%08X\n\n",
                    block);
                return 113;
            case 5:
            case 6:
                PrintOutput(
                    "\n\n>>> Error: An error occurred while erasing block! Make sure you have "
                    "write access to the target block. \n\n");
                return erased == 5 ? 114 : 115;
            default:
                break;
        }
        block += blockSize;
        done += blockSize;
        ProgressOutput("- Erasing Flash Block [0x%06X]... - %3.0f%% complete.\r", block,
                       ProgressPercent(done, length));
    }
    PrintOutput("\n");
    return 0;
}

// Programs `length` bytes of `data` from `start` in chunks; 0 or the result
// code.
int ProgramRange(uint32_t start, const uint8_t* data, uint32_t length, uint32_t granularity) {
    PrintOutput("\n");
    uint32_t address = start;
    uint32_t done = 0;
    while (done < length) {
        const uint32_t chunk = length - done < kProgramChunk ? length - done : kProgramChunk;
        const int chunkLength = static_cast<int>(chunk);
        const int written = SpiWriteFlash(address, data + done, chunk);
        switch (written) {
            case 1:
                PrintOutput(
                    "\n>>> Error: The data length is not a multiple of the flash write "
                    "granularity!\n\tWrite Granularity: %d\n\tData Length: %i\n\n",
                    static_cast<int>(granularity), static_cast<int>(length));
                return 116;
            case 2:
                PrintOutput(
                    "\n>>> Error: An attempt was made to write beyond the end of flash "
                    "memory!\n\tAddress 0x%08X, Length %d\n\n",
                    address, chunkLength);
                return 117;
            case 3:
                PrintOutput(
                    "\n>>> Error: The host does not have write access to the target flash "
                    "memory!\n\tAddress 0x%08X, Length %d\n\n",
                    address, chunkLength);
                return 118;
            case 4:
            case 5:
                PrintOutput(
                    "\n>>> Error: An error occurred while writing data! Make sure you have write "
                    "access to the target memory.\n\tAddress 0x%08X, Length %d\n\n",
                    address, chunkLength);
                return written == 4 ? 119 : 120;
            default:
                break;
        }
        address += chunk;
        done += chunk;
        ProgressOutput("- Programming Flash [0x%06X]... %4dKB of %4dKB - %3.0f%% complete.\r",
                       address, static_cast<int>(done / 1024), static_cast<int>(length / 1024),
                       ProgressPercent(done, length));
    }
    return 0;
}

// Everything after the file has been read; the caller releases the image.
int WriteImage(const char* file, const ImageBuffer& image, uint32_t address, int32_t length,
               const FlashDeviceRecord& device) {
    const uint32_t total = SpiController.TotalFlashSize;
    if (length < 0) {
        length = image.Length;
    }
    // Nothing of the file could land at or past the end of the flash; going
    // on would write nothing and still report the write complete.
    if (address >= total) {
        PrintOutput(
            "\n>>> Error: An attempt was made to write beyond the end of flash memory!\n\tAddress "
            "0x%08X, Length %d\n\n",
            address, length);
        return 117;
    }
    if (image.Length > length) {
        PrintOutput(
            "\n>>> Warning: Not all of the file data will be written to flash because the file is "
            "longer than the flash area to write!\n\tFile: \"%s\"\n\tFile Length: %i\n\tWrite "
            "Length: %i\n\n",
            file, image.Length, length);
        if (PromptYesNo("Do you want to continue (Y/N): ") == 0) {
            return 104;
        }
    } else if (image.Length < length) {
        PrintOutput(
            "\n>>> Warning: The file does not contain enough data to completely fill the target "
            "write area!\nContinuing will truncate the the Write Length to the File "
            "Length!\n\tFile: \"%s\"\n\tFile Length: %i\n\tWrite Length: %i\n\n",
            file, image.Length, length);
        if (PromptYesNo("Do you want to continue (Y/N): ") == 0) {
            return 105;
        }
        length = image.Length;
    }
    if (RangeEndsBeyond(address, length, total)) {
        PrintOutput(
            "\n>>> Warning: The length of data to write to flash extends past the end of flash "
            "memory!\n\tStart Address: 0x%08X\n\tWrite Length: %i\n\tTotal Flash Size: %dKB\n\n",
            address, length, static_cast<int>(total / 1024));
        if (PromptYesNo("Do you want to truncate the data and continue (Y/N): ") == 0) {
            return 106;
        }
        length = static_cast<int32_t>(total - address);
    }
    // From here the length is 0 or more and the range lies within the flash.
    const uint32_t writeLength = static_cast<uint32_t>(length);
    const uint32_t granularity = device.WriteGranularity;
    if ((writeLength & (granularity - 1)) != 0) {
        PrintOutput(
            "\n>>> Error: The data length is not a multiple of the flash write "
            "granularity!\n\tWrite Granularity: %d\n\tData Length: %i\n\n",
            static_cast<int>(granularity), length);
        return 107;
    }
    if (SpiCheckAccess(address, writeLength, 1) == 1) {
        PrintOutput(
            "\n>>> Error: The host CPU does not have write access to the target flash area!\n\n");
        return 108;
    }
    if (EraseEnabled != 0) {
        const uint32_t blockMask = device.EraseBlockSize - 1;
        if ((address & blockMask) != 0) {
            PrintOutput(
                "\n>>> Error: Cannot erase flash because the start address is not a multiple of "
                "the block erase size!\n");
            PrintOutput("Block Erase Size: %d bytes\n\n", static_cast<int>(device.EraseBlockSize));
            return 109;
        }
        if ((writeLength & blockMask) != 0) {
            PrintEraseLengthMisaligned(device.EraseBlockSize);
            return 110;
        }
        const int erased = EraseRange(address, writeLength, device.EraseBlockSize);
        if (erased != 0) {
            return erased;
        }
    } else {
        PrintOutput("\n- Erase SKIPPED\n");
    }
    const int programmed = ProgramRange(address, image.Data, writeLength, granularity);
    if (programmed != 0) {
        return programmed;
    }
    PrintOutput("\nWrite Complete\n");
    return 0;
}

}  // namespace

int GetDeviceInfo(uint32_t index, FlashDeviceRecord* record) {
    TraceOutput("GetDeviceInfo(%u)...\n", index);
    if ((SpiController.Components[0].IdInfo & kIdInfoValid) == 0) {
        return 1;
    }
    if (index >= SpiController.ComponentCount) {
        return 2;
    }
    *record = SpiController.Components[index];
    return 0;
}

int WriteFileToFlash(const char* file, uint32_t address, int32_t length) {
    TraceOutput("WriteFileToFlash(%s, %d, %d)...\n", file, address, length);
    FlashDeviceRecord device;
    if (GetDeviceInfo(0, &device) != 0) {
        PrintOutput(
            "\n>>> Error: Failed to get information about the installed flash devices!\n\n");
        return 100;
    }
    ImageBuffer image;
    switch (ReadImageFile(file, &image)) {
        case kImageRead:
            break;
        case kImageOpenFailed:
            return 101;
        case kImageNoMemory:
            return 102;
        default:
            return 103;
    }
    const int result = WriteImage(file, image, address, length, device);
    ReleaseImageFile(&image);
    return result;
}
