// The board file: JSON that describes one board (chips and their part
// models, descriptor, LPC bridge and controller power-on values, costs,
// faults, log). Every problem is reported with the file and the JSON path of
// the offending value, or the line and column of a syntax error; unknown keys
// are errors, so that a misspelt option never goes unnoticed.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <nlohmann/json.hpp>

#include "board_model.h"

namespace spiboard {
namespace {

using nlohmann::json;

std::string Hex(uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof(buffer), "0x%llX", static_cast<unsigned long long>(value));
    return buffer;
}

bool IsPowerOfTwo(uint64_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// Opcodes with a fixed meaning that no part may take as an erase command.
bool IsReservedOpcode(uint8_t opcode) {
    static const uint8_t kReserved[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x50, 0x90, 0x9F, 0xAB};
    for (uint8_t reserved : kReserved) {
        if (opcode == reserved) {
            return true;
        }
    }
    return false;
}

class Reader {
  public:
    explicit Reader(const std::string& source) : source_(source) {}

    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

    bool Fail(const std::string& path, const std::string& reason) {
        if (error_.empty()) {
            error_ = source_ + ": " + (path.empty() ? "(top level)" : path) + ": " + reason;
        }
        return false;
    }

    bool Object(const json& value, const std::string& path,
                std::initializer_list<const char*> allowed) {
        if (!value.is_object()) {
            return Fail(path, "must be an object");
        }
        for (auto it = value.begin(); it != value.end(); ++it) {
            bool known = false;
            for (const char* key : allowed) {
                known = known || it.key() == key;
            }
            if (!known) {
                return Fail(Join(path, it.key()), "unknown key");
            }
        }
        return true;
    }

    static std::string Join(const std::string& path, const std::string& key) {
        return path.empty() ? key : path + "." + key;
    }
    static std::string Index(const std::string& path, size_t i) {
        return path + "[" + std::to_string(i) + "]";
    }

    bool Number(const json& value, const std::string& path, uint64_t min, uint64_t max,
                uint64_t* out) {
        uint64_t number = 0;
        if (value.is_number_unsigned()) {
            number = value.get<uint64_t>();
        } else if (value.is_string()) {
            if (!ParseNumberText(value.get<std::string>(), &number)) {
                return Fail(path, "\"" + value.get<std::string>() +
                                      "\" is not a number (decimal, or hex with 0x)");
            }
        } else {
            return Fail(path, "must be a number (or a string such as \"0x1F\")");
        }
        if (number < min || number > max) {
            return Fail(path, Hex(number) + " is outside " + Hex(min) + " to " + Hex(max));
        }
        *out = number;
        return true;
    }

    template <typename T>
    bool Field(const json& object, const char* key, const std::string& path, uint64_t min,
               uint64_t max, T* out) {
        if (!object.contains(key)) {
            return true;
        }
        uint64_t number = 0;
        if (!Number(object[key], Join(path, key), min, max, &number)) {
            return false;
        }
        *out = static_cast<T>(number);
        return true;
    }

    // A duration as a plain JSON number in the given unit; stored in ns.
    bool Time(const json& object, const char* key, const std::string& path, double unitNs,
              uint64_t* outNs) {
        if (!object.contains(key)) {
            return true;
        }
        const json& value = object[key];
        if (!value.is_number() || value.get<double>() < 0 || value.get<double>() > 1e7) {
            return Fail(Join(path, key), "must be a number from 0 to 10000000");
        }
        *outNs = static_cast<uint64_t>(std::llround(value.get<double>() * unitNs));
        return true;
    }

    bool Flag(const json& object, const char* key, const std::string& path, bool* out) {
        if (!object.contains(key)) {
            return true;
        }
        if (!object[key].is_boolean()) {
            return Fail(Join(path, key), "must be true or false");
        }
        *out = object[key].get<bool>();
        return true;
    }

    bool Text(const json& object, const char* key, const std::string& path, std::string* out) {
        if (!object.contains(key)) {
            return true;
        }
        if (!object[key].is_string() || object[key].get<std::string>().empty()) {
            return Fail(Join(path, key), "must be a non-empty string");
        }
        *out = object[key].get<std::string>();
        return true;
    }

    bool Choice(const json& object, const char* key, const std::string& path,
                std::initializer_list<const char*> choices, int* out) {
        if (!object.contains(key)) {
            return true;
        }
        std::string list;
        int index = 0;
        for (const char* choice : choices) {
            if (object[key].is_string() && object[key].get<std::string>() == choice) {
                *out = index;
                return true;
            }
            list += std::string(list.empty() ? "" : ", ") + "\"" + choice + "\"";
            ++index;
        }
        return Fail(Join(path, key), "must be one of " + list);
    }

    bool Bytes(const json& value, const std::string& path, size_t minCount, size_t maxCount,
               uint8_t* out, size_t* count) {
        if (!value.is_array() || value.size() < minCount || value.size() > maxCount) {
            return Fail(path, "must be a list of " + std::to_string(minCount) + " to " +
                                  std::to_string(maxCount) + " byte values");
        }
        for (size_t i = 0; i < value.size(); ++i) {
            uint64_t byte = 0;
            if (!Number(value[i], Index(path, i), 0, 0xFF, &byte)) {
                return false;
            }
            out[i] = static_cast<uint8_t>(byte);
        }
        *count = value.size();
        return true;
    }

  private:
    std::string source_;
    std::string error_;
};

bool ReadId(Reader& in, const json& part, const char* key, const std::string& path, IdAnswer* id) {
    if (!part.contains(key)) {
        return true;
    }
    const json& value = part[key];
    *id = IdAnswer();
    if (value.is_null()) {
        return true;  // the part does not answer this opcode
    }
    size_t count = 0;
    if (!in.Bytes(value, Reader::Join(path, key), 1, 4, id->bytes, &count)) {
        return false;
    }
    id->supported = true;
    id->length = static_cast<uint8_t>(count);
    return true;
}

bool ReadStatusModel(Reader& in, const json& status, const std::string& path, PartModel* part) {
    if (!in.Object(
            status, path,
            {"protect_mask", "writable_mask", "power_on", "initial", "write_enable", "write_ms"})) {
        return false;
    }
    if (!in.Field(status, "protect_mask", path, 0, 0xFC, &part->protectMask) ||
        !in.Field(status, "writable_mask", path, 0, 0xFC, &part->writableMask) ||
        !in.Field(status, "initial", path, 0, 0xFC, &part->statusInitial) ||
        !in.Time(status, "write_ms", path, 1e6, &part->writeStatusNs)) {
        return false;
    }
    if (part->protectMask != 0) {
        uint8_t mask = part->protectMask;
        while ((mask & 1) == 0) {
            mask >>= 1;
        }
        if ((mask & (mask + 1)) != 0) {
            return in.Fail(Reader::Join(path, "protect_mask"), "must be one run of bits");
        }
    }
    if (status.contains("power_on")) {
        if (status["power_on"].is_null()) {
            part->statusVolatile = false;
        } else if (in.Field(status, "power_on", path, 0, 0xFC, &part->statusPowerOn)) {
            part->statusVolatile = true;
        } else {
            return false;
        }
    }
    int enable = static_cast<int>(part->statusEnable);
    if (!in.Choice(status, "write_enable", path, {"wren", "ewsr", "either"}, &enable)) {
        return false;
    }
    part->statusEnable = static_cast<StatusEnable>(enable);
    return true;
}

bool ReadPart(Reader& in, const json& value, const std::string& path, PartModel* part) {
    if (value.is_string()) {
        if (!FindPartModel(value.get<std::string>(), part)) {
            return in.Fail(path, "unknown part model \"" + value.get<std::string>() +
                                     "\" (built in: " + KnownPartNames() + ")");
        }
        return true;
    }
    if (!in.Object(value, path,
                   {"base", "name", "jedec_id", "id_90", "id_ab", "size", "page_size", "erase",
                    "chip_erase", "program_page_us", "program_byte_us", "status"})) {
        return false;
    }
    bool based = value.contains("base");
    if (based) {
        if (!value["base"].is_string() || !FindPartModel(value["base"].get<std::string>(), part)) {
            return in.Fail(Reader::Join(path, "base"),
                           "must name a built-in part model (" + KnownPartNames() + ")");
        }
    } else {
        *part = PartModel();
        for (const char* key : {"name", "size", "page_size", "program_page_us"}) {
            if (!value.contains(key)) {
                return in.Fail(Reader::Join(path, key), "missing (needed without \"base\")");
            }
        }
        part->programByteNs = 0;
    }
    if (!in.Text(value, "name", path, &part->name) ||
        !ReadId(in, value, "jedec_id", path, &part->id9F) ||
        !ReadId(in, value, "id_90", path, &part->id90) ||
        !ReadId(in, value, "id_ab", path, &part->idAB) ||
        !in.Field(value, "size", path, 0x10000, 0x1000000, &part->size) ||
        !in.Field(value, "page_size", path, 1, 256, &part->pageSize) ||
        !in.Time(value, "program_page_us", path, 1e3, &part->programPageNs) ||
        !in.Time(value, "program_byte_us", path, 1e3, &part->programByteNs)) {
        return false;
    }
    if (!IsPowerOfTwo(part->size)) {
        return in.Fail(Reader::Join(path, "size"), "must be a power of two");
    }
    if (!IsPowerOfTwo(part->pageSize)) {
        return in.Fail(Reader::Join(path, "page_size"), "must be a power of two");
    }
    if (!value.contains("program_byte_us") && (!based || value.contains("program_page_us"))) {
        part->programByteNs = part->pageSize == 1 ? part->programPageNs
                                                  : std::min<uint64_t>(30000, part->programPageNs);
    }
    if (value.contains("erase")) {
        const json& erases = value["erase"];
        std::string erasePath = Reader::Join(path, "erase");
        if (!erases.is_array() || erases.size() > kMaxEraseCommands) {
            return in.Fail(erasePath, "must be a list of at most 4 erase commands");
        }
        part->eraseCount = 0;
        for (size_t i = 0; i < erases.size(); ++i) {
            std::string p = Reader::Index(erasePath, i);
            EraseCommand& erase = part->erases[i];
            erase = EraseCommand();
            if (!in.Object(erases[i], p, {"opcode", "size", "time_ms"})) {
                return false;
            }
            if (!erases[i].contains("opcode") || !erases[i].contains("size")) {
                return in.Fail(p, "needs \"opcode\" and \"size\"");
            }
            if (!in.Field(erases[i], "opcode", p, 0, 0xFF, &erase.opcode) ||
                !in.Field(erases[i], "size", p, 256, part->size, &erase.size) ||
                !in.Time(erases[i], "time_ms", p, 1e6, &erase.busyNs)) {
                return false;
            }
            if (!IsPowerOfTwo(erase.size)) {
                return in.Fail(Reader::Join(p, "size"), "must be a power of two");
            }
            if (IsReservedOpcode(erase.opcode)) {
                return in.Fail(Reader::Join(p, "opcode"),
                               Hex(erase.opcode) + " is a command of its own, not an erase");
            }
            part->eraseCount = static_cast<unsigned>(i + 1);
        }
    }
    if (value.contains("chip_erase")) {
        const json& chip = value["chip_erase"];
        std::string p = Reader::Join(path, "chip_erase");
        if (!in.Object(chip, p, {"opcodes", "time_ms"})) {
            return false;
        }
        if (chip.contains("opcodes")) {
            size_t count = 0;
            if (!chip["opcodes"].is_array() || chip["opcodes"].empty()) {
                part->chipEraseCount = 0;
            } else if (in.Bytes(chip["opcodes"], Reader::Join(p, "opcodes"), 1,
                                kMaxChipEraseOpcodes, part->chipEraseOpcodes, &count)) {
                part->chipEraseCount = static_cast<unsigned>(count);
            } else {
                return false;
            }
            for (unsigned i = 0; i < part->chipEraseCount; ++i) {
                if (IsReservedOpcode(part->chipEraseOpcodes[i])) {
                    return in.Fail(
                        Reader::Join(p, "opcodes"),
                        Hex(part->chipEraseOpcodes[i]) + " is a command of its own, not an erase");
                }
            }
        }
        if (!in.Time(chip, "time_ms", p, 1e6, &part->chipEraseNs)) {
            return false;
        }
    }
    if (value.contains("status") &&
        !ReadStatusModel(in, value["status"], Reader::Join(path, "status"), part)) {
        return false;
    }
    return true;
}

std::string Resolve(const std::string& folder, const std::string& name) {
    bool absolute =
        !name.empty() && (name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':'));
    if (absolute || folder.empty()) {
        return name;
    }
    return folder + "/" + name;
}

bool ReadChips(Reader& in, const json& root, const std::string& folder, const std::string& stem,
               BoardConfig* config) {
    if (!root.contains("chips")) {
        return in.Fail("chips", "missing (one or two flash chips)");
    }
    const json& chips = root["chips"];
    if (!chips.is_array() || chips.empty() || chips.size() > kMaxChips) {
        return in.Fail("chips", "must be a list of one or two flash chips");
    }
    config->chipCount = static_cast<unsigned>(chips.size());
    for (size_t i = 0; i < chips.size(); ++i) {
        std::string path = Reader::Index("chips", i);
        ChipConfig& chip = config->chips[i];
        const json& entry = chips[i];
        if (!in.Object(entry, path, {"part", "image", "silent_read_id", "write_status_fault"})) {
            return false;
        }
        if (!entry.contains("part")) {
            return in.Fail(Reader::Join(path, "part"), "missing");
        }
        if (!ReadPart(in, entry["part"], Reader::Join(path, "part"), &chip.part)) {
            return false;
        }
        std::string image = stem + "-cs" + std::to_string(i) + ".bin";
        if (!in.Text(entry, "image", path, &image)) {
            return false;
        }
        chip.imagePath = Resolve(folder, image);
        if (entry.contains("silent_read_id")) {
            uint8_t opcodes[3] = {};
            size_t count = 0;
            std::string p = Reader::Join(path, "silent_read_id");
            if (!in.Bytes(entry["silent_read_id"], p, 0, 3, opcodes, &count)) {
                return false;
            }
            for (size_t k = 0; k < count; ++k) {
                uint8_t bit = opcodes[k] == 0x9F   ? 1
                              : opcodes[k] == 0x90 ? 2
                              : opcodes[k] == 0xAB ? 4
                                                   : 0;
                if (bit == 0) {
                    return in.Fail(Reader::Index(p, k), "must be 0x9F, 0x90 or 0xAB");
                }
                chip.silentIdMask |= bit;
            }
        }
        int fault = 0;
        if (!in.Choice(entry, "write_status_fault", path, {"none", "ignore", "fcerr"}, &fault)) {
            return false;
        }
        chip.writeStatusFault = static_cast<WriteStatusFault>(fault);
    }
    if (config->chipCount == 2 && config->chips[0].imagePath == config->chips[1].imagePath) {
        return in.Fail("chips[1].image", "the two chips need image files of their own");
    }
    return true;
}

bool DensityCode(uint32_t size, uint8_t* code) {
    for (unsigned c = 0; c <= 5; ++c) {
        if (DensityBytes(c) == size) {
            *code = static_cast<uint8_t>(c);
            return true;
        }
    }
    return false;
}

bool ReadDescriptor(Reader& in, const json& root, BoardConfig* config) {
    DescriptorConfig& d = config->descriptor;
    d = DescriptorConfig();
    if (!root.contains("descriptor") || root["descriptor"].is_null()) {
        return true;
    }
    const json& value = root["descriptor"];
    const std::string path = "descriptor";
    if (!in.Object(value, path, {"components", "densities", "regions", "masters", "layout"})) {
        return false;
    }
    d.present = true;
    d.components = config->chipCount;
    if (!in.Field(value, "components", path, 1, 2, &d.components)) {
        return false;
    }
    if (value.contains("densities")) {
        size_t count = 0;
        if (!in.Bytes(value["densities"], Reader::Join(path, "densities"), d.components,
                      d.components, d.densities, &count)) {
            return false;
        }
        for (size_t i = 0; i < count; ++i) {
            if (d.densities[i] > 7) {
                return in.Fail(Reader::Index(Reader::Join(path, "densities"), i),
                               "must be a density code from 0 to 7");
            }
        }
    } else {
        for (unsigned i = 0; i < d.components; ++i) {
            uint32_t size =
                i < config->chipCount ? config->chips[i].part.size : config->chips[0].part.size;
            if (!DensityCode(size, &d.densities[i])) {
                return in.Fail(Reader::Join(path, "densities"),
                               "needed: chip " + std::to_string(i) +
                                   " has no descriptor density code for its size");
            }
        }
    }
    uint64_t total = 0;
    for (unsigned i = 0; i < d.components; ++i) {
        total += DensityBytes(d.densities[i]);
    }
    if (value.contains("layout")) {
        const json& layout = value["layout"];
        std::string p = Reader::Join(path, "layout");
        if (!in.Object(layout, p, {"component_base", "region_base", "master_base"})) {
            return false;
        }
        uint32_t bases[3] = {d.componentBase * 16u, d.regionBase * 16u, d.masterBase * 16u};
        if (!in.Field(layout, "component_base", p, 0x10, 0xFF0, &bases[0]) ||
            !in.Field(layout, "region_base", p, 0x10, 0xFF0, &bases[1]) ||
            !in.Field(layout, "master_base", p, 0x10, 0xFF0, &bases[2])) {
            return false;
        }
        for (uint32_t base : bases) {
            if (base % 16 != 0) {
                return in.Fail(p, "section bases must be multiples of 16");
            }
        }
        d.componentBase = static_cast<uint8_t>(bases[0] / 16);
        d.regionBase = static_cast<uint8_t>(bases[1] / 16);
        d.masterBase = static_cast<uint8_t>(bases[2] / 16);
        // Sections: component word 4 bytes, regions 16, masters 12.
        uint32_t ends[3] = {bases[0] + 4, bases[1] + 16, bases[2] + 12};
        for (unsigned a = 0; a < 3; ++a) {
            for (unsigned b = a + 1; b < 3; ++b) {
                if (bases[a] < ends[b] && bases[b] < ends[a]) {
                    return in.Fail(p, "the sections overlap");
                }
            }
        }
    }
    static const char* const kRegionNames[4] = {"descriptor", "bios", "me", "gbe"};
    if (value.contains("regions")) {
        const json& regions = value["regions"];
        std::string p = Reader::Join(path, "regions");
        if (!in.Object(regions, p, {"descriptor", "bios", "me", "gbe"})) {
            return false;
        }
        for (unsigned r = 0; r < 4; ++r) {
            if (!regions.contains(kRegionNames[r]) || regions[kRegionNames[r]].is_null()) {
                continue;
            }
            std::string rp = Reader::Join(p, kRegionNames[r]);
            const json& region = regions[kRegionNames[r]];
            if (!in.Object(region, rp, {"base", "limit"})) {
                return false;
            }
            if (!region.contains("base") || !region.contains("limit")) {
                return in.Fail(rp, "needs \"base\" and \"limit\" (the region's last byte)");
            }
            RegionConfig& out = d.regions[r];
            if (!in.Field(region, "base", rp, 0, 0xFFFFFFFF, &out.base) ||
                !in.Field(region, "limit", rp, 0, 0xFFFFFFFF, &out.limit)) {
                return false;
            }
            if (out.base % 4096 != 0 || (out.limit + 1) % 4096 != 0 || out.limit < out.base) {
                return in.Fail(rp,
                               "base must be a multiple of 4096 and limit the last byte of a "
                               "4 KB unit at or above it");
            }
            if (out.limit >= total) {
                return in.Fail(rp, "ends beyond the flash (" + Hex(total) + " bytes)");
            }
            out.present = true;
        }
    } else {
        uint32_t half = static_cast<uint32_t>(total / 2);
        d.regions[0] = {true, 0, 0xFFF};
        d.regions[2] = {true, 0x1000, half - 1};
        d.regions[1] = {true, half, static_cast<uint32_t>(total - 1)};
    }
    for (unsigned a = 0; a < 4; ++a) {
        for (unsigned b = a + 1; b < 4; ++b) {
            const RegionConfig& x = d.regions[a];
            const RegionConfig& y = d.regions[b];
            if (x.present && y.present && x.base <= y.limit && y.base <= x.limit) {
                return in.Fail(
                    Reader::Join(path, "regions"),
                    std::string(kRegionNames[a]) + " and " + kRegionNames[b] + " overlap");
            }
        }
    }
    d.masters[0] = {0x0000, 0x0B, 0x0A};
    d.masters[1] = {0x0000, 0x0D, 0x0D};
    d.masters[2] = {0x0118, 0x08, 0x08};
    if (value.contains("masters")) {
        static const char* const kMasterNames[3] = {"cpu", "me", "gbe"};
        const json& masters = value["masters"];
        std::string p = Reader::Join(path, "masters");
        if (!in.Object(masters, p, {"cpu", "me", "gbe"})) {
            return false;
        }
        for (unsigned m = 0; m < 3; ++m) {
            if (!masters.contains(kMasterNames[m])) {
                continue;
            }
            std::string mp = Reader::Join(p, kMasterNames[m]);
            const json& master = masters[kMasterNames[m]];
            if (!in.Object(master, mp, {"id", "read", "write"}) ||
                !in.Field(master, "id", mp, 0, 0xFFFF, &d.masters[m].id) ||
                !in.Field(master, "read", mp, 0, 0xFF, &d.masters[m].read) ||
                !in.Field(master, "write", mp, 0, 0xFF, &d.masters[m].write)) {
                return false;
            }
        }
    }
    if (config->chips[0].part.size < 4096) {
        return in.Fail(path, "the first chip is too small for a descriptor");
    }
    return true;
}

bool ReadLpc(Reader& in, const json& root, BoardConfig* config) {
    uint32_t* lpc = config->lpcPowerOn;
    lpc[kLpcIdReg / 4] = 0x0F311E5Au;
    lpc[kLpcClassReg / 4] = 0x06010002u;  // ISA bridge, revision 2
    lpc[kLpcRcbaReg / 4] = 0xFED1C001u;
    lpc[kLpcBiosControlReg / 4] = 0;
    if (!root.contains("lpc")) {
        return true;
    }
    const json& value = root["lpc"];
    const std::string path = "lpc";
    if (!in.Object(
            value, path,
            {"rcba", "bios_control", "bios_control_writable", "bios_write_enable", "config"})) {
        return false;
    }
    if (!in.Field(value, "rcba", path, 0, 0xFFFFFFFF, &lpc[kLpcRcbaReg / 4]) ||
        !in.Field(value, "bios_control", path, 0, 0xFFFFFFFF, &lpc[kLpcBiosControlReg / 4]) ||
        !in.Field(value, "bios_control_writable", path, 0, 0xFFFFFFFF,
                  &config->biosControlWritable)) {
        return false;
    }
    lpc[kLpcRcbaReg / 4] &= kRcbaWritable;
    int refused = 0;
    if (!in.Choice(value, "bios_write_enable", path, {"allowed", "refused"}, &refused)) {
        return false;
    }
    config->biosWriteEnableRefused = refused == 1;
    if (config->biosWriteEnableRefused) {
        lpc[kLpcBiosControlReg / 4] &= ~kBiosWriteEnable;
    }
    if (value.contains("config")) {
        const json& registers = value["config"];
        std::string p = Reader::Join(path, "config");
        if (!registers.is_object()) {
            return in.Fail(p, "must be an object of \"0xNN\": value pairs");
        }
        for (auto it = registers.begin(); it != registers.end(); ++it) {
            uint64_t offset = 0;
            std::string rp = Reader::Join(p, it.key());
            if (!ParseNumberText(it.key(), &offset) || offset > 0xFC || offset % 4 != 0) {
                return in.Fail(rp, "the key must be a dword register offset from 0x00 to 0xFC");
            }
            if (offset == kLpcRcbaReg || offset == kLpcBiosControlReg) {
                return in.Fail(rp, "set this register with \"rcba\" or \"bios_control\"");
            }
            uint64_t number = 0;
            if (!in.Number(it.value(), rp, 0, 0xFFFFFFFF, &number)) {
                return false;
            }
            lpc[offset / 4] = static_cast<uint32_t>(number);
        }
    }
    return true;
}

bool ReadController(Reader& in, const json& root, BoardConfig* config) {
    if (!root.contains("controller")) {
        return true;
    }
    const json& value = root["controller"];
    const std::string path = "controller";
    if (!in.Object(value, path,
                   {"locked", "fdopss", "opmenu", "optype", "preop", "vscc", "fast_forward"})) {
        return false;
    }
    size_t count = 0;
    if (!in.Flag(value, "locked", path, &config->lockedAtPowerOn) ||
        !in.Flag(value, "fdopss", path, &config->fdopss) ||
        !in.Flag(value, "fast_forward", path, &config->fastForward) ||
        !in.Field(value, "optype", path, 0, 0xFFFF, &config->optype) ||
        !in.Field(value, "vscc", path, 0, 0xFFFFFFFF, &config->vscc) ||
        (value.contains("opmenu") &&
         !in.Bytes(value["opmenu"], Reader::Join(path, "opmenu"), 8, 8, config->opmenu, &count)) ||
        (value.contains("preop") &&
         !in.Bytes(value["preop"], Reader::Join(path, "preop"), 2, 2, config->preop, &count))) {
        return false;
    }
    return true;
}

bool ReadCosts(Reader& in, const json& root, BoardConfig* config) {
    if (root.contains("spi_clock_mhz")) {
        const json& clock = root["spi_clock_mhz"];
        if (!clock.is_number() || clock.get<double>() < 0.1 || clock.get<double>() > 200) {
            return in.Fail("spi_clock_mhz", "must be a number from 0.1 to 200");
        }
        config->spiPsPerBit = static_cast<uint32_t>(std::llround(1e6 / clock.get<double>()));
    }
    if (root.contains("bus_cost_ns")) {
        const json& costs = root["bus_cost_ns"];
        if (!in.Object(costs, "bus_cost_ns", {"read", "write"}) ||
            !in.Time(costs, "read", "bus_cost_ns", 1, &config->readCostNs) ||
            !in.Time(costs, "write", "bus_cost_ns", 1, &config->writeCostNs)) {
            return false;
        }
    }
    return true;
}

bool ReadCount(Reader& in, const json& object, const std::string& path, uint32_t* count) {
    if (!object.contains("count")) {
        return true;
    }
    if (object["count"].is_string() && object["count"].get<std::string>() == "all") {
        *count = 0;
        return true;
    }
    return in.Field(object, "count", path, 1, 0xFFFFFFFF, count);
}

bool ReadFaults(Reader& in, const json& root, BoardConfig* config) {
    if (!root.contains("faults")) {
        return true;
    }
    const json& value = root["faults"];
    const std::string path = "faults";
    if (!in.Object(value, path, {"scip_stuck", "cycles", "library"})) {
        return false;
    }
    if (value.contains("scip_stuck")) {
        const json& stuck = value["scip_stuck"];
        std::string p = Reader::Join(path, "scip_stuck");
        if (stuck.is_boolean()) {
            config->scipStuck = stuck.get<bool>();
        } else if (in.Object(stuck, p, {"after_cycles"}) &&
                   in.Field(stuck, "after_cycles", p, 0, 0xFFFFFFFF, &config->scipStuckAfter)) {
            config->scipStuck = true;
        } else {
            return false;
        }
    }
    if (value.contains("cycles")) {
        const json& faults = value["cycles"];
        std::string p = Reader::Join(path, "cycles");
        if (!faults.is_array()) {
            return in.Fail(p, "must be a list of cycle faults");
        }
        for (size_t i = 0; i < faults.size(); ++i) {
            std::string fp = Reader::Index(p, i);
            const json& entry = faults[i];
            CycleFault fault;
            int kind = 0, seq = 0, error = 0;
            if (!in.Object(entry, fp, {"kind", "sequencing", "nth", "count", "error"}) ||
                !in.Choice(entry, "kind", fp,
                           {"any", "read", "program", "erase", "readid", "writestatus"}, &kind) ||
                !in.Choice(entry, "sequencing", fp, {"any", "software", "hardware"}, &seq) ||
                !in.Choice(entry, "error", fp, {"FCERR", "AEL"}, &error) ||
                !in.Field(entry, "nth", fp, 1, 0xFFFFFFFF, &fault.nth) ||
                !ReadCount(in, entry, fp, &fault.count)) {
                return false;
            }
            fault.kind = static_cast<KindSelect>(kind);
            fault.seq = static_cast<SeqSelect>(seq);
            fault.ael = error == 1;
            config->cycleFaults.push_back(fault);
        }
    }
    if (value.contains("library")) {
        const json& library = value["library"];
        std::string p = Reader::Join(path, "library");
        static const char* const kCalls[3] = {"init", "pci", "map_phys"};
        if (!in.Object(library, p, {"init", "pci", "map_phys"})) {
            return false;
        }
        for (unsigned c = 0; c < 3; ++c) {
            if (!library.contains(kCalls[c])) {
                continue;
            }
            std::string cp = Reader::Join(p, kCalls[c]);
            const json& entry = library[kCalls[c]];
            CallFault& fault = config->callFaults[c];
            if (!in.Object(entry, cp, {"error", "nth", "count"}) ||
                !in.Text(entry, "error", cp, &fault.error) ||
                !in.Field(entry, "nth", cp, 1, 0xFFFFFFFF, &fault.nth) ||
                !ReadCount(in, entry, cp, &fault.count)) {
                return false;
            }
            if (fault.error.empty()) {
                return in.Fail(Reader::Join(cp, "error"), "missing (the library's error text)");
            }
            fault.set = true;
        }
    }
    return true;
}

bool ReadLog(Reader& in, const json& root, const std::string& folder, BoardConfig* config) {
    if (!root.contains("log")) {
        return true;
    }
    const json& value = root["log"];
    if (!in.Object(value, "log", {"file", "cycles", "append", "limit"})) {
        return false;
    }
    std::string file;
    if (!in.Text(value, "file", "log", &file) ||
        !in.Flag(value, "cycles", "log", &config->logCycles) ||
        !in.Flag(value, "append", "log", &config->logAppend) ||
        !in.Field(value, "limit", "log", 0, 100000000, &config->logLimit)) {
        return false;
    }
    if (!file.empty()) {
        config->logPath = Resolve(folder, file);
    }
    return true;
}

}  // namespace

