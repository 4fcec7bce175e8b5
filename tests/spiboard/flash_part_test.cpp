// The flash parts behind the controller: identification, program and erase
// semantics, block protection and the status-write enables, busy times on
// the virtual clock.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/spiboard/board_driver.h"
#include "tests/support/files.h"

namespace {

using namespace spitest;
using nlohmann::json;

// A board of one part with the default descriptor, the host's rights out of
// the way (FDOPSS clear), the write enable set and WREN/EWSR as prefixes.
json PartBoard(const json& part) {
    return {
        {"chips", {{{"part", part}}}},
        {"descriptor", json::object()},
        {"controller", {{"fdopss", false}, {"vscc", "0x00200500"}, {"preop", {"0x06", "0x50"}}}},
        {"lpc", {{"bios_control", 1}}}};
}

struct Fixture {
    Fixture(const std::string& name, json file) : dir("part-" + name), board(dir.path(), file) {
        EXPECT_NE(board.board, nullptr) << board.error;
    }
    Driver D() { return Driver(board.board); }
    testsupport::ScratchDir dir;
    ScratchBoard board;
};

using Bytes = std::vector<uint8_t>;

struct IdCase {
    const char* part;
    uint8_t opcode;
    Bytes answer;  // four bytes clocked in
};

TEST(Identification, PartsAnswerTheirReadIdOpcodes) {
    const IdCase cases[] = {
        {"W25X32", 0x9F, {0xEF, 0x30, 0x16, 0xEF}},
        {"W25X32", 0x90, {0xEF, 0x15, 0xEF, 0x15}},
        {"W25X32", 0xAB, {0x15, 0x15, 0x15, 0x15}},
        {"SST25VF032B", 0x9F, {0xBF, 0x25, 0x4A, 0xBF}},
        {"SST25VF032B", 0xAB, {0xBF, 0x4A, 0xBF, 0x4A}},
        {"AT26DF161", 0x9F, {0x1F, 0x46, 0x00, 0x1F}},
        {"AT26DF161", 0x90, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"M25P32", 0x90, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"M25P32", 0xAB, {0x15, 0x15, 0x15, 0x15}},
        {"S25FL032A", 0x9F, {0x01, 0x02, 0x15, 0x01}},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.part << " " << std::hex << int(c.opcode));
        Fixture f("id", PartBoard(c.part));
        Driver d = f.D();
        EXPECT_EQ(d.ReadId(c.opcode, 4), c.answer);
    }
}

TEST(Program, OnlyClearsBitsNeedsWriteEnableAndWrapsInThePage) {
    Fixture f("program", PartBoard("W25Q32"));
    Driver d = f.D();
    Bytes value = {0xF0};
    d.Command(0x02, kWriteAddr, 0x1000, &value, true);
    value = {0x0F};
    d.Command(0x02, kWriteAddr, 0x1000, &value, true);
    value = {0xFF};
    d.Command(0x02, kWriteAddr, 0x1000, &value, true);
    EXPECT_EQ(d.HwRead(0x1000, 1), Bytes{0x00}) << "1 -> 0 only";

    // Without WREN the part ignores the program; WREN sets WEL, the program
    // clears it again.
    value = {0x00};
    d.Command(0x02, kWriteAddr, 0x2000, &value, false);
    Bytes read(1);
    d.Command(0x03, kReadAddr, 0x2000, &read);
    EXPECT_EQ(read, Bytes{0xFF});
    d.Command(0x06, kWriteNoAddr, 0, nullptr);
    EXPECT_EQ(d.ReadStatus() & 0x02, 0x02);
    d.Command(0x02, kWriteAddr, 0x2000, &value, false);
    EXPECT_EQ(d.ReadStatus() & 0x03, 0x01) << "busy, WEL cleared";
    EXPECT_EQ(d.ReadStatus() & 0x03, 0x00);
    d.Command(0x03, kReadAddr, 0x2000, &read);
    EXPECT_EQ(read, Bytes{0x00});

    // 64 bytes from page offset 0xE0 wrap to the start of the same page.
    Bytes pattern(64);
    for (unsigned i = 0; i < 64; ++i) {
        pattern[i] = static_cast<uint8_t>(i);
    }
    d.Command(0x02, kWriteAddr, 0x30E0, &pattern, true);
    Bytes tail(32), head(32), next(1);
    d.Command(0x03, kReadAddr, 0x30E0, &tail);
    d.Command(0x03, kReadAddr, 0x3000, &head);
    d.Command(0x03, kReadAddr, 0x3100, &next);
    EXPECT_EQ(tail, Bytes(pattern.begin(), pattern.begin() + 32));
    EXPECT_EQ(head, Bytes(pattern.begin() + 32, pattern.end()));
    EXPECT_EQ(next, Bytes{0xFF});
}

