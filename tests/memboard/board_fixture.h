// Boards for the memory board tests: the shipped default board with a JSON
// merge patch on top, and short-hand accesses.
#ifndef TESTS_MEMBOARD_BOARD_FIXTURE_H
#define TESTS_MEMBOARD_BOARD_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "mem_board.h"
#include "tests/support/process.h"

namespace boardtest {

using memboard::Board;
using memboard::Space;

constexpr uint32_t kMc = 0xFED14000;

inline std::string BoardsDir() {
    return testsupport::SourceDir() + "/boards/mem/boards";
}

// The default board with `patch` merged in (RFC 7386: null removes a key).
inline std::unique_ptr<Board> MakeBoard(const std::string& patch = "{}") {
    nlohmann::json j = nlohmann::json::parse(memboard::DefaultBoardText());
    j.merge_patch(nlohmann::json::parse(patch));
    std::string error;
    auto board = memboard::OpenBoardText(j.dump(), BoardsDir(), &error);
    EXPECT_TRUE(board) << error;
    if (board) {
        board->BeginBoot();
    }
    return board;
}

inline uint32_t Rd(Board& b, uint32_t address, unsigned width = 4) {
    return b.Read(Space::Physical, address, width);
}
inline void Wr(Board& b, uint32_t address, uint32_t value, unsigned width = 4) {
    b.Write(Space::Physical, address, width, value);
}
inline uint32_t In(Board& b, uint32_t port) {
    return b.Read(Space::Port, port, 1);
}
inline void Out(Board& b, uint32_t port, uint32_t value, unsigned width = 1) {
    b.Write(Space::Port, port, width, value);
}

inline uint32_t Pci(uint8_t dev, uint8_t fn, uint16_t reg) {
    return memboard::PciWindowAddress(0, dev, fn, reg);
}

// What firmware does before corvex: the controller block is decoded.
inline void EnableMc(Board& b) {
    Wr(b, Pci(0, 0, 0x48), kMc | 1);
}

// Spends `ns` of virtual time with harmless port reads.
inline void Wait(Board& b, uint64_t ns) {
    uint64_t end = b.NowNs() + ns;
    while (b.NowNs() < end && b.StopRequested() == memboard::Stop::None) {
        b.Read(Space::Port, 0x80, 1);
    }
}

}  // namespace boardtest

#endif  // TESTS_MEMBOARD_BOARD_FIXTURE_H
