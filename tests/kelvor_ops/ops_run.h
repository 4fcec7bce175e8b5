// The built kelvor run on a copy of a shipped virtual board whose flash the
// test lays down first, and the texts kelvor prints for the operations, to
// compare its output with byte for byte.
#ifndef TESTS_KELVOR_OPS_OPS_RUN_H
#define TESTS_KELVOR_OPS_OPS_RUN_H

#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace opstest {

constexpr uint32_t kFourMb = 0x400000;

// The exit code as a Linux parent sees it: only the low 8 bits of a status
// survive (605 arrives as 93), for the native program and for kelvor.exe
// under wine alike; Windows itself keeps the whole code.
int ShellExit(int code);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reproducible bytes that are neither erased nor zero-filled.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);

// Progress loops as the operations print them, with the "\n" before the
// loop; the erase loop also has the "\n" after it.
std::string EraseLines(uint32_t start, uint32_t length, uint32_t block = 4096);
std::string ProgramLines(uint32_t start, uint32_t length);
// `verb`: "Verifying" (verify) or "Reading" (dump, blank check).
std::string ReadLines(const char* verb, uint32_t start, uint32_t length);

// DisableBiosWriteProtection on a board that has just powered on.
std::string BiosUnlock();
// A whole load of `length` bytes from `start` after the file has been read.
std::string Loaded(uint32_t start, uint32_t length);
std::string ReadingFile(const std::string& name);

class OpsRun : public testing::Test {
  protected:
    OpsRun();

    // A shipped board (as is, or changed by the test) with the shipped part
    // list; a first run of kelvor lets it lay down its fresh flash image.
    void UseBoard(const std::string& shipped);
    void UseChangedBoard(const nlohmann::json& board);
    // The image the board laid down for itself, descriptor included.
    const std::vector<uint8_t>& Fresh() const { return fresh_; }

    // The board's flash image file.
    std::vector<uint8_t> Flash() const;
    // Writes the flash image and drops the chipset state, so that the next
    // run powers the board on from this image.
    void SetFlash(const std::vector<uint8_t>& image);

    std::string Path(const std::string& name) const { return dir_ / name; }
    void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const;

    // The native program, run in the test's folder.
    testsupport::ProcessResult Run(const std::vector<std::string>& args,
                                   const std::string& input = "") const;
    // What a run printed after the bring-up (its last line ends in
    // "sequencing.\n"); the whole output when there is no such line.
    static std::string AfterBringUp(const std::string& out);

    testsupport::ProcessOptions Options(const std::string& input) const;

    testsupport::ScratchDir dir_;
    nlohmann::json board_;
    std::vector<uint8_t> fresh_;
};

// Runs of kelvor.exe under wine, skipped where wine or the Windows build is
// missing (failed instead under CI=true, as the other wine tests do).
class OpsRunUnderWine : public OpsRun {
  protected:
    void SetUp() override;
    testsupport::ProcessResult RunExe(const std::vector<std::string>& args,
                                      const std::string& input = "") const;
};

}  // namespace opstest

#endif  // TESTS_KELVOR_OPS_OPS_RUN_H