TEST(Program, ByteProgramPartTakesOneByte) {
    json file = PartBoard({{"base", "SST25VF032B"}, {"status", {{"power_on", "0x00"}}}});
    Fixture f("byteprogram", file);
    Driver d = f.D();
    Bytes data = {0x11, 0x22, 0x33, 0x44};
    d.Command(0x02, kWriteAddr, 0x100, &data, true);
    Bytes read(2);
    d.Command(0x03, kReadAddr, 0x100, &read);
    EXPECT_EQ(read, (Bytes{0x44, 0xFF})) << "each byte lands on the one address, the last wins";
}

struct EraseCase {
    const char* part;
    uint8_t opcode;
    uint32_t addr;
    uint32_t from, to;  // erased range expected; from == to: the part ignores the opcode
};

TEST(Erase, SectorSizesAndMisalignedAddresses) {
    const EraseCase cases[] = {
        {"W25Q32", 0x20, 0x011234, 0x011000, 0x012000},
        {"W25Q32", 0x52, 0x01ABCD, 0x018000, 0x020000},
        {"W25Q32", 0xD8, 0x01FFFF, 0x010000, 0x020000},
        {"W25X32", 0x52, 0x010000, 0, 0},
        {"S25FL032A", 0x20, 0x010000, 0, 0},
        {"S25FL032A", 0xD8, 0x010001, 0x010000, 0x020000},
    };
    const uint32_t probes[] = {0x00FFFF, 0x010000, 0x010FFF, 0x011000, 0x011FFF,
                               0x012000, 0x017FFF, 0x018000, 0x01FFFF, 0x020000};
    for (const EraseCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.part << " " << std::hex << int(c.opcode));
        Fixture f("erase", PartBoard(c.part));
        Driver d = f.D();
        Bytes zero = {0x00};
        for (uint32_t a : probes) {
            d.Command(0x02, kWriteAddr, a, &zero, true);
        }
        EXPECT_EQ(d.Command(c.opcode, kWriteAddr, c.addr, nullptr, true) & 0x1C, kSwFdone);
        for (uint32_t a : probes) {
            Bytes read(1);
            d.Command(0x03, kReadAddr, a, &read);
            EXPECT_EQ(read[0], a >= c.from && a < c.to ? 0xFF : 0x00) << std::hex << a;
        }
    }
}

TEST(Erase, ChipEraseTakesTheWholePartAndItsTime) {
    testsupport::ScratchDir logDir("chip-erase-log");
    json file = PartBoard("W25Q32");
    file["log"] = {{"file", logDir / "log.jsonl"}};
    Fixture f("chiperase", file);
    Driver d = f.D();
    Bytes zero = {0x00};
    for (uint32_t a : {0x000000u, 0x1FFFFFu, 0x3FFFFFu}) {
        d.Command(0x02, kWriteAddr, a, &zero, true);
    }
    EXPECT_EQ(d.Command(0x60, kReadNoAddr, 0, nullptr, true) & 0x1C, kSwFdone);
    for (uint32_t a : {0x000000u, 0x1FFFFFu, 0x3FFFFFu}) {
        EXPECT_EQ(d.HwRead(a, 1), Bytes{0xFF});
    }
    f.board.Close();
    std::vector<json> log = ReadLog(logDir / "log.jsonl");
    ASSERT_GE(log.size(), 5u);
    const json& erase = log[3];
    EXPECT_EQ(erase["kind"], "chiperase");
    EXPECT_EQ(erase["prefix"], "0x06");
    EXPECT_GE(erase["end_ns"].get<uint64_t>() - erase["t_ns"].get<uint64_t>(), 10000000000ull)
        << "10 s typical chip erase";
}

