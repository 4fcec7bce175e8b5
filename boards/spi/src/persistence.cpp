// What outlives a run: the chips' flash images and the chipset state file.
// Both are written back only through a temporary file and a rename, so an
// interrupted Close leaves the previous files whole.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "board_model.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace spiboard {
namespace {

using nlohmann::ordered_json;

const char kStateFormat[] = "spiboard-state 1";

bool ReadWholeFile(const std::string& path, std::string* bytes, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    *exists = static_cast<bool>(in);
    if (!in) {
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string Hex(uint64_t value, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "0x%0*llX", digits,
                  static_cast<unsigned long long>(value));
    return buffer;
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

// Reads the state file's fields, remembering the first problem with its key.
struct StateReader {
    std::string problem;

    const ordered_json* Field(const ordered_json& object, const char* key,
                              const std::string& path) {
        if (!problem.empty()) {
            return nullptr;
        }
        if (!object.is_object() || !object.contains(key)) {
            problem = path + key + ": missing";
            return nullptr;
        }
        return &object[key];
    }

    uint64_t Number(const ordered_json& object, const char* key, const std::string& path,
                    uint64_t max) {
        const ordered_json* field = Field(object, key, path);
        if (field == nullptr) {
            return 0;
        }
        uint64_t value = 0;
        bool ok = field->is_number_unsigned() ? (value = field->get<uint64_t>(), true)
                  : field->is_string()        ? ParseNumberText(field->get<std::string>(), &value)
                                              : false;
        if (!ok || value > max) {
            problem = path + key + ": not a number of at most " + Hex(max, 1);
            return 0;
        }
        return value;
    }

    bool Flag(const ordered_json& object, const char* key, const std::string& path) {
        const ordered_json* field = Field(object, key, path);
        if (field == nullptr) {
            return false;
        }
        if (!field->is_boolean()) {
            problem = path + key + ": must be true or false";
            return false;
        }
        return field->get<bool>();
    }

    void Numbers(const ordered_json& object, const char* key, const std::string& path, uint64_t max,
                 size_t count, uint64_t* out) {
        const ordered_json* field = Field(object, key, path);
        if (field == nullptr) {
            return;
        }
        if (!field->is_array() || field->size() != count) {
            problem = path + key + ": must be a list of " + std::to_string(count) + " numbers";
            return;
        }
        for (size_t i = 0; i < count && problem.empty(); ++i) {
            ordered_json holder = {{"v", (*field)[i]}};
            out[i] = Number(holder, "v", path + key + "[" + std::to_string(i) + "].", max);
            if (!problem.empty()) {
                problem = path + key + "[" + std::to_string(i) + "]: not a number of at most " +
                          Hex(max, 1);
            }
        }
    }

    void Bytes(const ordered_json& object, const char* key, const std::string& path, uint8_t* out,
               size_t count) {
        const ordered_json* field = Field(object, key, path);
        if (field == nullptr) {
            return;
        }
        std::string text = field->is_string() ? field->get<std::string>() : std::string();
        if (text.size() != 2 * count) {
            problem = path + key + ": must be " + std::to_string(2 * count) + " hex digits";
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            uint64_t value = 0;
            if (!ParseNumberText("0x" + text.substr(2 * i, 2), &value)) {
                problem = path + key + ": must be " + std::to_string(2 * count) + " hex digits";
                return;
            }
            out[i] = static_cast<uint8_t>(value);
        }
    }
};

}  // namespace

bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error) {
    std::string temp = path + ".tmp";
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot create " + temp;
        return false;
    }
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    ok = std::fclose(file) == 0 && ok;
    if (ok) {
#if defined(_WIN32)
        ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
        ok = std::rename(temp.c_str(), path.c_str()) == 0;
#endif
    }
    if (!ok) {
        std::remove(temp.c_str());
        *error = "cannot write " + path;
    }
    return ok;
}

