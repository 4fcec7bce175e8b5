// In-process runs of kelvor's SPI layer against the virtual SPI board: a
// board file (a shipped one, changed as a test needs) and a part list in a
// scratch folder of their own, the library opened on it, what kelvor printed,
// and after the close the board's cycle log and flash images.
#ifndef TESTS_KELVOR_SPI_BOARD_SESSION_H
#define TESTS_KELVOR_SPI_BOARD_SESSION_H

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace spitest {

// One cycle of the board's log.
struct Cycle {
    std::string Seq;   // "sw" or "hw"
    std::string Kind;  // "read", "program", "erase", "chiperase", "readid", ...
    int Opcode;
    int Prefix;       // -1: none
    int64_t Address;  // -1: the cycle had no address phase
    uint32_t Bytes;
    int ChipSelect;       // -1: no chip answered
    std::string Outcome;  // "done", "fcerr", "ael", "stuck"
    std::string Chip;     // what the chip made of it ("ok", "ignored", ...)
};

// A shipped board file (boards/spi/boards/<name>.json), parsed.
nlohmann::json ShippedBoard(const std::string& name = "default");
// Names of all shipped board files, without ".json".
std::vector<std::string> ShippedBoardNames();
// The part list that ships with kelvor.
std::string ShippedPartList();

// Puts every run-wide setting and record of kelvor back to its start value.
void ResetKelvor();

class BoardSession {
  public:
    // The scratch folder is named after the running test.
    BoardSession();
    ~BoardSession();
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    // Writes the board file (with a cycle log added) and the part list, and
    // names the board in RAVOACC_BOARD.
    void Prepare(nlohmann::json board, const std::string& partList = ShippedPartList());
    // InitRAVODriver; true when the library opened.
    bool Open();
    // Open and InitializeSpi; returns InitializeSpi's result (or -1 when the
    // library did not open).
    int BringUp();
    // ReleaseHardware (the board writes its log and images), then reads the
    // log. Called by the destructor when a test does not.
    void Close();

    // Runs one call of kelvor with its standard output captured (only then,
    // so that test failures still reach the screen).
    int Run(const std::function<int()>& call);
    // What kelvor printed in the calls run since the last Printed().
    std::string Printed();
    // The cycles of the log.
    const std::vector<Cycle>& Cycles() const { return cycles_; }
    // The board's totals of the run (register reads and writes, cycles, ...).
    const nlohmann::json& Totals() const { return totals_; }
    // Cycles of one kind.
    std::vector<Cycle> CyclesOf(const std::string& kind) const;
    // The flash image file of a chip after Close.
    std::vector<uint8_t> Image(const std::string& file) const;
    // Lets the board lay down its fresh image (an open and a close), then
    // changes it before the run proper.
    void SeedImage(const std::string& file,
                   const std::function<void(std::vector<uint8_t>*)>& change);
    // Writes a flash image before Open.
    void WriteImage(const std::string& file, const std::vector<uint8_t>& bytes) const;

    std::string Path(const std::string& name) const { return dir_ / name; }

  private:
    testsupport::ScratchDir dir_;
    bool open_ = false;
    std::string printed_;
    std::vector<Cycle> cycles_;
    nlohmann::json totals_;
};

}  // namespace spitest

#endif  // TESTS_KELVOR_SPI_BOARD_SESSION_H