TEST(Protection, BlockProtectBitsRefuseProgramAndErase) {
    Fixture f("protect", PartBoard("W25Q32"));
    Driver d = f.D();
    Bytes status = {0x04};  // BP0: the top 1/64 (64 KB)
    d.Command(0x01, kWriteNoAddr, 0, &status, true);
    EXPECT_EQ(d.ReadStatus(), 0x04);
    Bytes zero = {0x00};
    d.Command(0x02, kWriteAddr, 0x3F0000, &zero, true);
    d.Command(0x02, kWriteAddr, 0x3EFFFF, &zero, true);
    EXPECT_EQ(d.HwRead(0x3EFFFF, 2), (Bytes{0x00, 0xFF}));
    d.Command(0x20, kWriteAddr, 0x3EF000, nullptr, true);  // unprotected sector
    d.Command(0x60, kReadNoAddr, 0, nullptr, true);        // refused: a block is protected
    EXPECT_EQ(d.HwRead(0x3EFFFF, 1), Bytes{0xFF});
    d.Command(0x02, kWriteAddr, 0x000000, &zero, true);
    d.Command(0x60, kReadNoAddr, 0, nullptr, true);
    EXPECT_EQ(d.HwRead(0, 1), Bytes{0x00});
    status = {0x1C};  // everything
    d.Command(0x01, kWriteNoAddr, 0, &status, true);
    d.Command(0x02, kWriteAddr, 0x100000, &zero, true);
    EXPECT_EQ(d.HwRead(0x100000, 1), Bytes{0xFF});
    status = {0x00};
    d.Command(0x01, kWriteNoAddr, 0, &status, true);
    d.Command(0x02, kWriteAddr, 0x100000, &zero, true);
    EXPECT_EQ(d.HwRead(0x100000, 1), Bytes{0x00});
}

TEST(Protection, PartsThatPowerUpProtectedAndWantEwsr) {
    Fixture f("ewsr", ShippedBoard("sst-protected.json"));
    Driver d = f.D();
    spiboard::Board* b = f.board.board;
    d.SetBiosWriteEnable();
    EXPECT_EQ(d.ReadStatus(), 0x1C);
    Bytes zero = {0x00};
    d.SetPrefix(0, 0x06);
    d.Command(0x01, kWriteNoAddr, 0, &zero, true);  // WREN before WRSR: ignored
    EXPECT_EQ(d.ReadStatus(), 0x1E) << "still protected, WEL still set";
    d.SetSlot(7, 0x01, kWriteNoAddr);
    d.SwCycle(7, 0, &zero, true, 1);  // PREOP slot 1 holds EWSR
    EXPECT_EQ(d.ReadStatus(), 0x00);
    std::string error;
    spiboard::IoWrite(b, 0xCF9, 0x06, 1, &error);  // no power cycle: stays unprotected
    d.SetBiosWriteEnable();
    EXPECT_EQ(d.ReadStatus(), 0x00);
    spiboard::IoWrite(b, 0xCF9, 0x0E, 1, &error);  // full reset: protected again
    EXPECT_EQ(d.ReadStatus(), 0x1C);

    Fixture plain("wren-too", ShippedBoard("byte-program.json"));
    Driver p = plain.D();
    EXPECT_EQ(p.ReadStatus(), 0x1C);
    p.Command(0x01, kWriteNoAddr, 0, &zero, true);
    EXPECT_EQ(p.ReadStatus(), 0x00) << "this part takes WREN as well";
}

