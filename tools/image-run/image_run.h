// Boots the freestanding corvex image (build/image/corvex.bin) under CPU
// emulation on a virtual memory board, so that the code that ships is
// exercised and not only the host build. The image runs in 32-bit protected
// mode at its link address; every access it makes outside its own image, its
// stack and the two firmware blocks goes, with its width and in its order,
// to the same board and through the same harness rules as the host build
// (harness::ForwardAccess), and the result is the harness's BootResult, so
// corvex-run prints the same report for both. Memory map, hooks and how a
// halt becomes an outcome: tools/image-run/README.md.
#ifndef TOOLS_IMAGE_RUN_IMAGE_RUN_H
#define TOOLS_IMAGE_RUN_IMAGE_RUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "corvex/config/boot_interface.h"
#include "mem_board.h"
#include "tools/harness/harness.h"

namespace imagerun {

// The image header at offset 0 (corvex/image/README.md).
constexpr uint32_t kImageMagic = 0x58565243;  // "CRVX"
constexpr uint16_t kHeaderVersion = 1;
constexpr uint16_t kHeaderSize = 0x14;

struct Image {
    std::string path;
    std::vector<uint8_t> bytes;  // the whole file
    uint32_t linkAddress = 0;
    uint32_t entryOffset = 0;
};

// Reads and checks an image file: header magic, version and size, a link
// address on a 4 KB boundary whose image stays below 4 GB and clear of the
// emulator's own memory, an entry inside the image, and an image size that
// matches the file. Returns false with `error` set.
bool LoadImage(const std::string& path, Image* image, std::string* error);
// The same from bytes already in memory (`name` is used in messages).
bool ParseImage(const std::string& name, std::vector<uint8_t> bytes, Image* image,
                std::string* error);

// The emulator's own memory, none of it in a range the board models (the
// DRAM rank windows, the configuration window, 0xFED00000 to 0xFED44FFF).
constexpr uint32_t kGuardBase = 0xFEEFF000;  // unmapped: a stack overflow ends here
constexpr uint32_t kStackBase = 0xFEF00000;  // 64 KB, grows down from kStackTop
constexpr uint32_t kStackTop = 0xFEF10000;
constexpr uint32_t kBlocksBase = 0xFEF10000;  // 4 KB holding the two blocks
constexpr uint32_t kInputAddress = 0xFEF10000;
constexpr uint32_t kOutputAddress = 0xFEF10800;
constexpr uint32_t kCallerBase = 0xFEF11000;  // read and execute only: GDT, return address
constexpr uint32_t kGdtAddress = 0xFEF11000;
constexpr uint32_t kReturnAddress = 0xFEF11100;
constexpr uint32_t kLocalEnd = 0xFEF12000;

struct ImageRunOptions {
    // Wall time without a single board access after which the image counts
    // as spinning (outcome Error): no access takes that long, so only a loop
    // that never touches the hardware, and would spin for ever on a board,
    // gets there.
    uint32_t stallLimitMs = 10000;
};

struct ImageBootInfo {
    // Deepest stack use, in bytes below the top of the stack (the 12-byte
    // call frame included).
    uint32_t stackBytes = 0;
};

// Runs one boot of `image` on `board` (BeginBoot is called here), with the
// blocks starting as `input` and `outputBefore`. The result has the meaning
// it has for harness::RunBoot; outcome Error (with BootResult::error) when
// the image did something no boot can continue from: a write to its own
// image, a stack overflow, an invalid instruction or a processor exception,
// a halt without a stop code, a return that broke the calling convention, a
// write beside the firmware blocks, or a spin without any board access.
harness::BootResult RunImageBoot(const Image& image, memboard::Board& board,
                                 const MemInitInput& input, const MemInitOutput& outputBefore,
                                 const harness::BootOptions& options,
                                 const ImageRunOptions& run = ImageRunOptions(),
                                 ImageBootInfo* info = nullptr);

}  // namespace imagerun

#endif  // TOOLS_IMAGE_RUN_IMAGE_RUN_H
