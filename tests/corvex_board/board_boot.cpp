// The board boots of the corvex board tests (see board_boot.h).
#include "tests/corvex_board/board_boot.h"

#include <cstdio>

#include "corvex/config/entry.h"
#include "corvex/config/saved_config.h"
#include "corvex/config/spd_dimms.h"
#include "corvex/platform/platform.h"
#include "tests/support/process.h"

namespace cvxboard {

namespace {

std::string BoardsDir() {
    return testsupport::SourceDir() + "/boards/mem/boards";
}

std::string ScratchName() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "corvex_board";
    if (info) {
        name += std::string("-") + info->test_suite_name() + "-" + info->name();
    }
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return name;
}

}  // namespace

SpdBuffer g_spd;
MemConfig g_config;

u32 ReadSpdOnly(MemInitInput*, MemInitOutput*) {
    g_spd = {};
    ReadAllSpd(&g_spd);
    return 0;
}

u32 DetectOnly(MemInitInput* input, MemInitOutput*) {
    g_spd = {};
    g_config = {};
    PhysWrite32(Cfg(0, 0, 0x48), kMcBase | 1);  // the controller block, as the entry decodes it
    ReadAllSpd(&g_spd);
    DetectDimms(input, &g_spd, &g_config);
    return 0;
}

u32 RestoreOnly(MemInitInput* input, MemInitOutput*) {
    g_config = {};
    RestoreConfig(&g_config, input);
    return 0;
}

const std::vector<uint8_t> kFailedDramInitDone = {0x08, 2, 2, 7, 0, 0, 0xA0, 0xA2, 0xA4, 0xA6};

json ShippedBoard(const std::string& name) {
    std::string text = testsupport::ReadFileText(BoardsDir() + "/" + name + ".json");
    json j = json::parse(text, nullptr, false);
    EXPECT_TRUE(j.is_object()) << "board " << name;
    return j;
}

json Patched(json board, const json& patch) {
    board.merge_patch(patch);
    return board;
}

Spd ShippedSpd() {
    Spd spd = testsupport::ReadFileBytes(testsupport::SourceDir() +
                                         "/boards/mem/spd/sodimm-crucial-ct12864ac800.spd");
    EXPECT_GE(spd.size(), 128u);
    return spd;
}

Spd FixtureSpd(const std::string& name) {
    Spd spd = testsupport::ReadFileBytes(testsupport::SourceDir() + "/tests/fixtures/spd/" + name);
    EXPECT_GE(spd.size(), 128u) << name;
    return spd;
}

Spd Patched(Spd spd, const std::vector<SpdPatch>& patches) {
    for (const SpdPatch& p : patches) {
        spd.at(static_cast<size_t>(p.first)) = p.second;
    }
    return spd;
}

std::vector<uint32_t> Boot::Writes(Space space, uint32_t address, unsigned width) const {
    std::vector<uint32_t> values;
    for (const harness::Access& a : result.accesses) {
        if (a.write && a.space == space && a.address == address &&
            (width == 0 || a.width == width)) {
            values.push_back(a.value);
        }
    }
    return values;
}

size_t Boot::Reads(Space space, uint32_t address) const {
    size_t count = 0;
    for (const harness::Access& a : result.accesses) {
        count += !a.write && a.space == space && a.address == address ? 1 : 0;
    }
    return count;
}

uint64_t Boot::NsBetween(uint32_t from, uint32_t to) const {
    for (size_t i = 0; i < post.size(); ++i) {
        if (post[i] != from) {
            continue;
        }
        for (size_t k = i + 1; k < post.size(); ++k) {
            if (post[k] == to) {
                return postTimeNs[k] - postTimeNs[i];
            }
        }
    }
    ADD_FAILURE() << "no POST code 0x" << std::hex << to << " after 0x" << from;
    return 0;
}

Step MemR(unsigned width, uint32_t address, uint32_t value, uint32_t mask) {
    return {Space::Physical, false, width, address, value, mask};
}
Step MemW(unsigned width, uint32_t address, uint32_t value) {
    return {Space::Physical, true, width, address, value};
}
Step IoR(uint32_t port, uint32_t value, uint32_t mask) {
    return {Space::Port, false, 1, port, value, mask};
}
Step IoW(uint32_t port, uint32_t value, unsigned width) {
    return {Space::Port, true, width, port, value};
}
Step Poll(Step first, unsigned n, unsigned minTimes) {
    first.repeat = n;
    first.minTimes = minTimes;
    return first;
}
Step Masked(Step step, uint32_t mask) {
    step.mask = mask;
    return step;
}