bool ParseNumberText(const std::string& text, uint64_t* value) {
    if (text.empty()) {
        return false;
    }
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (hex ? 2 : 0);
    if (*digits == '\0' || *digits == '-' || *digits == '+' || *digits == ' ') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long number = std::strtoull(digits, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *value = number;
    return true;
}

std::string SyntaxErrorText(const std::string& file, const std::string& text, size_t offset,
                            const std::string& what) {
    size_t line = 1, column = 1;
    size_t stop = offset > 0 ? offset - 1 : 0;  // the byte that was read last
    for (size_t i = 0; i < stop && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    std::string reason = what;
    size_t at = reason.find("syntax error");
    if (at != std::string::npos) {
        reason = reason.substr(at);
    }
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + reason;
}

bool ParseBoardFile(const std::string& text, const std::string& sourceName,
                    const std::string& folder, const std::string& stem, BoardConfig* config,
                    std::string* error) {
    json root;
    try {
        root = json::parse(text, nullptr, true, true);
    } catch (const json::parse_error& e) {
        *error = SyntaxErrorText(sourceName, text, e.byte, e.what());
        return false;
    }
    Reader in(sourceName);
    *config = BoardConfig();
    config->sourceName = sourceName;
    config->name = stem;
    std::string state = stem + "-state.json";
    bool ok = in.Object(root, "",
                        {"name", "description", "chips", "descriptor", "state_file",
                         "spi_clock_mhz", "lpc", "controller", "bus_cost_ns", "faults", "log"}) &&
              in.Text(root, "name", "", &config->name) &&
              (!root.contains("description") || root["description"].is_string() ||
               in.Fail("description", "must be a string")) &&
              ReadChips(in, root, folder, stem, config) && ReadDescriptor(in, root, config) &&
              in.Text(root, "state_file", "", &state) && ReadLpc(in, root, config) &&
              ReadController(in, root, config) && ReadCosts(in, root, config) &&
              ReadFaults(in, root, config) && ReadLog(in, root, folder, config);
    if (!ok) {
        *error = in.Failed() ? in.Error() : sourceName + ": invalid board file";
        return false;
    }
    config->statePath = Resolve(folder, state);
    return true;
}

}  // namespace spiboard
