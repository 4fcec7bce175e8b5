#include "tests/kelvor_spi/board_session.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "kelvor/front/main_sequence.h"
#include "kelvor/front/settings.h"
#include "kelvor/spi/bounded_wait.h"
#include "kelvor/spi/ravo_util.h"
#include "kelvor/spi/spi_api.h"
#include "kelvor/spi/spi_controller.h"
#include "kelvor/spi/spi_state.h"
#include "tests/support/process.h"

namespace spitest {

namespace {

std::string TestName() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kelvor_spi-") + info->test_suite_name() + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

int64_t HexField(const nlohmann::json& entry, const char* key) {
    if (!entry.contains(key) || entry[key].is_null()) {
        return -1;
    }
    return static_cast<int64_t>(std::stoll(entry[key].get<std::string>(), nullptr, 16));
}

}  // namespace

nlohmann::json ShippedBoard(const std::string& name) {
    const std::string text = testsupport::ReadFileText(testsupport::SourceDir() +
                                                       "/boards/spi/boards/" + name + ".json");
    return nlohmann::json::parse(text, nullptr, true, true);
}

std::vector<std::string> ShippedBoardNames() {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(testsupport::SourceDir() + "/boards/spi/boards")) {
        if (entry.path().extension() == ".json") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ShippedPartList() {
    return testsupport::ReadFileText(testsupport::SourceDir() + "/kelvor/chipdefs.txt");
}

void ResetKelvor() {
    SpiController = {nullptr, 0, 0, 0, 0, 0, {}, kDefaultOpMenuSlots};
    ReleasePartDefinitions();
    WaitClock = {0, 0, 0};
    OutputEnabled = 1;
    PromptEnabled = 1;
    EraseEnabled = 1;
    std::strcpy(PartFilePath, "chipdefs.txt");
}

BoardSession::BoardSession() : dir_(TestName()) {
    ResetKelvor();
    unsetenv("SPIBOARD_LOG");
}

BoardSession::~BoardSession() {
    Close();
    unsetenv("RAVOACC_BOARD");
    ResetKelvor();
}

void BoardSession::Prepare(nlohmann::json board, const std::string& partList) {
    board["log"] = {{"file", "cycles.jsonl"}, {"limit", 2000000}};
    testsupport::WriteFileText(Path("board.json"), board.dump(2));
    testsupport::WriteFileText(Path("chipdefs.txt"), partList);
    std::strcpy(PartFilePath, Path("chipdefs.txt").c_str());
    setenv("RAVOACC_BOARD", Path("board.json").c_str(), 1);
}

bool BoardSession::Open() {
    open_ = Run(InitRAVODriver) != 0;
    return open_;
}

int BoardSession::BringUp() {
    if (!Open()) {
        return -1;
    }
    return Run(InitializeSpi);
}

int BoardSession::Run(const std::function<int()>& call) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    const int result = call();
    printed_ += testing::internal::GetCapturedStdout();
    return result;
}

void BoardSession::Close() {
    if (!open_) {
        return;
    }
    Run([] {
        ReleaseHardware();
        return 0;
    });
    open_ = false;
    cycles_.clear();
    totals_ = nlohmann::json();
    std::istringstream log(testsupport::ReadFileText(Path("cycles.jsonl")));
    std::string line;
    while (std::getline(log, line)) {
        const nlohmann::json entry = nlohmann::json::parse(line);
        if (entry.contains("totals")) {
            totals_ = entry["totals"];
        }
        if (!entry.contains("seq") || !entry.contains("op")) {
            continue;  // totals, I/O, resets
        }
        Cycle cycle;
        cycle.Seq = entry["seq"].get<std::string>();
        cycle.Kind = entry["kind"].get<std::string>();
        cycle.Opcode = static_cast<int>(HexField(entry, "op"));
        cycle.Prefix = static_cast<int>(HexField(entry, "prefix"));
        cycle.Address = HexField(entry, "addr");
        cycle.Bytes = entry["bytes"].get<uint32_t>();
        cycle.ChipSelect = entry["cs"].is_null() ? -1 : entry["cs"].get<int>();
        cycle.Outcome = entry["outcome"].get<std::string>();
        cycle.Chip = entry["chip"].get<std::string>();
        cycles_.push_back(cycle);
    }
}

std::string BoardSession::Printed() {
    std::string text;
    text.swap(printed_);
    return text;
}

std::vector<Cycle> BoardSession::CyclesOf(const std::string& kind) const {
    std::vector<Cycle> selected;
    for (const Cycle& cycle : cycles_) {
        if (cycle.Kind == kind) {
            selected.push_back(cycle);
        }
    }
    return selected;
}

std::vector<uint8_t> BoardSession::Image(const std::string& file) const {
    return testsupport::ReadFileBytes(Path(file));
}

void BoardSession::WriteImage(const std::string& file, const std::vector<uint8_t>& bytes) const {
    testsupport::WriteFileBytes(Path(file), bytes);
}

}  // namespace spitest

namespace spitest {

void BoardSession::SeedImage(const std::string& file,
                             const std::function<void(std::vector<uint8_t>*)>& change) {
    if (Open()) {
        Close();
    }
    std::vector<uint8_t> image = Image(file);
    change(&image);
    WriteImage(file, image);
    Printed();
    cycles_.clear();
}

}  // namespace spitest
