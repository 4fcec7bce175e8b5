// Faults switched on from the board file, and the cycle log with its totals.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/spiboard/board_driver.h"
#include "tests/support/files.h"

namespace {

using namespace spitest;
using nlohmann::json;
using Bytes = std::vector<uint8_t>;

json FaultBoard(const json& faults) {
    json file = ShippedBoard("whole-flash.json");
    file["lpc"]["bios_control"] = 1;
    file["faults"] = faults;
    return file;
}

struct Fixture {
    Fixture(const std::string& name, json file) : dir("fault-" + name), board(dir.path(), file) {
        EXPECT_NE(board.board, nullptr) << board.error;
    }
    Driver D() { return Driver(board.board); }
    testsupport::ScratchDir dir;
    ScratchBoard board;
};

TEST(Faults, StuckScip) {
    Fixture f("stuck", FaultBoard({{"scip_stuck", true}}));
    Driver d = f.D();
    EXPECT_EQ(d.R8(kSsfsts) & kSwScip, kSwScip);
    EXPECT_EQ(d.R16(kHsfsts) & kHwScip, kHwScip);
    Bytes id(3);
    uint8_t status = d.Command(0x9F, kReadNoAddr, 0, &id);
    EXPECT_EQ(status & (kSwScip | kSwFdone | kSwFcerr), kSwScip | kSwFcerr)
        << "go meets a busy controller";

    Fixture later("stuck-later", FaultBoard({{"scip_stuck", {{"after_cycles", 2}}}}));
    Driver l = later.D();
    EXPECT_EQ(l.R8(kSsfsts) & kSwScip, 0);
    EXPECT_EQ(l.HwRead(0, 4), (Bytes{0x5A, 0xA5, 0xF0, 0x0F}));
    EXPECT_EQ(l.HwCycle(0, 0, nullptr, 4) & kHwFdone, kHwFdone);
    EXPECT_EQ(l.HwCycle(0, 0, nullptr, 4) & (kHwScip | kHwFdone), kHwScip) << "never finishes";
    EXPECT_EQ(l.polls, 1000u);
}

struct NthCase {
    const char* name;
    json fault;
    bool hardware;
    uint8_t opcode;            // software command, or hardware cycle type
    std::vector<bool> failed;  // per consecutive cycle
    uint16_t bit;              // the error bit expected
};

TEST(Faults, ErrorOnTheNthCycleOfAKind) {
    const NthCase cases[] = {
        {"2nd hw program",
         {{"kind", "program"}, {"sequencing", "hardware"}, {"nth", 2}, {"error", "FCERR"}},
         true,
         2,
         {false, true, false},
         kHwFcerr},
        {"hw reads from the 2nd on",
         {{"kind", "read"}, {"nth", 2}, {"count", "all"}, {"error", "AEL"}},
         true,
         0,
         {false, true, true},
         kHwAel},
        {"sw program untouched by a hw fault",
         {{"kind", "program"}, {"sequencing", "hardware"}, {"nth", 1}, {"error", "FCERR"}},
         false,
         0x02,
         {false, false},
         kSwFcerr},
        {"2nd and 3rd sw read id",
         {{"kind", "readid"},
          {"sequencing", "software"},
          {"nth", 2},
          {"count", 2},
          {"error", "FCERR"}},
         false,
         0x9F,
         {false, true, true, false},
         kSwFcerr},
        {"1st erase of any kind",
         {{"kind", "erase"}, {"nth", 1}, {"error", "AEL"}},
         false,
         0x20,
         {true, false},
         kSwAel},
        {"any cycle",
         {{"nth", 3}, {"error", "FCERR"}},
         true,
         0,
         {false, false, true, false},
         kHwFcerr},
    };
    for (const NthCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f("nth", FaultBoard({{"cycles", {c.fault}}}));
        Driver d = f.D();
        for (size_t i = 0; i < c.failed.size(); ++i) {
            SCOPED_TRACE(i);
            uint32_t addr = 0x200000 + static_cast<uint32_t>(i) * 0x1000;
            Bytes data(c.opcode == 0x20 || c.opcode == 3 ? 0 : 3, 0x00);
            uint16_t status;
            if (c.hardware) {
                status = d.HwCycle(c.opcode, addr, data.empty() ? nullptr : &data);
            } else {
                unsigned type = c.opcode == 0x9F ? kReadNoAddr : kWriteAddr;
                status = d.Command(c.opcode, type, addr, data.empty() ? nullptr : &data,
                                   c.opcode != 0x9F);
            }
            EXPECT_EQ((status & c.bit) != 0, c.failed[i]);
            if (c.hardware && c.opcode == 2) {
                // A failed cycle never reached the chip.
                EXPECT_EQ(d.HwRead(addr, 1)[0], c.failed[i] ? 0xFF : 0x00);
            }
        }
    }
}

TEST(Faults, SilentReadIdAndFailingStatusWrites) {
    json file = FaultBoard(json::object());
    file["chips"][0]["silent_read_id"] = {"0x9F"};
    Fixture silent("silent", file);
    Driver d = silent.D();
    EXPECT_EQ(d.ReadId(0x9F, 3), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(d.ReadId(0x90, 2), (Bytes{0xEF, 0x15}));

    struct Case {
        const char* fault;
        bool fcerr;
    };
    for (const Case& c : {Case{"ignore", false}, Case{"fcerr", true}}) {
        SCOPED_TRACE(c.fault);
        json wrsr = FaultBoard(json::object());
        wrsr["chips"][0]["write_status_fault"] = c.fault;
        Fixture f("wrsr", wrsr);
        Driver w = f.D();
        Bytes status = {0x1C};
        uint8_t result = w.Command(0x01, kWriteNoAddr, 0, &status, true);
        EXPECT_EQ((result & kSwFcerr) != 0, c.fcerr);
        EXPECT_EQ(result & kSwFdone, kSwFdone);
        EXPECT_EQ(w.ReadStatus(), 0x00) << "the status write did not take";
    }
}

TEST(Faults, LibraryCallFailures) {
    Fixture f(
        "library",
        FaultBoard({{"library",
                     {{"init", {{"error", "no driver"}}},
                      {"pci", {{"error", "pci timeout"}, {"nth", 2}}},
                      {"map_phys", {{"error", "no memory"}, {"nth", 2}, {"count", "all"}}}}}}));
    spiboard::Board* b = f.board.board;
    using spiboard::Call;
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        for (Call call : {Call::Init, Call::Pci, Call::MapPhys}) {
            const char* text = spiboard::InjectedFailure(b, call);
            seen.push_back(text ? text : "-");
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"no driver", "-", "-", "no driver", "pci timeout",
                                              "no memory", "no driver", "-", "no memory"}));
    Fixture plain("no-library-faults", FaultBoard(json::object()));
    EXPECT_EQ(spiboard::InjectedFailure(plain.board.board, Call::Init), nullptr);
}

