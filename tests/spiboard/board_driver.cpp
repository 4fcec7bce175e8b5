#include "tests/spiboard/board_driver.h"

#include <fstream>
#include <sstream>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace spitest {

Driver::Driver(spiboard::Board* board) : board_(board) {
    base_ = (Pci(kRcba) & 0xFFFFC000u) + 0x3020;
}

uint8_t Driver::R8(uint32_t o) {
    return static_cast<uint8_t>(spiboard::MmioRead(board_, base_ + o, 1));
}
uint16_t Driver::R16(uint32_t o) {
    return static_cast<uint16_t>(spiboard::MmioRead(board_, base_ + o, 2));
}
uint32_t Driver::R32(uint32_t o) {
    return spiboard::MmioRead(board_, base_ + o, 4);
}
void Driver::W8(uint32_t o, uint8_t v) {
    spiboard::MmioWrite(board_, base_ + o, 1, v);
}
void Driver::W16(uint32_t o, uint16_t v) {
    spiboard::MmioWrite(board_, base_ + o, 2, v);
}
void Driver::W32(uint32_t o, uint32_t v) {
    spiboard::MmioWrite(board_, base_ + o, 4, v);
}

uint32_t Driver::Pci(uint32_t address) {
    uint32_t value = 0;
    std::string error;
    spiboard::PciRead32(board_, address, &value, &error);
    return value;
}

void Driver::SetPci(uint32_t address, uint32_t value) {
    std::string error;
    spiboard::PciWrite32(board_, address, value, &error);
}

void Driver::SetBiosWriteEnable() {
    SetPci(kBiosControl, Pci(kBiosControl) | 1);
}

void Driver::SetSlot(unsigned slot, uint8_t opcode, unsigned type) {
    W8(kOpmenu + slot, opcode);
    uint16_t optype = R16(kOptype);
    optype = static_cast<uint16_t>((optype & ~(3u << (2 * slot))) | (type << (2 * slot)));
    W16(kOptype, optype);
}

void Driver::SetPrefix(unsigned slot, uint8_t opcode) {
    W8(kPreop + slot, opcode);
}

uint8_t Driver::SwCycle(unsigned slot, uint32_t addr, std::vector<uint8_t>* data, bool atomic,
                        unsigned prefixSlot) {
    unsigned type = (R16(kOptype) >> (2 * slot)) & 3;
    size_t count = data != nullptr ? data->size() : 0;
    W8(kSsfsts, 0x1C);
    if (count > 0 && (type & 1)) {
        for (size_t i = 0; i < count; ++i) {
            W8(kFdata + static_cast<uint32_t>(i), (*data)[i]);
        }
    }
    W32(kFaddr, addr);
    W8(kSsfctlHigh, static_cast<uint8_t>(count > 0 ? 0x40 | (count - 1) : 0));
    W8(kSsfctl, static_cast<uint8_t>((slot << 4) | (prefixSlot << 3) | (atomic ? 4 : 0) | 2));
    uint8_t status = 0;
    for (polls = 0; polls < 1000; ++polls) {
        status = R8(kSsfsts);
        if (status & (kSwFdone | kSwFcerr | kSwAel)) {
            break;
        }
    }
    if (count > 0 && !(type & 1)) {
        for (size_t i = 0; i < count; ++i) {
            (*data)[i] = R8(kFdata + static_cast<uint32_t>(i));
        }
    }
    return status;
}

uint8_t Driver::Command(uint8_t opcode, unsigned type, uint32_t addr, std::vector<uint8_t>* data,
                        bool atomic) {
    SetSlot(7, opcode, type);
    return SwCycle(7, addr, data, atomic);
}

std::vector<uint8_t> Driver::ReadId(uint8_t opcode, unsigned bytes, uint32_t probe) {
    std::vector<uint8_t> id(bytes, 0);
    Command(opcode, kReadNoAddr, probe, &id);
    return id;
}

uint8_t Driver::ReadStatus(uint32_t addr) {
    std::vector<uint8_t> status(1, 0);
    Command(0x05, kReadNoAddr, addr, &status);
    return status[0];
}

uint16_t Driver::HwCycle(unsigned type, uint32_t addr, std::vector<uint8_t>* data, unsigned count) {
    if (data != nullptr && !data->empty()) {
        count = static_cast<unsigned>(data->size());
    }
    W16(kHsfsts, 0x0007);
    if (type == 2) {
        for (size_t i = 0; i < data->size(); ++i) {
            W8(kFdata + static_cast<uint32_t>(i), (*data)[i]);
        }
    }
    W32(kFaddr, addr);
    W16(kHsfctl, static_cast<uint16_t>(((count - 1) << 8) | (type << 1) | 1));
    uint16_t status = 0;
    for (polls = 0; polls < 1000; ++polls) {
        status = R16(kHsfsts);
        if (status & (kHwFdone | kHwFcerr | kHwAel)) {
            break;
        }
    }
    if (type == 0 && data != nullptr) {
        for (size_t i = 0; i < data->size(); ++i) {
            (*data)[i] = R8(kFdata + static_cast<uint32_t>(i));
        }
    }
    return status;
}

std::vector<uint8_t> Driver::HwRead(uint32_t addr, unsigned count) {
    std::vector<uint8_t> data(count, 0);
    HwCycle(0, addr, &data);
    return data;
}

ScratchBoard::ScratchBoard(const std::string& dir, const nlohmann::json& boardFile)
    : path(dir + "/board.json") {
    testsupport::WriteFileText(path, boardFile.dump(2));
    Reopen();
}

ScratchBoard::~ScratchBoard() {
    Close();
}

void ScratchBoard::Reopen() {
    Close();
    error.clear();
    board = spiboard::Open(path.c_str(), &error);
}

void ScratchBoard::Close() {
    spiboard::Close(board);
    board = nullptr;
}

nlohmann::json ShippedBoard(const std::string& name) {
    std::string text =
        testsupport::ReadFileText(testsupport::SourceDir() + "/boards/spi/boards/" + name);
    return nlohmann::json::parse(text);
}

std::vector<nlohmann::json> ReadLog(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(testsupport::ReadFileText(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            lines.push_back(nlohmann::json::parse(line));
        }
    }
    return lines;
}

}  // namespace spitest