namespace {

bool StepMatches(const Step& s, const harness::Access& a) {
    return a.space == s.space && a.write == s.write && a.width == s.width &&
           a.address == s.address && ((a.value ^ s.value) & s.mask) == 0;
}

std::string Describe(const Step& s) {
    char buf[96];
    bool port = s.space == Space::Port;
    const uint32_t all = s.width >= 4 ? 0xFFFFFFFFu : (1u << (8 * s.width)) - 1;
    std::snprintf(buf, sizeof buf, "%s %c%u 0x%0*X 0x%0*X%s", port ? "io" : "mem",
                  s.write ? 'W' : 'R', s.width, port ? 4 : 8, s.address, 2 * s.width, s.value,
                  s.mask == 0             ? " (any value)"
                  : (s.mask & all) != all ? " (masked)"
                                          : "");
    return buf;
}

}  // namespace

::testing::AssertionResult MatchesSteps(const std::vector<harness::Access>& got, size_t from,
                                        const std::vector<Step>& want, bool toEnd) {
    size_t g = from;
    auto fail = [&](size_t w, const std::string& why) {
        ::testing::AssertionResult r = ::testing::AssertionFailure();
        r << why << " at access " << g << ", expected step " << w << "\n";
        if (w < want.size()) {
            r << "  expected: " << Describe(want[w]) << "\n";
        }
        for (size_t k = g >= 3 ? g - 3 : 0; k < got.size() && k < g + 4; ++k) {
            r << (k == g ? "  > " : "    ") << harness::FormatAccess(got[k]) << "\n";
        }
        return r;
    };
    for (size_t w = 0; w < want.size();) {
        const size_t n = want[w].repeat ? want[w].repeat : 1;
        if (w + n > want.size()) {
            return fail(w, "poll group runs past the list");
        }
        size_t times = 0;
        for (;;) {
            bool whole = g + n <= got.size();
            for (size_t k = 0; whole && k < n; ++k) {
                whole = StepMatches(want[w + k], got[g + k]);
            }
            if (!whole) {
                break;
            }
            g += n;
            ++times;
            if (!want[w].repeat) {
                break;
            }
        }
        if (times < (want[w].repeat ? want[w].minTimes : 1)) {
            return fail(w, g >= got.size() ? "the boot ended early" : "mismatch");
        }
        w += n;
    }
    if (toEnd && g != got.size()) {
        return fail(want.size(), "accesses left over");
    }
    return ::testing::AssertionSuccess();
}

BoardTest::BoardTest() : scratch_(ScratchName()) {}

std::unique_ptr<Board> BoardTest::Open(const json& board) {
    std::string error;
    std::unique_ptr<Board> b = memboard::OpenBoardText(board.dump(), BoardsDir(), &error);
    EXPECT_TRUE(b) << error;
    return b;
}

std::string BoardTest::SpdFile(const Spd& spd) {
    std::string path = scratch_ / ("dimm" + std::to_string(spdFiles_++) + ".spd");
    EXPECT_TRUE(testsupport::WriteFileBytes(path, spd));
    return path;
}

json BoardTest::WithDimms(json board, const std::vector<std::pair<int, Spd>>& dimms) {
    json list = json::array();
    for (const auto& [slot, spd] : dimms) {
        list.push_back({{"slot", slot}, {"spd", SpdFile(spd)}});
    }
    board["dimms"] = list;
    return board;
}

Boot BoardTest::Run(Board& board, const MemInitInput& input, const MemInitOutput& before,
                    harness::BootBody body, bool keepAccesses) {
    harness::BootOptions options;
    options.keepAccesses = keepAccesses;
    Boot boot;
    boot.result = body ? harness::RunBootWith(board, input, before, options, body)
                       : harness::RunBoot(board, input, before, options);
    for (const memboard::PostCode& p : board.PostCodes()) {
        boot.post.push_back(p.value);
        boot.postTimeNs.push_back(p.timeNs);
    }
    boot.messages = board.EngineMessages();
    boot.dramCommands = board.DramCommands();
    boot.violations = board.Violations();
    boot.unmapped = board.UnmappedCount();
    return boot;
}

std::vector<Boot> BoardTest::Sequence(Board& board, const std::vector<uint8_t>& bootModes) {
    std::vector<Boot> boots;
    for (uint8_t mode : bootModes) {
        if (!boots.empty()) {
            board.PlatformReset();
        }
        MemInitInput input = {};
        input.bootMode = mode;
        boots.push_back(Run(board, input));
    }
    return boots;
}

}  // namespace cvxboard
