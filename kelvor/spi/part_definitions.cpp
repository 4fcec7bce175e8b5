// The part definition file. Each definition line becomes one record of
// PartDefinitions, the run's one lasting heap allocation (grown with realloc,
// freed with free by ReleasePartDefinitions).
#include "kelvor/spi/part_definitions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/front/number_reader.h"
#include "kelvor/spi/spi_state.h"

FlashDeviceRecord* PartDefinitions = nullptr;
uint32_t PartDefinitionCount = 0;

namespace {

// Longest file accepted: the normalised text is up to twice as long and its
// size must stay a 32-bit count in every build.
constexpr long kMaxPartFileLength = 0x3FFFFFFF;

// Field positions of a definition line.
enum PartField {
    kFieldName = 0,
    kFieldId = 1,
    kFieldSizeInBits = 2,
    kFieldEraseBlockSize = 3,
    kFieldEraseOpcode = 4,
    kFieldWriteGranularity = 5,
    kFieldChipEraseOpcode = 7,
};

bool IsBlank(unsigned char c) {
    return c <= 0x20 || c >= 0x80;
}

enum class LineState { LineStart, Comment, LeadingBlanks, InLine };

int16_t Low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

// Stores one comma-terminated field (it starts at `text`) by its position.
void StoreField(FlashDeviceRecord* record, int position, const char* text, uint32_t length) {
    switch (position) {
        case kFieldName: {
            const uint32_t kept = length < kPartNameLength ? length : kPartNameLength;
            std::memcpy(record->Name, text, kept);
            record->Name[kept] = '\0';
            break;
        }
        case kFieldId:
            record->DeviceId = ReadUnsignedNumber(text);
            record->IdInfo = kIdInfoValid | ((record->DeviceId > 0xFFFFu ? 3u : 2u) << 29);
            break;
        case kFieldSizeInBits:
            record->Size = ReadUnsignedNumber(text) >> 3;
            break;
        case kFieldEraseBlockSize:
            record->EraseBlockSize = ReadUnsignedNumber(text);
            break;
        case kFieldEraseOpcode:
            record->EraseOpcode = Low16(ReadSignedNumber(text));
            break;
        case kFieldWriteGranularity:
            record->WriteGranularity = static_cast<uint8_t>(ReadUnsignedNumber(text) & 0xFFu);
            break;
        case kFieldChipEraseOpcode:
            record->ChipEraseOpcode = Low16(ReadSignedNumber(text));
            break;
        default:
            break;  // position 6 and those after 7 carry nothing we use
    }
}

void DiscardPartDefinitions() {
    std::free(PartDefinitions);
    PartDefinitions = nullptr;
    PartDefinitionCount = 0;
}

// Parses the normalised, NUL-terminated text. Returns 0, or kPartFileNoMemory
// when the list cannot grow (the list is then discarded).
int ParseDefinitions(const char* text) {
    DiscardPartDefinitions();
    const char* line = text;
    while (*line != '\0') {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) {
            break;  // cannot happen: normalisation ends every line
        }
        void* grown =
            std::realloc(PartDefinitions, (PartDefinitionCount + 1) * sizeof(FlashDeviceRecord));
        if (grown == nullptr) {
            DiscardPartDefinitions();
            return kPartFileNoMemory;
        }
        PartDefinitions = static_cast<FlashDeviceRecord*>(grown);
        FlashDeviceRecord* record = &PartDefinitions[PartDefinitionCount++];
        std::memset(record, 0, sizeof *record);
        int position = 0;
        const char* field = line;
        for (const char* p = line; p < end; ++p) {
            if (*p == ',') {
                StoreField(record, position++, field, static_cast<uint32_t>(p - field));
                field = p + 1;
            }
        }
        line = end + 1;
    }
    return 0;
}

}  // namespace

int PreProcessFileBuffer(char* buffer, uint32_t length, uint32_t bufferSize) {
    if (buffer == nullptr || bufferSize == 0 || length > (bufferSize - 1) / 2) {
        return 0;
    }
    char* work = static_cast<char*>(std::calloc(static_cast<size_t>(length) * 2 + 1, 1));
    if (work == nullptr) {
        return 0;
    }
    uint32_t out = 0;
    LineState state = LineState::LineStart;
    for (uint32_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(buffer[i]);
        switch (state) {
            case LineState::LineStart:
                if (c == ';') {
                    state = LineState::Comment;
                } else if (c == '\n') {
                    // an empty line
                } else if (IsBlank(c)) {
                    state = LineState::LeadingBlanks;
                } else {
                    work[out++] = static_cast<char>(c);
                    state = LineState::InLine;
                }
                break;
            case LineState::Comment:
                if (c == '\n') {
                    state = LineState::LineStart;
                }
                break;
            case LineState::LeadingBlanks:
                if (c == '\n') {
                    state = LineState::LineStart;
                } else if (!IsBlank(c)) {
                    work[out++] = static_cast<char>(c);
                    state = LineState::InLine;
                }
                break;
            case LineState::InLine:
                if (c == '\n') {
                    if (work[out - 1] != ',') {
                        work[out++] = ',';
                    }
                    work[out++] = '\n';
                    state = LineState::LineStart;
                } else if (!IsBlank(c)) {
                    work[out++] = static_cast<char>(c);
                }
                break;
        }
    }
    std::memcpy(buffer, work, out);
    buffer[out] = '\0';
    std::free(work);
    return 1;
}

int SpiLoadDevicesFile(const char* path) {
    TraceOutput("SpiLoadDevicesFile(%s)...\n", path);
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        if (errno == ENOENT) {
            return kPartFileNotFound;
        }
        if (errno == EACCES) {
            return kPartFileAccessDenied;
        }
        return kPartFileOpenFailed;
    }
    // Some systems open a folder for reading and fail only its reads; that
    // is an open failure, not a file of absurd length.
    if (std::fgetc(file) == EOF && std::ferror(file) != 0) {
        const int error = errno;
        std::fclose(file);
        errno = error;
        return kPartFileOpenFailed;
    }
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        length = std::ftell(file);
    }
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return kPartFileShortRead;
    }
    if (length > kMaxPartFileLength) {
        std::fclose(file);
        return kPartFileNoMemory;
    }
    // Room for the text, the newline appended to it, and the normalised text
    // that may be twice as long, with its NUL.
    const uint32_t textLength = static_cast<uint32_t>(length) + 1;
    const uint32_t bufferSize = textLength * 2 + 1;
    char* buffer = static_cast<char*>(std::malloc(bufferSize));
    if (buffer == nullptr) {
        std::fclose(file);
        return kPartFileNoMemory;
    }
    PrintOutput("Reading file \"%s\" into memory...\n", path);
    const size_t read = std::fread(buffer, 1, static_cast<size_t>(length), file);
    std::fclose(file);
    if (read < static_cast<size_t>(length)) {
        std::free(buffer);
        return kPartFileShortRead;
    }
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
    buffer[length + 2] = '\0';
    if (PreProcessFileBuffer(buffer, textLength, bufferSize) == 0) {
        std::free(buffer);
        return kPartFileNoMemory;
    }
    const int result = ParseDefinitions(buffer);
    std::free(buffer);
    return result;
}
