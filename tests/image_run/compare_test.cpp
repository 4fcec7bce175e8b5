// The freestanding image under emulation against the host build, both through
// corvex-run on fresh copies of one board: the reports must be identical, and
// so must the traces of every access (so the accesses agree in width, value,
// order and virtual time, not only in their end result).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "tests/image_run/image_location.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

using nlohmann::json;

struct Case {
    const char* name;
    const char* board;  // a shipped board, or "default" under `patch`
    const char* patch;  // JSON merge patch on the board file; null: the board as shipped
    std::vector<std::string> args;
    std::vector<const char*> outcomes;  // of each boot, so that each case covers what it claims
    bool trace = true;                  // compare the traces too
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

const Case kCases[] = {
    {"default", "default", nullptr, {}, {"returned"}},
    {"two_dimm", "two-dimm", nullptr, {}, {"returned"}},
    // Its five-second wait for the ME would make a trace of ten million lines;
    // the access count and virtual time still have to agree.
    {"silent_me", "silent-me", nullptr, {}, {"returned"}, false},
    {"reset_paths", "reset-paths", nullptr, {"--boots", "2"}, {"reset", "returned"}},
    {"small_me_buffers", "small-me-buffers", nullptr, {}, {"returned"}},
    {"me_handoff", "me-handoff", nullptr, {}, {"returned"}},
    {"preserved_dram", "preserved-dram", nullptr, {"--boots", "2"}, {"reset", "returned"}},
    {"restore_from_cmos",
     "two-dimm",
     nullptr,
     {"--boots", "3", "--boot-mode", "0,1"},
     {"returned", "returned", "returned"}},
    {"restore_without_saved_config", "default", nullptr, {"--boot-mode", "1"}, {"fatal"}},
    {"timing_overrides",
     "two-dimm",
     nullptr,
     {"--cas", "3", "--trcd", "3", "--trp", "3", "--tras", "10"},
     {"returned"}},
    {"frequency_and_memory_map",
     "default",
     nullptr,
     {"--ddr-freq", "1", "--mmio-mb", "1024", "--gfx-mb", "8", "--gtt-mb", "1"},
     {"returned"}},
    {"frequency_override_too_high", "default", nullptr, {"--ddr-freq", "4"}, {"fatal"}},
    {"no_dimm", "default", R"({"dimms": []})", {}, {"fatal"}},
    {"wrong_dram_init_done_reply",
     "default",
     R"({"me": {"replies": {"0x08": {"command": "0x77"}}}})",
     {},
     {"halt"}},
    {"engine_holds_memory_wrong_reply",
     "default",
     R"({"mc": {"0xA30": "0x04000000"}, "me": {"replies": {"0x0A": {"command": "0x77"}}}})",
     {},
     {"halt"}},
    {"tpm_never_valid",
     "default",
     R"({"tpm": {"validAfterNs": "never"}})",
     {"--hang-budget-ms", "50"},
     {"hang"}},
    {"revision0_preserved_dram",
     "default",
     R"({"pci": {"0:0.0": {"0x08": "0x00"}},
         "mc": {"0xA2E": "0x00", "0xF14": "0x00000103", "0xA0C": "0x0707"}})",
     {"--boots", "2"},
     {"reset", "returned"}},
};

std::string ShippedBoard(const std::string& name) {
    return testsupport::SourceDir() + "/boards/mem/boards/" + name + ".json";
}

// One corvex-run; the trace, if any, goes to `trace`.
json RunCorvex(std::vector<std::string> args, const std::string& trace, const std::string& image) {
    std::vector<std::string> argv{testsupport::BinDir() + "/corvex-run"};
    if (!trace.empty()) {
        argv.push_back("--trace");
        argv.push_back(trace);
    }
    if (!image.empty()) {
        argv.push_back("--image");
        argv.push_back(image);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ProcessOptions options;
    options.timeoutSeconds = 500;  // the silent ME waits five seconds of virtual time
    testsupport::ProcessResult r = testsupport::RunProcess(argv, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    json j = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j.is_array() ? j : json::array({j});
}

class ImageAgainstHost : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override { REQUIRE_CORVEX_IMAGE(); }
};

TEST_P(ImageAgainstHost, SameReportAndTrace) {
    const Case& c = GetParam();
    testsupport::ScratchDir dir(std::string("image-vs-host-") + c.name);
    std::string board = ShippedBoard(c.board);
    if (c.patch) {
        json j = json::parse(testsupport::ReadFileText(board));
        j.merge_patch(json::parse(c.patch));
        for (json& dimm : j["dimms"]) {
            dimm["spd"] = testsupport::SourceDir() + "/boards/mem/spd/" +
                          dimm["spd"].get<std::string>().substr(sizeof "../spd/" - 1);
        }
        board = dir / "board.json";
        ASSERT_TRUE(testsupport::WriteFileText(board, j.dump()));
    }
    std::vector<std::string> args = c.args;
    args.push_back(board);

    json host = RunCorvex(args, c.trace ? dir / "host.trace" : "", "");
    json image = RunCorvex(args, c.trace ? dir / "image.trace" : "", imagetest::ImagePath());
    ASSERT_EQ(host.size(), c.outcomes.size());
    ASSERT_EQ(image.size(), host.size());
    for (size_t boot = 0; boot < host.size(); ++boot) {
        SCOPED_TRACE("boot " + std::to_string(boot + 1));
        EXPECT_EQ(host[boot]["outcome"], c.outcomes[boot]);
        EXPECT_TRUE(image[boot].contains("stackBytes"));
        EXPECT_FALSE(image[boot].contains("error")) << image[boot]["error"];
        image[boot].erase("stackBytes");
        // Key by key first, so that a difference names its key.
        for (auto it = host[boot].begin(); it != host[boot].end(); ++it) {
            EXPECT_EQ(image[boot][it.key()], it.value()) << it.key();
        }
        EXPECT_EQ(image[boot].size(), host[boot].size());
    }
    if (!c.trace) {
        return;
    }
    const std::string hostTrace = testsupport::ReadFileText(dir / "host.trace");
    EXPECT_FALSE(hostTrace.empty());
    EXPECT_TRUE(hostTrace == testsupport::ReadFileText(dir / "image.trace"))
        << "the traces differ: compare " << dir / "host.trace"
        << " and " << dir / "image.trace"
        << " (KIT_KEEP_TEST_DIRS=1 keeps them)";
}

INSTANTIATE_TEST_SUITE_P(Boards, ImageAgainstHost, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

TEST(CorvexRunImage, BadImagesAreCommandLineErrors) {
    testsupport::ScratchDir dir("image-errors");
    std::vector<uint8_t> wrongMagic(0x40, 0);
    wrongMagic[0] = 'X';
    ASSERT_TRUE(testsupport::WriteFileBytes(dir / "wrong.bin", wrongMagic));
    struct Case {
        std::string image;
        const char* message;
    };
    const Case cases[] = {
        {dir / "missing.bin", "cannot read the image"},
        {dir / "wrong.bin", "not a corvex image"},
    };
    for (const Case& c : cases) {
        testsupport::ProcessResult r =
            testsupport::RunProcess({testsupport::BinDir() + "/corvex-run", "--image", c.image});
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