bool LoadImages(Board* board, bool* created, std::string* error) {
    *created = false;
    for (unsigned i = 0; i < board->config.chipCount; ++i) {
        Chip& chip = board->chips[i];
        const ChipConfig& config = *chip.config;
        uint32_t size = config.part.size;
        chip.sizeMask = size - 1;
        std::string bytes;
        bool exists = false;
        bool read = ReadWholeFile(config.imagePath, &bytes, &exists);
        if (!exists) {
            // First run: an erased part, with the descriptor on the first.
            chip.image.assign(size, 0xFF);
            if (i == 0 && board->config.descriptor.present) {
                WriteDescriptor(board->config.descriptor, &chip.image);
            }
            chip.dirty = true;
            *created = true;
            continue;
        }
        if (!read) {
            *error = config.imagePath + ": cannot read the flash image";
            return false;
        }
        if (bytes.size() != size) {
            *error = config.imagePath + ": the flash image has " + std::to_string(bytes.size()) +
                     " bytes but the " + config.part.name + " on chip select " + std::to_string(i) +
                     " holds " + std::to_string(size) +
                     " (delete the file to start from an erased part)";
            return false;
        }
        chip.image.assign(bytes.begin(), bytes.end());
        chip.dirty = false;
    }
    return true;
}

bool SaveImages(Board* board, std::string* error) {
    bool ok = true;
    for (unsigned i = 0; i < board->config.chipCount; ++i) {
        Chip& chip = board->chips[i];
        if (!chip.dirty) {
            continue;
        }
        std::string reason;
        if (WriteFileAtomically(chip.config->imagePath, chip.image.data(), chip.image.size(),
                                &reason)) {
            chip.dirty = false;
        } else if (ok) {
            *error = reason;
            ok = false;
        }
    }
    return ok;
}

bool SaveState(Board* board, std::string* error) {
    const SpiRegisters& r = board->regs;
    uint8_t hwFlags = r.hwFlags;
    uint8_t swFlags = r.swFlags;
    // A cycle still running at the end has already done its work on the
    // chip; it is stored as finished.
    if (board->cycle.active && !board->cycle.stuck) {
        if (board->cycle.hardware) {
            hwFlags |= 0x01 | board->cycle.errorFlags;
        } else {
            swFlags |= 0x04 | board->cycle.errorFlags;
        }
    }
    ordered_json state;
    state["format"] = kStateFormat;
    ordered_json lpc = ordered_json::array();
    for (uint32_t value : board->lpc) {
        lpc.push_back(Hex(value, 8));
    }
    state["lpc"] = lpc;
    ordered_json spi;
    spi["hsfsts_flags"] = Hex(hwFlags, 2);
    spi["hsfctl"] = Hex(r.hsfctl, 4);
    spi["flockdn"] = r.flockdn;
    spi["fdopss"] = r.fdopss;
    spi["fdv"] = r.fdv;
    spi["faddr"] = Hex(r.faddr, 8);
    spi["fdata"] = HexBytes(r.fdata, sizeof(r.fdata));
    spi["fracc"] = Hex(r.fracc, 8);
    spi["freg"] = {Hex(r.freg[0], 8), Hex(r.freg[1], 8), Hex(r.freg[2], 8), Hex(r.freg[3], 8)};
    spi["ssfsts_flags"] = Hex(swFlags, 2);
    spi["ssfctl"] = HexBytes(r.ssfctl, sizeof(r.ssfctl));
    spi["preop"] = HexBytes(r.preop, sizeof(r.preop));
    spi["optype"] = Hex(r.optype, 4);
    spi["opmenu"] = HexBytes(r.opmenu, sizeof(r.opmenu));
    spi["vscc"] = Hex(r.vscc, 8);
    spi["components"] = r.components;
    spi["component_sizes"] = {Hex(r.componentSize[0], 8), Hex(r.componentSize[1], 8)};
    state["controller"] = spi;
    ordered_json chips = ordered_json::array();
    for (unsigned i = 0; i < board->config.chipCount; ++i) {
        const Chip& chip = board->chips[i];
        chips.push_back({{"part", chip.config->part.name},
                         {"status", Hex(chip.status, 2)},
                         {"wel", chip.wel},
                         {"ewsr", chip.ewsrLatch}});
    }
    state["chips"] = chips;
    std::string text = state.dump(2) + "\n";
    if (text == board->stateLoaded) {
        return true;
    }
    if (!WriteFileAtomically(board->config.statePath, text.data(), text.size(), error)) {
        return false;
    }
    board->stateLoaded = text;
    return true;
}

