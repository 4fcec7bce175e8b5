// Built-in flash part models, from the parts' public datasheets. Board files
// name one of these or describe their own part (optionally starting from one
// of these). Values marked "est." are estimates where the datasheet facts at
// hand give none; they only shape the virtual time.
#include <cstring>

#include "board_model.h"

namespace spiboard {
namespace {

struct EraseRow {
    uint8_t opcode;
    uint32_t size;
    uint32_t timeMs;
};

struct PartRow {
    const char* name;
    uint8_t id9F[3];
    uint8_t id90Length;
    uint8_t id90[2];
    uint8_t idABLength;
    uint8_t idAB[2];
    uint32_t sizeKb;
    uint16_t pageSize;
    EraseRow erases[kMaxEraseCommands];
    uint8_t chipErase[kMaxChipEraseOpcodes];
    uint32_t chipEraseMs;
    uint32_t programPageUs;
    uint32_t programByteUs;
    uint32_t writeStatusMs;
    uint8_t protectMask;
    uint8_t writableMask;
    bool statusVolatile;
    uint8_t statusPowerOn;
    StatusEnable statusEnable;
};

constexpr uint32_t K4 = 4096, K32 = 32768, K64 = 65536;

// Single-byte program times stand for the first byte of a page program
// (est. 30 us) on page parts; chip erase times marked est. in the README.
// clang-format off
// Each row: name, 0x9F ID, 0x90 ID length and bytes, 0xAB ID length and bytes,
// size in KB, page size; erase commands (opcode, size, ms), chip erase opcodes,
// chip erase ms; page and byte program us, write status ms, protect bits,
// writable status bits, status volatile, status at power-on, status enable.
const PartRow kParts[] = {
    {"W25X32", {0xEF, 0x30, 0x16}, 2, {0xEF, 0x15}, 1, {0x15}, 4096, 256,
     {{0x20, K4, 150}, {0xD8, K64, 1000}}, {0xC7}, 40000,
     1500, 30, 10, 0x1C, 0x9C, false, 0, StatusEnable::Wren},
    {"W25X64", {0xEF, 0x30, 0x17}, 2, {0xEF, 0x16}, 1, {0x16}, 8192, 256,
     {{0x20, K4, 150}, {0xD8, K64, 1000}}, {0xC7}, 80000,
     1500, 30, 10, 0x1C, 0x9C, false, 0, StatusEnable::Wren},
    {"W25Q32", {0xEF, 0x40, 0x16}, 2, {0xEF, 0x15}, 1, {0x15}, 4096, 256,
     {{0x20, K4, 30}, {0x52, K32, 120}, {0xD8, K64, 150}}, {0xC7, 0x60}, 10000,
     700, 30, 10, 0x1C, 0x9C, false, 0, StatusEnable::Wren},
    {"MX25L3205D", {0xC2, 0x20, 0x16}, 2, {0xC2, 0x15}, 1, {0x15}, 4096, 256,
     {{0x20, K4, 60}, {0x52, K64, 1000}, {0xD8, K64, 1000}}, {0x60, 0xC7}, 25000,
     1400, 30, 10, 0x3C, 0xBC, false, 0, StatusEnable::Wren},
    {"MX25L6405D", {0xC2, 0x20, 0x17}, 2, {0xC2, 0x16}, 1, {0x16}, 8192, 256,
     {{0x20, K4, 60}, {0x52, K64, 1000}, {0xD8, K64, 1000}}, {0x60, 0xC7}, 50000,
     1400, 30, 10, 0x3C, 0xBC, false, 0, StatusEnable::Wren},
    {"SST25VF032B", {0xBF, 0x25, 0x4A}, 2, {0xBF, 0x4A}, 2, {0xBF, 0x4A}, 4096, 1,
     {{0x20, K4, 18}, {0x52, K32, 18}, {0xD8, K64, 18}}, {0x60, 0xC7}, 35,
     7, 7, 10, 0x3C, 0xBC, true, 0x1C, StatusEnable::Ewsr},
    {"SST25VF080B", {0xBF, 0x25, 0x8E}, 2, {0xBF, 0x8E}, 2, {0xBF, 0x8E}, 1024, 1,
     {{0x20, K4, 18}, {0x52, K32, 18}, {0xD8, K64, 18}}, {0x60, 0xC7}, 35,
     7, 7, 10, 0x3C, 0xBC, true, 0x1C, StatusEnable::Ewsr},
    {"AT26DF161", {0x1F, 0x46, 0x00}, 0, {}, 0, {}, 2048, 256,
     {{0x20, K4, 50}, {0x52, K32, 250}, {0xD8, K64, 400}}, {0x60, 0xC7}, 20000,
     1000, 30, 10, 0x3C, 0xBC, true, 0x3C, StatusEnable::Wren},
    {"AT26DF321", {0x1F, 0x47, 0x00}, 0, {}, 0, {}, 4096, 256,
     {{0x20, K4, 50}, {0x52, K32, 250}, {0xD8, K64, 400}}, {0x60, 0xC7}, 40000,
     1000, 30, 10, 0x3C, 0xBC, true, 0x3C, StatusEnable::Wren},
    {"S25FL032A", {0x01, 0x02, 0x15}, 2, {0x01, 0x15}, 1, {0x15}, 4096, 256,
     {{0xD8, K64, 500}}, {0xC7}, 32000,
     1500, 30, 10, 0x1C, 0x9C, false, 0, StatusEnable::Wren},
    {"EN25F32", {0x1C, 0x31, 0x16}, 2, {0x1C, 0x15}, 1, {0x15}, 4096, 256,
     {{0x20, K4, 150}, {0xD8, K64, 800}}, {0xC7, 0x60}, 32000,
     1500, 30, 10, 0x1C, 0x9C, false, 0, StatusEnable::Wren},
    {"M25P32", {0x20, 0x20, 0x16}, 0, {}, 1, {0x15}, 4096, 256,
     {{0xD8, K64, 600}}, {0xC7}, 23000,
     1400, 30, 5, 0x1C, 0x9C, false, 0, StatusEnable::Wren},
};
// clang-format on

IdAnswer MakeId(const uint8_t* bytes, unsigned length) {
    IdAnswer id;
    id.supported = length > 0;
    id.length = static_cast<uint8_t>(length);
    for (unsigned i = 0; i < length && i < 4; ++i) {
        id.bytes[i] = bytes[i];
    }
    return id;
}

void FromRow(const PartRow& row, PartModel* part) {
    *part = PartModel();
    part->name = row.name;
    part->id9F = MakeId(row.id9F, 3);
    part->id90 = MakeId(row.id90, row.id90Length);
    part->idAB = MakeId(row.idAB, row.idABLength);
    part->size = row.sizeKb * 1024u;
    part->pageSize = row.pageSize;
    for (const EraseRow& erase : row.erases) {
        if (erase.size == 0) {
            break;
        }
        EraseCommand& command = part->erases[part->eraseCount++];
        command.opcode = erase.opcode;
        command.size = erase.size;
        command.busyNs = erase.timeMs * 1000000ull;
    }
    for (uint8_t opcode : row.chipErase) {
        if (opcode != 0) {
            part->chipEraseOpcodes[part->chipEraseCount++] = opcode;
        }
    }
    part->chipEraseNs = row.chipEraseMs * 1000000ull;
    part->programPageNs = row.programPageUs * 1000ull;
    part->programByteNs = row.programByteUs * 1000ull;
    part->writeStatusNs = row.writeStatusMs * 1000000ull;
    part->protectMask = row.protectMask;
    part->writableMask = row.writableMask;
    part->statusVolatile = row.statusVolatile;
    part->statusPowerOn = row.statusPowerOn;
    part->statusInitial = 0;
    part->statusEnable = row.statusEnable;
}

}  // namespace

bool FindPartModel(const std::string& name, PartModel* part) {
    for (const PartRow& row : kParts) {
        if (name == row.name) {
            FromRow(row, part);
            return true;
        }
    }
    return false;
}

std::string KnownPartNames() {
    std::string names;
    for (const PartRow& row : kParts) {
        names += names.empty() ? "" : ", ";
        names += row.name;
    }
    return names;
}

}  // namespace spiboard
