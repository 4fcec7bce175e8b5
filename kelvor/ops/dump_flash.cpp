// Dumping flash (/d): a range is read into memory in 64-byte blocks, then
// written to a binary file or, for the name "STDOUT", shown on the console
// as a hexadecimal page view of 256 bytes per page.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/ops/operation_support.h"
#include "kelvor/ops/ops.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_state.h"

namespace {

constexpr uint32_t kReadBlock = 64;
constexpr uint32_t kRowBytes = 16;
constexpr uint32_t kPageRows = 16;

bool IsScreenName(const char* name) {
    const char kScreen[] = "STDOUT";
    size_t i = 0;
    for (; kScreen[i] != '\0'; ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != kScreen[i]) {
            return false;
        }
    }
    return name[i] == '\0';
}

// Reads [address, address + length) into `buffer`; 0 or the result code.
int ReadRange(uint32_t address, uint8_t* buffer, uint32_t length) {
    PrintOutput("\n");
    uint32_t at = address;
    uint32_t done = 0;
    while (done < length) {
        const uint32_t count = length - done < kReadBlock ? length - done : kReadBlock;
        const int read = SpiReadFlash(at, buffer + done, count);
        if (read >= 1 && read <= 4) {
            PrintReadFailure(read, at, count, "\n");
            return 302 + read;
        }
        at += count;
        done += count;
        ProgressOutput("- Reading Flash [0x%06X]... %4dKB of %4dKB - %3.0f%% complete.\r", at,
                       static_cast<int>(done / 1024), static_cast<int>(length / 1024),
                       ProgressPercent(done, length));
    }
    PrintOutput("\n");
    return 0;
}

int WriteDumpFile(const char* file, const uint8_t* data, uint32_t length) {
    PrintOutput("Writing flash contents to file \"%s\"...\n", file);
    errno = 0;
    std::FILE* out = std::fopen(file, "wb");
    if (out == nullptr) {
        if (errno == EACCES) {
            PrintOutput("\n>>> Error: Access was denied opening/creating the file \"%s\"!\n\n",
                        file);
        } else {
            PrintOutput(
                "\n>>> Error: An unknown error occurred while opening/creating the file \"%s\"! "
                "errno = %d.\n\n",
                file, errno);
        }
        return 307;
    }
    const size_t written = std::fwrite(data, 1, length, out);
    // The close flushes what the stream still holds: a failure there loses
    // data as surely as a short write.
    const bool closed = std::fclose(out) == 0;
    if (written < length || !closed) {
        PrintOutput("\n>>> Error: Failed to write the entire flash contents to file \"%s\"!\n\n",
                    file);
        return 308;
    }
    return 0;
}

// One row: address, up to 16 bytes in hexadecimal, the same as characters.
void ShowRow(uint32_t address, const uint8_t* bytes, uint32_t count) {
    char line[16 + kRowBytes * 4 + 8];
    int used = std::snprintf(line, sizeof line, "0x%06X |", address);
    for (uint32_t i = 0; i < count; ++i) {
        used += std::snprintf(line + used, sizeof line - used, "%c%02X", i == 8 ? '-' : ' ',
                              static_cast<unsigned>(bytes[i]));
    }
    used += std::snprintf(line + used, sizeof line - used, " | ");
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        line[used++] = (b >= 0x30 && b <= 0x7E) ? static_cast<char>(b) : '.';
    }
    line[used++] = '\n';
    line[used] = '\0';
    DirectOutput("%s", line);
}

void ShowPages(uint32_t address, const uint8_t* data, uint32_t length) {
    uint32_t position = 0;
    for (;;) {
        PrintOutput("\n");
        for (uint32_t row = 0; row < kPageRows && position < length; ++row) {
            const uint32_t count = length - position < kRowBytes ? length - position : kRowBytes;
            ShowRow(address + position, data + position, count);
            position += count;
        }
        if (position >= length) {
            return;
        }
        DirectOutput("\nPress ENTER to view next page (or 'q' to exit): ");
        std::fflush(stdout);
        if (std::getchar() == 'q') {
            return;
        }
    }
}

// The read range once the requested one has been checked; 0 or the result
// code. The buffer is allocated for the requested length, so a length no
// memory can hold fails before any question is asked.
int DumpRange(const char* file, uint32_t address, int32_t length) {
    const uint32_t total = SpiController.TotalFlashSize;
    uint8_t* buffer =
        static_cast<uint8_t*>(std::malloc(length > 0 ? static_cast<size_t>(length) : 1));
    if (buffer == nullptr) {
        PrintOutput("\n>>> Error: Failed to allocate memory to read the flash into!\n\n");
        return 300;
    }
    int result = 0;
    if (RangeEndsBeyond(address, length, total)) {
        PrintOutput(
            "\n>>> Warning: The length of data to read from flash extends past the end of flash "
            "memory!\n\tStart Address: 0x%08X\n\tRead Length: %i\n\tTotal Flash Size: %dKB\n\n",
            address, length, static_cast<int>(total / 1024));
        if (PromptYesNo("Do you want to truncate the data and continue (Y/N): ") == 0) {
            result = 301;
        }
        length = static_cast<int32_t>(total - address);
    }
    const uint32_t readLength = static_cast<uint32_t>(length);
    if (result == 0 && SpiCheckAccess(address, readLength, 0) == 1) {
        PrintOutput(
            "\n>>> Error: The host CPU does not have read access to the target flash area!\n\n");
        result = 302;
    }
    if (result == 0) {
        // Only the bytes that are read are filled: the part of a requested
        // length past the end of the flash is never touched or written out.
        std::memset(buffer, 0xFF, readLength);
        result = ReadRange(address, buffer, readLength);
    }
    if (result == 0) {
        if (IsScreenName(file)) {
            ShowPages(address, buffer, readLength);
        } else {
            result = WriteDumpFile(file, buffer, readLength);
        }
    }
    std::free(buffer);
    return result;
}

}  // namespace

int DumpFlashToFile(const char* file, uint32_t address, int32_t length) {
    TraceOutput("DumpFlashToFile(%s, %d, %d)...\n", file, address, length);
    const uint32_t total = SpiController.TotalFlashSize;
    // A start past the end leaves nothing to read: refused before a buffer
    // is sized from a length that would come out negative.
    if (address > total) {
        PrintOutput(
            "\n>>> Error: An attempt was made to read beyond the end of flash memory!\n\tAddress "
            "0x%08X, Length %d\n\n",
            address, length > 0 ? length : 0);
        return 303;
    }
    if (length < 0) {
        length = static_cast<int32_t>(total - address);
    }
    const int result = DumpRange(file, address, length);
    if (result == 0) {
        PrintOutput("\nMemory Dump Complete\n");
    }
    return result;
}