bool LoadState(Board* board, bool* found, std::string* error) {
    const std::string& path = board->config.statePath;
    std::string text;
    bool exists = false;
    bool read = ReadWholeFile(path, &text, &exists);
    *found = exists;
    if (!exists) {
        return true;
    }
    if (!read) {
        *error = path + ": cannot read the state file";
        return false;
    }
    ordered_json state;
    try {
        state = ordered_json::parse(text);
    } catch (const ordered_json::parse_error& e) {
        *error = SyntaxErrorText(path, text, e.byte, e.what());
        return false;
    }
    StateReader in;
    const ordered_json* format = in.Field(state, "format", "");
    if (format != nullptr && (!format->is_string() || format->get<std::string>() != kStateFormat)) {
        in.problem = std::string("format: not \"") + kStateFormat + "\"";
    }
    uint64_t lpc[kLpcDwords] = {};
    in.Numbers(state, "lpc", "", 0xFFFFFFFFu, kLpcDwords, lpc);
    const ordered_json* spiField = in.Field(state, "controller", "");
    SpiRegisters r;
    if (spiField != nullptr) {
        const ordered_json& spi = *spiField;
        const std::string p = "controller.";
        r.hwFlags = static_cast<uint8_t>(in.Number(spi, "hsfsts_flags", p, 0x07));
        r.hsfctl = static_cast<uint16_t>(in.Number(spi, "hsfctl", p, 0xBF06));
        r.flockdn = in.Flag(spi, "flockdn", p);
        r.fdopss = in.Flag(spi, "fdopss", p);
        r.fdv = in.Flag(spi, "fdv", p);
        r.faddr = static_cast<uint32_t>(in.Number(spi, "faddr", p, 0x01FFFFFF));
        in.Bytes(spi, "fdata", p, r.fdata, sizeof(r.fdata));
        r.fracc = static_cast<uint32_t>(in.Number(spi, "fracc", p, 0xFFFFFFFFu));
        uint64_t freg[4] = {};
        in.Numbers(spi, "freg", p, 0x1FFF1FFF, 4, freg);
        for (unsigned i = 0; i < 4; ++i) {
            r.freg[i] = static_cast<uint32_t>(freg[i]);
        }
        r.swFlags = static_cast<uint8_t>(in.Number(spi, "ssfsts_flags", p, 0x1C));
        in.Bytes(spi, "ssfctl", p, r.ssfctl, sizeof(r.ssfctl));
        in.Bytes(spi, "preop", p, r.preop, sizeof(r.preop));
        r.optype = static_cast<uint16_t>(in.Number(spi, "optype", p, 0xFFFF));
        in.Bytes(spi, "opmenu", p, r.opmenu, sizeof(r.opmenu));
        r.vscc = static_cast<uint32_t>(in.Number(spi, "vscc", p, 0xFFFFFFFFu));
        r.components = static_cast<unsigned>(in.Number(spi, "components", p, kMaxChips));
        uint64_t sizes[2] = {};
        in.Numbers(spi, "component_sizes", p, 0x1000000, 2, sizes);
        r.componentSize[0] = static_cast<uint32_t>(sizes[0]);
        r.componentSize[1] = static_cast<uint32_t>(sizes[1]);
    }
    const ordered_json* chips = in.Field(state, "chips", "");
    if (chips != nullptr && in.problem.empty() &&
        (!chips->is_array() || chips->size() != board->config.chipCount)) {
        in.problem = "chips: the state is of a board with another number of flash chips";
    }
    for (unsigned i = 0; i < board->config.chipCount && in.problem.empty(); ++i) {
        const ordered_json& entry = (*chips)[i];
        std::string p = "chips[" + std::to_string(i) + "].";
        Chip& chip = board->chips[i];
        chip.status = static_cast<uint8_t>(in.Number(entry, "status", p, 0xFC));
        chip.wel = in.Flag(entry, "wel", p);
        chip.ewsrLatch = in.Flag(entry, "ewsr", p);
    }
    if (!in.problem.empty()) {
        *error = path + ": " + in.problem + " (delete the state file to power the board on afresh)";
        return false;
    }
    for (unsigned i = 0; i < kLpcDwords; ++i) {
        board->lpc[i] = static_cast<uint32_t>(lpc[i]);
    }
    board->regs = r;
    board->stateLoaded = text;
    return true;
}

}  // namespace spiboard
