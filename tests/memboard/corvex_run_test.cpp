// corvex-run as a process: the report's shape on every shipped board, boot
// sequences, CMOS files, traces and command-line errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using nlohmann::json;
using testsupport::RunProcess;

std::string CorvexRun() {
    return testsupport::BinDir() + "/corvex-run";
}
std::string Board(const std::string& name) {
    return testsupport::SourceDir() + "/boards/mem/boards/" + name + ".json";
}

json RunJson(const std::vector<std::string>& args, testsupport::ProcessResult* out = nullptr) {
    std::vector<std::string> argv{CorvexRun()};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ProcessResult r = RunProcess(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (out) {
        *out = r;
    }
    json j = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j;
}

void ExpectReportShape(const json& j) {
    static const std::pair<const char*, json::value_t> keys[] = {
        {"board", json::value_t::string},
        {"boot", json::value_t::number_unsigned},
        {"bootMode", json::value_t::number_unsigned},
        {"outcome", json::value_t::string},
        {"code", json::value_t::number_unsigned},
        {"postCodes", json::value_t::array},
        {"output", json::value_t::string},
        {"cmos", json::value_t::string},
        {"registers", json::value_t::object},
        {"pci", json::value_t::object},
        {"engineMessages", json::value_t::array},
        {"dramCommands", json::value_t::array},
        {"violations", json::value_t::array},
        {"unmapped", json::value_t::object},
        {"accessCount", json::value_t::number_unsigned},
        {"virtualTimeNs", json::value_t::number_unsigned},
    };
    for (const auto& [key, type] : keys) {
        ASSERT_TRUE(j.contains(key)) << key;
        EXPECT_EQ(j[key].type(), type) << key;
    }
    static const char* const outcomes[] = {"returned", "fatal", "halt", "reset", "hang"};
    EXPECT_NE(std::find(std::begin(outcomes), std::end(outcomes), j["outcome"]),
              std::end(outcomes));
    EXPECT_EQ(j["output"].get<std::string>().size(), 2u * 0x39);
    EXPECT_EQ(j["cmos"].get<std::string>().size(), 32u);
    for (auto it = j["registers"].begin(); it != j["registers"].end(); ++it) {
        EXPECT_EQ(it.key().size(), 10u) << it.key();
        EXPECT_EQ(it.key().rfind("0x", 0), 0u);
        EXPECT_LE(it.value().get<unsigned>(), 0xFFu);
    }
    for (auto it = j["pci"].begin(); it != j["pci"].end(); ++it) {
        EXPECT_NE(it.key().find("+0x"), std::string::npos) << it.key();
        EXPECT_LE(it.value().get<unsigned>(), 0xFFu);
    }
}

TEST(CorvexRun, ReportOnEveryShippedBoard) {
    for (const char* name : {"", "default", "two-dimm", "silent-me", "reset-paths",
                             "small-me-buffers", "me-handoff", "preserved-dram"}) {
        SCOPED_TRACE(name);
        json j =
            RunJson(*name ? std::vector<std::string>{Board(name)} : std::vector<std::string>{});
        ExpectReportShape(j);
        EXPECT_EQ(j["board"], *name ? name : "default");
        EXPECT_EQ(j["boot"], 1);
    }
}

TEST(CorvexRun, SequenceOfBootsIsAnArray) {
    struct Case {
        std::vector<std::string> args;
        std::vector<unsigned> modes;
    };
    const Case cases[] = {
        {{"--boots", "3", "--boot-mode", "0,1"}, {0, 1, 1}},
        {{"--boots", "2", "--boot-mode", "1"}, {1, 1}},
        {{"--boots", "2"}, {0, 0}},
    };
    for (const Case& c : cases) {
        json j = RunJson(c.args);
        ASSERT_TRUE(j.is_array());
        ASSERT_EQ(j.size(), c.modes.size());
        for (size_t i = 0; i < j.size(); ++i) {
            ExpectReportShape(j[i]);
            EXPECT_EQ(j[i]["boot"], i + 1);
            EXPECT_EQ(j[i]["bootMode"], c.modes[i]);
        }
    }
}

TEST(CorvexRun, RunSectionOfTheBoardFileAndOptions) {
    testsupport::ScratchDir dir("runsection");
    json board = json::parse(testsupport::ReadFileText(Board("default")));
    board["dimms"][0]["spd"] =
        testsupport::SourceDir() + "/boards/mem/spd/sodimm-crucial-ct12864ac800.spd";
    board["run"] = {{"boots", 2}, {"bootModes", {1, 0}}};
    ASSERT_TRUE(testsupport::WriteFileText(dir / "board.json", board.dump()));
    json j = RunJson({dir / "board.json"});
    ASSERT_TRUE(j.is_array());
    EXPECT_EQ(j[0]["bootMode"], 1);
    EXPECT_EQ(j[1]["bootMode"], 0);
    j = RunJson({dir / "board.json", "--boots", "1"});  // options win
    EXPECT_TRUE(j.is_object());
}

TEST(CorvexRun, CmosFileAndTrace) {
    // A full detection saves its configuration into the CMOS file; a later
    // run in boot mode 1 takes it from there again.
    testsupport::ScratchDir dir("cmosfile");
    json saved = RunJson({"--cmos", dir / "cmos.bin", "--trace", dir / "trace.txt"});
    ASSERT_EQ(saved["outcome"], "returned");
    std::vector<uint8_t> cmos = testsupport::ReadFileBytes(dir / "cmos.bin");
    ASSERT_EQ(cmos.size(), 128u);
    EXPECT_EQ(cmos[0x05], std::stoul(saved["cmos"].get<std::string>().substr(0, 2), nullptr, 16));
    EXPECT_EQ(testsupport::ReadFileText(dir / "trace.txt").rfind("# boot 1, boot mode 0\n", 0), 0u);
    json restored = RunJson({"--cmos", dir / "cmos.bin", "--boot-mode", "1"});
    EXPECT_EQ(restored["outcome"], "returned");
    EXPECT_EQ(restored["cmos"], saved["cmos"]);

    // An all-zero copy names no data rate and is refused in boot mode 1.
    std::vector<uint8_t> zeros(128, 0);
    ASSERT_TRUE(testsupport::WriteFileBytes(dir / "zero.bin", zeros));
    json refused = RunJson({"--cmos", dir / "zero.bin", "--boot-mode", "1"});
    EXPECT_EQ(refused["outcome"], "fatal");
}

TEST(CorvexRun, CommandLineErrors) {
    testsupport::ScratchDir dir("badargs");
    ASSERT_TRUE(testsupport::WriteFileText(dir / "bad.json", R"({"me": {"depth": 3}})"));
    ASSERT_TRUE(testsupport::WriteFileBytes(dir / "short.bin", std::vector<uint8_t>(10, 0)));
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--boots", "0"}, "at least 1"},
        {{"--boots"}, "needs a value"},
        {{"--cas", "300"}, "from 0 to 255"},
        {{"--boot-mode", "0,x"}, "--boot-mode"},
        {{"--frobnicate", "1"}, "unknown option"},
        {{"a.json", "b.json"}, "more than one board"},
        {{dir / "missing.json"}, "cannot read the board file"},
        {{dir / "bad.json"}, "unknown key \"depth\""},
        {{"--cmos", dir / "short.bin"}, "128 bytes"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{CorvexRun()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        testsupport::ProcessResult r = RunProcess(argv);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    testsupport::ProcessResult help = RunProcess({CorvexRun(), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: corvex-run"), std::string::npos);
}

}  // namespace