TEST(Log, OneLinePerCycleThenTotals) {
    testsupport::ScratchDir logDir("log");
    json file = FaultBoard(json::object());
    file["log"] = {{"file", "cycles.jsonl"}};
    Fixture f("log", file);
    Driver d = f.D();
    d.ReadId(0x9F, 3, 0x003000);
    Bytes data = {0x12, 0x34};
    d.HwCycle(2, 0x200000, &data);
    d.HwRead(0x200000, 2);
    d.W8(kSsfctl, (7 << 4) | 2);
    d.W8(kSsfctl, (7 << 4) | 2);  // go while the first still runs
    std::string error;
    spiboard::IoWrite(f.board.board, 0x80, 0x55, 1, &error);
    spiboard::IoWrite(f.board.board, 0xCF9, 0x0E, 1, &error);
    f.board.Close();
    std::vector<json> log = ReadLog(f.dir / "cycles.jsonl");
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[0],
              json::parse(R"({"t_ns":)" + std::to_string(log[0]["t_ns"].get<uint64_t>()) +
                          R"(,"end_ns":)" + std::to_string(log[0]["t_ns"].get<uint64_t>() + 1600) +
                          R"(,"seq":"sw","kind":"readid","op":"0x9F","prefix":null,)"
                          R"("addr":null,"bytes":3,"cs":0,"outcome":"done","chip":"ok"})"));
    EXPECT_EQ(log[1]["seq"], "hw");
    EXPECT_EQ(log[1]["kind"], "program");
    EXPECT_EQ(log[1]["prefix"], "0x06");
    EXPECT_EQ(log[1]["addr"], "0x200000");
    EXPECT_EQ(log[2]["kind"], "read");
    EXPECT_EQ(log[2]["op"], "0x03");
    EXPECT_EQ(log[3]["kind"], "readid");
    EXPECT_EQ(log[4]["kind"], "go-while-busy");
    EXPECT_EQ(log[5], json::parse(R"({"t_ns":)" + std::to_string(log[5]["t_ns"].get<uint64_t>()) +
                                  R"(,"kind":"io","port":"0x0080","value":"0x55","width":1})"));
    EXPECT_EQ(log[6]["port"], "0x0CF9");
    EXPECT_EQ(log[7]["kind"], "reset");
    EXPECT_EQ(log[7]["type"], "full");
    const json& totals = log[8]["totals"];
    EXPECT_EQ(totals["sw_cycles"]["readid"], 2u);
    EXPECT_EQ(totals["hw_cycles"]["program"], 1u);
    EXPECT_EQ(totals["hw_cycles"]["read"], 1u);
    EXPECT_EQ(totals["go_while_busy"], 1u);
    EXPECT_EQ(totals["bytes_programmed"], 2u);
    EXPECT_EQ(totals["bytes_read"], 2u);
    EXPECT_EQ(totals["resets"], 1u);
    EXPECT_EQ(totals["io_writes"], 2u);
    EXPECT_GT(totals["register_reads"].get<uint64_t>(), 10u);
    EXPECT_GT(totals["virtual_ns"].get<uint64_t>(), totals["spi_bus_ns"].get<uint64_t>());
    EXPECT_EQ(totals["log_dropped"], 0u);
}

TEST(Log, EnvironmentVariableAsksForItAndTheLimitHolds) {
    testsupport::ScratchDir logDir("log-env");
    std::string path = logDir / "env.jsonl";
    setenv("SPIBOARD_LOG", path.c_str(), 1);
    json file = FaultBoard(json::object());
    file["log"] = {{"file", "ignored.jsonl"}, {"limit", 2}};
    Fixture f("log-env", file);
    unsetenv("SPIBOARD_LOG");
    Driver d = f.D();
    for (int i = 0; i < 5; ++i) {
        d.HwRead(0, 4);
    }
    f.board.Close();
    EXPECT_FALSE(testsupport::FileExists(f.dir / "ignored.jsonl"));
    std::vector<json> log = ReadLog(path);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2]["totals"]["log_dropped"], 3u);
    EXPECT_EQ(log[2]["totals"]["hw_cycles"]["read"], 5u);
}

}  // namespace
