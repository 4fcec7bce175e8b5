// Reading an image file into memory and the other pieces the load, verify,
// dump and blank-check operations have in common.
#include "kelvor/ops/operation_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kelvor/front/console.h"

namespace {

// The length of an open file, or -1 when it cannot be told or does not fit
// the signed 32-bit lengths the operations work with.
int64_t FileLength(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        return -1;
    }
    return static_cast<int64_t>(end);
}

void PrintOpenFailure(const char* path, int error) {
    if (error == ENOENT) {
        PrintOutput("\n>>> Error: Could not find the file \"%s\"!\n\n", path);
    } else if (error == EACCES) {
        PrintOutput("\n>>> Error: Access was denied opening the file \"%s\"!\n\n", path);
    } else {
        PrintOutput(
            "\n>>> Error: An unknown error occurred while opening the file \"%s\"! errno = %d.\n\n",
            path, error);
    }
}

}  // namespace

int ReadImageFile(const char* path, ImageBuffer* image) {
    image->Data = nullptr;
    image->Length = 0;
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        PrintOpenFailure(path, errno);
        return kImageOpenFailed;
    }
    // Some systems open a folder for reading and fail only its reads: that is
    // a file that cannot be opened, not one of a strange length.
    errno = 0;
    if (std::fgetc(file) == EOF && std::ferror(file) != 0) {
        const int error = errno;
        std::fclose(file);
        PrintOpenFailure(path, error);
        return kImageOpenFailed;
    }
    const int64_t length = FileLength(file);
    if (length < 0) {
        std::fclose(file);
        PrintOutput("\n>>> Error: Failed to read the entire file \"%s\" into memory!\n\n", path);
        return kImageShortRead;
    }
    // A file beyond the signed 32-bit lengths cannot be held or written whole.
    uint8_t* data = nullptr;
    if (length <= INT32_MAX) {
        // One byte at least, so that an empty file does not look like a
        // failed allocation.
        data = static_cast<uint8_t*>(std::malloc(length > 0 ? static_cast<size_t>(length) : 1));
    }
    if (data == nullptr) {
        std::fclose(file);
        PrintOutput("\n>>> Error: Failed to allocate memory to read the file \"%s\"!\n\n", path);
        return kImageNoMemory;
    }
    std::memset(data, 0xFF, static_cast<size_t>(length));
    PrintOutput("Reading file \"%s\" into memory...\n", path);
    const size_t read = std::fread(data, 1, static_cast<size_t>(length), file);
    std::fclose(file);
    if (read < static_cast<size_t>(length)) {
        std::free(data);
        PrintOutput("\n>>> Error: Failed to read the entire file \"%s\" into memory!\n\n", path);
        return kImageShortRead;
    }
    image->Data = data;
    image->Length = static_cast<int32_t>(length);
    return kImageRead;
}

void ReleaseImageFile(ImageBuffer* image) {
    std::free(image->Data);
    image->Data = nullptr;
    image->Length = 0;
}

bool RangeEndsBeyond(uint32_t address, int64_t length, uint32_t limit) {
    return static_cast<int64_t>(address) + length > static_cast<int64_t>(limit);
}

void PrintReadFailure(int readResult, uint32_t address, uint32_t count, const char* lastLineEnd) {
    const int length = static_cast<int>(count);
    switch (readResult) {
        case 1:
            PrintOutput(
                "\n>>> Error: An attempt was made to read beyond the end of flash "
                "memory!\n\tAddress "
                "0x%08X, Length %d\n\n",
                address, length);
            break;
        case 2:
            PrintOutput(
                "\n>>> Error: The host does not have read access to the target flash "
                "memory!\n\tAddress 0x%08X, Length %d\n\n",
                address, length);
            break;
        case 3:
            PrintOutput(
                "\n>>> Error: An error occurred while reading data! Make sure you have read access "
                "to the target memory.\n\tAddress 0x%08X, Length %d\n\n",
                address, length);
            break;
        default:
            PrintOutput(
                "\n>>> Error: An error occurred while reading data! Make sure you have read access "
                "to the target memory.\n\tAddress 0x%08X, Length %d\n%s",
                address, length, lastLineEnd);
            break;
    }
}

double ProgressPercent(uint64_t done, uint64_t total) {
    return static_cast<double>(done) * 100.0 / static_cast<double>(total);
}
