// The library's entry points as a program calls them through
// libravoacc32.so: request checks, the not-initialized state, board file
// selection failures and the last-error text. What needs an open board
// (operations, mapping, injected failures) is tested with the board itself.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <functional>
#include <string>

#include "ravoacc32.h"
#include "tests/support/files.h"

namespace {

std::string LastError() {
    char text[RAVO_ERROR_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    EXPECT_NE(RavoGetLastError(text, sizeof text), 0);
    return text;
}

RavoInitBlock* FreshInitBlock() {
    static RavoInitBlock block;
    std::memset(&block, 0, sizeof block);
    block.Size = RAVO_INIT_BLOCK_SIZE;
    return &block;
}

TEST(RavoEntryPoints, DestroyIsHarmlessWithoutInit) {
    EXPECT_NE(RavoDestroy(), 0);
    EXPECT_NE(RavoDestroy(), 0);
}

TEST(RavoEntryPoints, RequestsAreCheckedBeforeAnythingElse) {
    RavoPciRequest pci = {28, RAVO_PCI_READ32, 0x8000F8F0, 0, 0, 0, 0};
    RavoPciRequest shortPci = {27, RAVO_PCI_READ32, 0x8000F8F0, 0, 0, 0, 0};
    RavoMapRequest map = {16, 0xFED1F000, RAVO_MAP_UNCACHED, 0};
    RavoMapRequest longMap = {20, 0xFED1F000, RAVO_MAP_UNCACHED, 0};
    RavoIoRequest io = {16, RAVO_IO_WRITE8, 0xCF9, 0x0E};
    RavoIoRequest zeroIo = {0, RAVO_IO_WRITE8, 0xCF9, 0x0E};
    const struct {
        std::function<int32_t()> Call;
        const char* Expected;
    } cases[] = {
        {[&] { return RavoPCI(nullptr); }, "RavoPCI: no request block was given"},
        {[&] { return RavoPCI(&shortPci); }, "RavoPCI: bad request size 27 (expected 28)"},
        {[&] { return RavoPCI(&pci); },
         "RavoPCI: the library is not initialized (RavoInit has not succeeded)"},
        {[&] { return RavoMapPhys(&longMap); }, "RavoMapPhys: bad request size 20 (expected 16)"},
        {[&] { return RavoMapPhys(&map); },
         "RavoMapPhys: the library is not initialized (RavoInit has not succeeded)"},
        {[&] { return RavoUnmapPhys(nullptr); }, "RavoUnmapPhys: no request block was given"},
        {[&] { return RavoUnmapPhys(&map); },
         "RavoUnmapPhys: the library is not initialized (RavoInit has not succeeded)"},
        {[&] { return RavoIO(&zeroIo); }, "RavoIO: bad request size 0 (expected 16)"},
        {[&] { return RavoIO(&io); },
         "RavoIO: the library is not initialized (RavoInit has not succeeded)"},
        {[&] { return RavoInit(0, nullptr); }, "RavoInit: no init block was given"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expected);
        EXPECT_EQ(c.Call(), 0);
        EXPECT_EQ(LastError(), c.Expected);
    }
    EXPECT_EQ(pci.ReadValue, 0u);
    EXPECT_EQ(map.VirtualAddress, 0u);
}

TEST(RavoEntryPoints, InitChecksItsArguments) {
    RavoInitBlock* block = FreshInitBlock();
    block->Size = 17164;
    EXPECT_EQ(RavoInit(0, block), 0);
    EXPECT_EQ(LastError(), "RavoInit: bad init block size 17164 (expected 17168)");
    block->Size = RAVO_INIT_BLOCK_SIZE;
    EXPECT_EQ(RavoInit(1, block), 0);
    EXPECT_EQ(LastError(), "RavoInit: the reserved argument must be 0, not 1");
}

TEST(RavoEntryPoints, BoardFileThatCannotBeReadIsNamed) {
    setenv("RAVOACC_BOARD", "no-such-board.json", 1);
    EXPECT_EQ(RavoInit(0, FreshInitBlock()), 0);
    unsetenv("RAVOACC_BOARD");
    EXPECT_EQ(LastError(),
              "RavoInit: cannot read the board file \"no-such-board.json\" named by "
              "RAVOACC_BOARD: No such file or directory");
}

TEST(RavoEntryPoints, BadBoardFileCarriesTheBoardsReason) {
    testsupport::ScratchDir dir("ravo_bad_board");
    const std::string path = dir / "board.json";
    ASSERT_TRUE(testsupport::WriteFileText(path, "{ this is not a board\n"));
    setenv("RAVOACC_BOARD", path.c_str(), 1);
    EXPECT_EQ(RavoInit(0, FreshInitBlock()), 0);
    unsetenv("RAVOACC_BOARD");
    const std::string prefix = "RavoInit: bad board file \"" + path + "\": ";
    const std::string text = LastError();
    EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    EXPECT_GT(text.size(), prefix.size()) << "the board's reason is missing";
    // Still not open: the failed init left nothing behind.
    RavoPciRequest pci = {28, RAVO_PCI_READ32, 0x8000F8F0, 0, 0, 0, 0};
    EXPECT_EQ(RavoPCI(&pci), 0);
}

TEST(RavoEntryPoints, LastErrorIsCutToTheBuffer) {
    RavoPCI(nullptr);
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_NE(RavoGetLastError(small, sizeof small), 0);
    EXPECT_STREQ(small, "RavoPCI");
    EXPECT_EQ(RavoGetLastError(nullptr, 16), 0);
    EXPECT_EQ(RavoGetLastError(small, 0), 0);
}

}  // namespace
