// Reading and checking a corvex image file (see image_run.h).
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tools/image-run/image_run.h"

namespace imagerun {

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

std::string Hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

}  // namespace

bool ParseImage(const std::string& name, std::vector<uint8_t> bytes, Image* image,
                std::string* error) {
    auto fail = [&](const std::string& what) {
        *error = name + ": " + what;
        return false;
    };
    if (bytes.size() < kHeaderSize) {
        return fail("too short for a corvex image header (" + std::to_string(bytes.size()) +
                    " bytes)");
    }
    const uint32_t magic = Le32(bytes, 0x00);
    const uint16_t version = Le16(bytes, 0x04);
    const uint16_t headerSize = Le16(bytes, 0x06);
    const uint32_t link = Le32(bytes, 0x08);
    const uint32_t entry = Le32(bytes, 0x0C);
    const uint32_t size = Le32(bytes, 0x10);
    if (magic != kImageMagic) {
        return fail("not a corvex image (magic " + Hex(magic) + ", not " + Hex(kImageMagic) + ")");
    }
    if (version != kHeaderVersion || headerSize != kHeaderSize) {
        return fail("header version " + std::to_string(version) + " of " +
                    std::to_string(headerSize) + " bytes; this tool reads version 1 of " +
                    std::to_string(kHeaderSize) + " bytes");
    }
    if (size != bytes.size()) {
        return fail("the header gives an image size of " + std::to_string(size) +
                    " bytes but the file has " + std::to_string(bytes.size()));
    }
    if (link % 0x1000 != 0) {
        return fail("link address " + Hex(link) + " is not on a 4 KB boundary");
    }
    if (uint64_t(link) + size > 0x100000000ull) {
        return fail("the image (" + Hex(link) + ", " + std::to_string(size) +
                    " bytes) runs past the top of the 4 GB space");
    }
    const uint64_t pagesEnd = (uint64_t(link) + size + 0xFFF) & ~0xFFFull;
    if (link < kLocalEnd && pagesEnd > kGuardBase) {
        return fail("the image at " + Hex(link) + " overlaps the emulator's stack and blocks (" +
                    Hex(kGuardBase) + " to " + Hex(kLocalEnd - 1) + ")");
    }
    if (entry < kHeaderSize || entry >= size) {
        return fail("entry offset " + Hex(entry) + " lies outside the image's code (" +
                    Hex(kHeaderSize) + " to " + Hex(size - 1) + ")");
    }
    image->path = name;
    image->bytes = std::move(bytes);
    image->linkAddress = link;
    image->entryOffset = entry;
    return true;
}

bool LoadImage(const std::string& path, Image* image, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the image " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return ParseImage(path, std::move(bytes), image, error);
}

}  // namespace imagerun