TEST(BusyTime, AtomicCyclesHoldScipWhileTheChipWorks) {
    testsupport::ScratchDir logDir("busy-log");
    json file = PartBoard("W25Q32");
    file["log"] = {{"file", logDir / "log.jsonl"}};
    Fixture f("busy", file);
    Driver d = f.D();
    // A non-atomic program leaves the chip busy: reads get nothing and
    // commands are ignored until the status read says it is done.
    Bytes zero = {0x00};
    d.Command(0x06, kWriteNoAddr, 0, nullptr);
    d.Command(0x02, kWriteAddr, 0x100, &zero);
    Bytes read(1);
    d.Command(0x03, kReadAddr, 0x100, &read);
    EXPECT_EQ(read, Bytes{0xFF});
    EXPECT_EQ(d.ReadStatus() & 1, 1);
    EXPECT_EQ(d.ReadStatus() & 1, 0) << "the poll moved the clock to the end of the program";
    d.Command(0x03, kReadAddr, 0x100, &read);
    EXPECT_EQ(read, Bytes{0x00});
    // Atomic erase: one poll sees SCIP, the next FDONE.
    d.SetSlot(7, 0x20, kWriteAddr);
    d.W8(kSsfsts, 0x1C);
    d.W32(kFaddr, 0x10000);
    d.W8(kSsfctlHigh, 0);
    d.W8(kSsfctl, (7 << 4) | 4 | 2);
    EXPECT_EQ(d.R8(kSsfsts) & 0x1D, kSwScip);
    EXPECT_EQ(d.R16(kHsfsts) & kHwScip, 0) << "already done: the poll above moved the clock";
    EXPECT_EQ(d.R8(kSsfsts) & 0x1D, kSwFdone);
    // Hardware erase: the same on HSFSTS.
    d.W16(kHsfsts, 7);
    d.W32(kFaddr, 0x20000);
    d.W16(kHsfctl, (3 << 1) | 1);
    EXPECT_EQ(d.R16(kHsfsts) & (kHwScip | 7), kHwScip);
    EXPECT_EQ(d.R16(kHsfsts) & (kHwScip | 7), kHwFdone);
    f.board.Close();
    std::vector<json> log = ReadLog(logDir / "log.jsonl");
    ASSERT_GE(log.size(), 3u);
    const json& program = log[1];
    EXPECT_EQ(program["kind"], "program");
    EXPECT_EQ(program["prefix"], nullptr);
    EXPECT_EQ(program["end_ns"].get<uint64_t>() - program["t_ns"].get<uint64_t>(), 2000u)
        << "opcode, address and one byte: 40 bits at 20 MHz";
    EXPECT_EQ(log[2]["chip"], "busy");
    const json& totals = log.back()["totals"];
    // Two 4 KB erases of 30 ms and a one-byte program of 30 us.
    EXPECT_GE(totals["virtual_ns"].get<uint64_t>(), 60030000u);
    EXPECT_LT(totals["virtual_ns"].get<uint64_t>(), 61000000u);
    EXPECT_EQ(totals["chip_busy_ns"], 60030000u);
}

TEST(BusyTime, WithoutFastForwardPollsRunOnTheRegisterCost) {
    json file = PartBoard("W25Q32");
    file["controller"]["fast_forward"] = false;
    file["bus_cost_ns"] = {{"read", 1000}, {"write", 0}};
    Fixture f("slow", file);
    Driver d = f.D();
    d.SetSlot(7, 0x20, kWriteAddr);
    d.W32(kFaddr, 0);
    d.W8(kSsfctlHigh, 0);
    d.W8(kSsfctl, (7 << 4) | 4 | 2);
    unsigned polls = 0;
    while ((d.R8(kSsfsts) & kSwFdone) == 0 && polls < 100000) {
        ++polls;
    }
    // 30 ms of erase at 1 us per status read.
    EXPECT_GE(polls, 29900u);
    EXPECT_LE(polls, 30100u);
}

// A full 4 MB erase and program of the default board's part through the API
// takes the datasheet's time on the virtual clock and seconds on the host.
TEST(Speed, FullEraseAndProgramOfTheDefaultBoard) {
    testsupport::ScratchDir logDir("speed-log");
    json file = ShippedBoard("default.json");
    file["controller"]["fdopss"] = false;  // the ME region too
    file["lpc"]["bios_control"] = 1;
    file["log"] = {{"file", logDir / "log.jsonl"}, {"cycles", false}};
    Fixture f("speed", file);
    Driver d = f.D();
    auto start = std::chrono::steady_clock::now();
    Bytes block(64);
    for (uint32_t a = 0; a < (4u << 20); a += 4096) {
        ASSERT_EQ(d.HwCycle(3, a, nullptr) & 7, kHwFdone);
    }
    for (uint32_t a = 0; a < (4u << 20); a += 64) {
        for (unsigned i = 0; i < 64; ++i) {
            block[i] = static_cast<uint8_t>((a >> 6) + i);
        }
        ASSERT_EQ(d.HwCycle(2, a, &block) & 7, kHwFdone);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 30.0);
    EXPECT_EQ(d.HwRead(0x123440, 2), (Bytes{0xD1, 0xD2}));
    f.board.Close();
    std::vector<json> log = ReadLog(logDir / "log.jsonl");
    ASSERT_EQ(log.size(), 1u);
    const json& totals = log[0]["totals"];
    // 1024 erases of 150 ms, 65536 programs of 64 bytes at 30 us + 63/255 of
    // the remaining 1.47 ms, plus the bus time of 4 MB at 20 MHz.
    uint64_t virtualNs = totals["virtual_ns"];
    EXPECT_GT(virtualNs, 179000000000ull);
    EXPECT_LT(virtualNs, 190000000000ull);
    EXPECT_EQ(totals["hw_cycles"]["program"], 65536u);
    EXPECT_EQ(totals["bytes_programmed"], 4u << 20);
    EXPECT_EQ(totals["bytes_erased"], 4u << 20);
}

}  // namespace
