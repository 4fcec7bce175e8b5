// Reads a board file (JSON, schema in boards/mem/README.md) into BoardConfig.
// Every key is checked: a misspelt fault switch is an error, not a silently
// healthy board.
#include <cctype>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>

#include "board_internal.h"

namespace memboard {

namespace {

using nlohmann::json;

struct Parser {
    std::string baseDir;
    bool builtIn = false;
    std::string error;

    bool Fail(const std::string& path, const std::string& what) {
        if (error.empty()) {
            error = path + ": " + what;
        }
        return false;
    }

    bool Keys(const json& j, const std::string& path, std::initializer_list<const char*> allowed) {
        if (!j.is_object()) {
            return Fail(path, "must be an object");
        }
        for (auto it = j.begin(); it != j.end(); ++it) {
            bool known = false;
            for (const char* a : allowed) {
                known = known || it.key() == a;
            }
            if (!known) {
                return Fail(path, "unknown key \"" + it.key() + "\"");
            }
        }
        return true;
    }

    // A number, or a string holding a decimal or 0x-prefixed hex number.
    bool Number(const json& j, const std::string& path, uint64_t* out) {
        if (j.is_number_unsigned() || (j.is_number_integer() && j.get<int64_t>() >= 0)) {
            *out = j.get<uint64_t>();
            return true;
        }
        if (j.is_string()) {
            return ParseNumber(j.get<std::string>(), path, out);
        }
        return Fail(path, "must be a non-negative number or a number string");
    }

    bool ParseNumber(const std::string& s, const std::string& path, uint64_t* out) {
        size_t used = 0;
        try {
            *out = std::stoull(s, &used, 0);
        } catch (...) {
            used = 0;
        }
        if (used == 0 || used != s.size() || s[0] == '-') {
            return Fail(path, "\"" + s + "\" is not a number");
        }
        return true;
    }

    template <typename T>
    bool Get(const json& parent, const char* key, const std::string& path, T* out,
             uint64_t max = UINT64_MAX) {
        if (!parent.contains(key)) {
            return true;
        }
        uint64_t v = 0;
        std::string p = path + "." + key;
        if (!Number(parent[key], p, &v)) {
            return false;
        }
        if (v > max) {
            return Fail(p, "must be at most " + std::to_string(max));
        }
        *out = static_cast<T>(v);
        return true;
    }

    bool Flag(const json& parent, const char* key, const std::string& path, bool* out) {
        if (!parent.contains(key)) {
            return true;
        }
        if (!parent[key].is_boolean()) {
            return Fail(path + "." + key, "must be true or false");
        }
        *out = parent[key].get<bool>();
        return true;
    }

    // A time that may be null for "never".
    bool OptionalTime(const json& parent, const char* key, const std::string& path, int64_t* out) {
        if (!parent.contains(key)) {
            return true;
        }
        if (parent[key].is_null() || parent[key] == "never") {
            *out = -1;
            return true;
        }
        uint64_t v = 0;
        if (!Number(parent[key], path + "." + key, &v)) {
            return false;
        }
        *out = static_cast<int64_t>(v);
        return true;
    }

    // A register value: the number of hex digits of a string gives its width
    // in bytes (two per byte); a plain number takes the smallest of 1, 2, 4.
    bool Value(const json& j, const std::string& path, std::vector<uint8_t>* bytes) {
        uint64_t v = 0;
        size_t width = 0;
        if (j.is_string()) {
            std::string s = j.get<std::string>();
            if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
                width = (s.size() - 1) / 2;
            }
        }
        if (!Number(j, path, &v)) {
            return false;
        }
        if (width == 0) {
            width = v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : v <= 0xFFFFFFFFu ? 4 : 8;
        }
        if (width > 8) {
            return Fail(path, "values are at most 8 bytes");
        }
        bytes->clear();
        for (size_t i = 0; i < width; ++i) {
            bytes->push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
        return true;
    }

    bool PciKeyOf(const std::string& s, const std::string& path, uint32_t* key) {
        unsigned bus = 0, dev = 0, fn = 0;
        char c1 = 0, c2 = 0;
        int n = 0;
        if (std::sscanf(s.c_str(), "%x%c%x%c%x%n", &bus, &c1, &dev, &c2, &fn, &n) != 5 ||
            c1 != ':' || c2 != '.' || static_cast<size_t>(n) != s.size() || bus > 255 || dev > 31 ||
            fn > 7) {
            return Fail(path, "\"" + s + "\" is not a PCI function (bus:device.function in hex)");
        }
        *key = bus << 8 | dev << 3 | fn;
        return true;
    }

    bool Inits(const json& j, Where where, uint32_t device, const std::string& path, uint32_t limit,
               std::vector<ByteSpec>* out) {
        if (!j.is_object()) {
            return Fail(path, "must be an object of register: value");
        }
        for (auto it = j.begin(); it != j.end(); ++it) {
            uint64_t offset = 0;
            std::vector<uint8_t> bytes;
            std::string p = path + "." + it.key();
            if (!ParseNumber(it.key(), p, &offset) || !Value(it.value(), p, &bytes)) {
                return false;
            }
            if (offset + bytes.size() > limit) {
                return Fail(p, "lies outside the register block");
            }
            for (size_t i = 0; i < bytes.size(); ++i) {
                out->push_back({where, device, static_cast<uint32_t>(offset + i), bytes[i]});
            }
        }
        return true;
    }

    // {"mc": off} | {"pci": "b:d.f", "reg": off} | {"memory": addr}, with
    // "mask" (default 0xFF) and "bytes" (how many bytes from there, default 1).
    bool Places(const json& j, const std::string& path, std::vector<ByteSpec>* out) {
        if (!j.is_array()) {
            return Fail(path, "must be an array");
        }
        for (size_t i = 0; i < j.size(); ++i) {
            const json& e = j[i];
            std::string p = path + "[" + std::to_string(i) + "]";
            if (!Keys(e, p, {"mc", "pci", "reg", "memory", "mask", "bytes"})) {
                return false;
            }
            ByteSpec s;
            uint64_t at = 0, mask = 0xFF, count = 1;
            if (e.contains("mc")) {
                s.where = Where::Mc;
                if (!Number(e["mc"], p + ".mc", &at)) {
                    return false;
                }
            } else if (e.contains("pci")) {
                s.where = Where::Pci;
                if (!e["pci"].is_string() || !PciKeyOf(e["pci"].get<std::string>(), p, &s.device) ||
                    !e.contains("reg") || !Number(e["reg"], p + ".reg", &at)) {
                    return Fail(p, "a PCI entry needs \"pci\" and \"reg\"");
                }
            } else if (e.contains("memory")) {
                if (!Number(e["memory"], p + ".memory", &at)) {
                    return false;
                }
            } else {
                return Fail(p, "needs \"mc\", \"pci\" or \"memory\"");
            }
            if (!Get(e, "mask", p, &mask, 0xFF) || !Get(e, "bytes", p, &count, 0x4000)) {
                return false;
            }
            for (uint64_t k = 0; k < count; ++k) {
                s.offset = static_cast<uint32_t>(at + k);
                s.value = static_cast<uint8_t>(mask);
                out->push_back(s);
            }
        }
        return true;
    }

    std::string Resolve(const std::string& name) const {
        if (!name.empty() && name[0] == '/') {
            return name;
        }
        return baseDir + "/" + name;
    }

    // Keeps "a/b/../c" from naming a file outside the embedded set.
    static std::string Normalize(const std::string& path) {
        std::vector<std::string> parts;
        size_t start = 0;
        while (start <= path.size()) {
            size_t slash = path.find('/', start);
            std::string part =
                path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            if (part == "..") {
                if (!parts.empty()) {
                    parts.pop_back();
                }
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            if (slash == std::string::npos) {
                break;
            }
            start = slash + 1;
        }
        std::string out;
        for (const std::string& p : parts) {
            out += (out.empty() ? "" : "/") + p;
        }
        return out;
    }

    bool ReadFile(const std::string& name, const std::string& path, std::vector<uint8_t>* data,
                  bool* missing = nullptr) {
        if (builtIn) {
            const std::vector<uint8_t>* f = EmbeddedFile(Normalize(Resolve(name)));
            if (!f) {
                return Fail(path, "no built-in file " + name);
            }
            *data = *f;
            return true;
        }
        std::ifstream in(Resolve(name), std::ios::binary);
        if (!in) {
            if (missing) {
                *missing = true;
                return true;
            }
            return Fail(path, "cannot read " + Resolve(name));
        }
        data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return true;
    }

    // SPD images: binary, or hex text (".hex"/".txt": byte pairs separated by
    // white space, "#" starts a comment).
    bool Spd(const std::string& name, const std::string& path, std::vector<uint8_t>* spd) {
        std::vector<uint8_t> raw;
        if (!ReadFile(name, path, &raw)) {
            return false;
        }
        bool hex = name.size() > 4 && (name.compare(name.size() - 4, 4, ".hex") == 0 ||
                                       name.compare(name.size() - 4, 4, ".txt") == 0);
        spd->clear();
        if (hex) {
            std::string text(raw.begin(), raw.end());
            size_t i = 0;
            while (i < text.size()) {
                char c = text[i];
                if (c == '#') {
                    while (i < text.size() && text[i] != '\n') {
                        ++i;
                    }
                } else if (std::isspace(static_cast<unsigned char>(c))) {
                    ++i;
                } else if (i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(c)) &&
                           std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                           (i + 2 == text.size() ||
                            std::isspace(static_cast<unsigned char>(text[i + 2])))) {
                    spd->push_back(
                        static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
                    i += 2;
                } else {
                    return Fail(path, name + ": not a hex byte at offset " + std::to_string(i));
                }
            }
        } else {
            *spd = raw;
        }
        if (spd->empty() || spd->size() > 512) {
            return Fail(path, name + ": an SPD image has 1 to 512 bytes");
        }
        spd->resize(256, 0xFF);  // the unwritten part of the EEPROM reads erased
        return true;
    }

    bool Dimms(const json& j, BoardConfig* cfg) {
        if (!j.is_array()) {
            return Fail("dimms", "must be an array");
        }
        for (size_t i = 0; i < j.size(); ++i) {
            const json& e = j[i];
            std::string p = "dimms[" + std::to_string(i) + "]";
            unsigned slot = 0;
            if (!Keys(e, p, {"slot", "spd", "ranks", "errors"}) || !e.contains("slot") ||
                !Get(e, "slot", p, &slot, 3)) {
                return Fail(p, "needs a \"slot\" 0..3");
            }
            DimmConfig& d = cfg->dimms[slot];
            if (d.fitted) {
                return Fail(p, "slot " + std::to_string(slot) + " is fitted twice");
            }
            if (!e.contains("spd") || !e["spd"].is_string()) {
                return Fail(p, "needs \"spd\", the SPD image file");
            }
            d.fitted = true;
            d.source = e["spd"].get<std::string>();
            if (!Spd(d.source, p + ".spd", &d.spd)) {
                return false;
            }
            // A DDR2 SPD gives the ranks in byte 5 bits 2:0 and ECC in byte 11.
            d.ranks = d.spd[2] == 8 ? (d.spd[5] & 7) + 1u : 1u;
            d.ecc = d.spd[2] == 8 && (d.spd[11] & 0x02);
            if (!Get(e, "ranks", p, &d.ranks, 2)) {
                return false;
            }
            if (e.contains("errors")) {
                const json& errs = e["errors"];
                if (!errs.is_array()) {
                    return Fail(p + ".errors", "must be an array");
                }
                for (size_t k = 0; k < errs.size(); ++k) {
                    std::string q = p + ".errors[" + std::to_string(k) + "]";
                    const json& x = errs[k];
                    SpdError err;
                    if (!Keys(x, q, {"byte", "status", "times"}) || !x.contains("byte") ||
                        !Get(x, "byte", q, &err.byte, 255) || !Get(x, "times", q, &err.times)) {
                        return Fail(q, "needs \"byte\" 0..255");
                    }
                    if (x.contains("status")) {
                        const json& s = x["status"];
                        if (s == "device") {
                            err.status = 0x04;
                        } else if (s == "bus") {
                            err.status = 0x08;
                        } else if (s == "failed") {
                            err.status = 0x10;
                        } else if (!Get(x, "status", q, &err.status, 0xFF) ||
                                   !(err.status & 0x1C)) {
                            return Fail(q + ".status",
                                        "\"device\", \"bus\", \"failed\" or status bits among 4:2");
                        }
                    }
                    d.errors.push_back(err);
                }
            }
        }
        return true;
    }

    bool Engine(const json& j, EngineConfig* me) {
        const std::string p = "me";
        if (!Keys(j, p,
                  {"hostDepth", "engineDepth", "readyAfterNs", "ackDelayNs", "replyDelayNs",
                   "clearsInterrupt", "togglesStatus", "clientAddress", "replies"}) ||
            !Get(j, "hostDepth", p, &me->hostDepth, 255) ||
            !Get(j, "engineDepth", p, &me->engineDepth, 255) ||
            !OptionalTime(j, "readyAfterNs", p, &me->readyAfterNs) ||
            !Get(j, "ackDelayNs", p, &me->ackDelayNs) ||
            !Get(j, "replyDelayNs", p, &me->replyDelayNs) ||
            !Flag(j, "clearsInterrupt", p, &me->clearsInterrupt) ||
            !Flag(j, "togglesStatus", p, &me->togglesStatus) ||
            !Get(j, "clientAddress", p, &me->clientAddress, 255)) {
            return false;
        }
        if (j.contains("replies")) {
            const json& r = j["replies"];
            if (!r.is_object()) {
                return Fail("me.replies", "must be an object keyed by command byte");
            }
            for (auto it = r.begin(); it != r.end(); ++it) {
                std::string q = "me.replies." + it.key();
                uint64_t command = 0;
                if (!ParseNumber(it.key(), q, &command) || command > 0xFF) {
                    return Fail(q, "keys are command bytes");
                }
                ReplyConfig rc;
                const json& e = it.value();
                if (!Keys(e, q, {"silent", "command", "length", "status"}) ||
                    !Flag(e, "silent", q, &rc.silent) || !Get(e, "command", q, &rc.command, 0xFF) ||
                    !Get(e, "length", q, &rc.length, 511)) {
                    return false;
                }
                if (e.contains("status")) {
                    if (!e["status"].is_array()) {
                        return Fail(q + ".status", "must be an array of bytes");
                    }
                    for (size_t k = 0; k < e["status"].size(); ++k) {
                        uint64_t b = 0;
                        if (!Number(e["status"][k], q + ".status", &b) || b > 0xFF) {
                            return Fail(q + ".status", "must be an array of bytes");
                        }
                        rc.status.push_back(static_cast<uint8_t>(b));
                    }
                } else {
                    rc.status =
                        command == 0x08 ? std::vector<uint8_t>{0, 0} : std::vector<uint8_t>{0};
                }
                me->replies[static_cast<uint8_t>(command)] = rc;
            }
        }
        return true;
    }

    bool Controller(const json& j, BoardConfig* cfg) {
        const std::string p = "controller";
        if (!Keys(j, p,
                  {"maxDdrFreq", "dramReadValue", "completionBits", "phaseSampler", "strobe"}) ||
            !Get(j, "maxDdrFreq", p, &cfg->maxDdrFreq, 7) ||
            !Get(j, "dramReadValue", p, &cfg->dramReadValue, 0xFFFFFFFFu)) {
            return false;
        }
        if (j.contains("completionBits")) {
            const json& a = j["completionBits"];
            if (!a.is_array()) {
                return Fail(p + ".completionBits", "must be an array");
            }
            for (size_t i = 0; i < a.size(); ++i) {
                std::string q = p + ".completionBits[" + std::to_string(i) + "]";
                CompletionBit c;
                if (!Keys(a[i], q, {"mc", "bit", "delayNs", "never", "atReset"}) ||
                    !a[i].contains("mc") || !a[i].contains("bit") ||
                    !Get(a[i], "mc", q, &c.offset, kMcSize - 1) ||
                    !Get(a[i], "bit", q, &c.bit, 7) || !Get(a[i], "delayNs", q, &c.delayNs) ||
                    !Flag(a[i], "never", q, &c.never) || !Flag(a[i], "atReset", q, &c.atReset)) {
                    return Fail(q, "needs \"mc\" and \"bit\"");
                }
                bool replaced = false;
                for (CompletionBit& old : cfg->completions) {
                    if (old.offset == c.offset && old.bit == c.bit) {
                        if (!a[i].contains("delayNs")) {
                            c.delayNs = old.delayNs;
                        }
                        if (!a[i].contains("atReset")) {
                            c.atReset = old.atReset;
                        }
                        old = c;
                        replaced = true;
                    }
                }
                if (!replaced) {
                    cfg->completions.push_back(c);
                }
            }
        }
        if (j.contains("phaseSampler")) {
            const json& s = j["phaseSampler"];
            std::string q = p + ".phaseSampler";
            SamplerConfig& c = cfg->sampler;
            if (!Keys(s, q,
                      {"mode", "offsetPs", "spreadPs", "clockStepPs", "coarsePs", "finePs",
                       "delayNs"}) ||
                !Get(s, "offsetPs", q, &c.offsetPs) || !Get(s, "spreadPs", q, &c.spreadPs) ||
                !Get(s, "clockStepPs", q, &c.clockStepPs) || !Get(s, "coarsePs", q, &c.coarsePs) ||
                !Get(s, "finePs", q, &c.finePs) || !Get(s, "delayNs", q, &c.delayNs)) {
                return false;
            }
            if (s.contains("mode")) {
                const json& m = s["mode"];
                if (m == "model") {
                    c.mode = SamplerMode::Model;
                } else if (m == "ones") {
                    c.mode = SamplerMode::Ones;
                } else if (m == "zeros") {
                    c.mode = SamplerMode::Zeros;
                } else if (m == "mixed") {
                    c.mode = SamplerMode::Mixed;
                } else {
                    return Fail(q + ".mode", "\"model\", \"ones\", \"zeros\" or \"mixed\"");
                }
            }
        }
        if (j.contains("strobe")) {
            const json& s = j["strobe"];
            std::string q = p + ".strobe";
            StrobeConfig& c = cfg->strobe;
            if (!Keys(s, q,
                      {"latencyPs", "laneSkewPs", "fineStepPs", "sampleDelayNs", "lanePs",
                       "windows"}) ||
                !Get(s, "latencyPs", q, &c.latencyPs) || !Get(s, "laneSkewPs", q, &c.laneSkewPs) ||
                !Get(s, "fineStepPs", q, &c.fineStepPs) ||
                !Get(s, "sampleDelayNs", q, &c.sampleDelayNs)) {
                return false;
            }
            for (const char* key : {"lanePs", "windows"}) {
                if (!s.contains(key)) {
                    continue;
                }
                const json& per = s[key];
                std::string r = q + "." + key;
                if (!Keys(per, r, {"A", "B"})) {
                    return false;
                }
                for (unsigned ch = 0; ch < 2; ++ch) {
                    const char* name = ch ? "B" : "A";
                    if (!per.contains(name)) {
                        continue;
                    }
                    const json& lanes = per[name];
                    if (!lanes.is_array() || lanes.size() > kLaneCount) {
                        return Fail(r + "." + name, "must be an array of at most 9 lanes");
                    }
                    for (size_t l = 0; l < lanes.size(); ++l) {
                        std::string t = r + "." + name + "[" + std::to_string(l) + "]";
                        if (std::string(key) == "lanePs") {
                            if (!lanes[l].is_number_integer()) {
                                return Fail(t, "must be a whole number of ps");
                            }
                            c.lanePs[ch][l] = lanes[l].get<int64_t>();
                            continue;
                        }
                        if (!lanes[l].is_array()) {
                            return Fail(t, "must be an array of [from, to] ps");
                        }
                        for (const json& w : lanes[l]) {
                            if (!w.is_array() || w.size() != 2 || !w[0].is_number_integer() ||
                                !w[1].is_number_integer()) {
                                return Fail(t, "must be an array of [from, to] ps");
                            }
                            c.windows[ch][l].emplace_back(w[0].get<int64_t>(), w[1].get<int64_t>());
                        }
                    }
                }
            }
        }
        return true;
    }

    bool Board(const json& j, BoardConfig* cfg) {
        if (!Keys(j, "board",
                  {"name", "description", "hangBudgetMs", "costs", "mc", "pci", "memory",
                   "readOnly", "writeOneToClear", "resetRetains", "dimms", "smbus", "cmos", "tpm",
                   "hpet", "me", "controller", "run"})) {
            return false;
        }
        cfg->name = j.value("name", std::string("unnamed"));
        uint64_t budgetMs = 10000;
        if (!Get(j, "hangBudgetMs", "board", &budgetMs, 1000000000ull)) {
            return false;
        }
        cfg->hangBudgetNs = budgetMs * 1000000ull;
        if (j.contains("costs")) {
            const json& c = j["costs"];
            if (!Keys(c, "costs",
                      {"memReadNs", "memWriteNs", "portReadNs", "portWriteNs", "port61ReadNs"}) ||
                !Get(c, "memReadNs", "costs", &cfg->costs.memReadNs) ||
                !Get(c, "memWriteNs", "costs", &cfg->costs.memWriteNs) ||
                !Get(c, "portReadNs", "costs", &cfg->costs.portReadNs) ||
                !Get(c, "portWriteNs", "costs", &cfg->costs.portWriteNs) ||
                !Get(c, "port61ReadNs", "costs", &cfg->costs.port61ReadNs)) {
                return false;
            }
        }
        for (uint32_t key : {0u << 8 | 0u << 3 | 0u, 0u << 8 | 3u << 3 | 0u,
                             0u << 8 | 31u << 3 | 0u, 0u << 8 | 31u << 3 | 3u}) {
            cfg->pciDevices.insert(key);
        }
        if (j.contains("pci")) {
            const json& p = j["pci"];
            if (!p.is_object()) {
                return Fail("pci", "must be an object keyed by bus:device.function");
            }
            for (auto it = p.begin(); it != p.end(); ++it) {
                uint32_t key = 0;
                if (!PciKeyOf(it.key(), "pci", &key)) {
                    return false;
                }
                if (it.value().is_null() || it.value() == "absent") {
                    cfg->pciDevices.erase(key);  // the function is not there
                    continue;
                }
                cfg->pciDevices.insert(key);
                if (!Inits(it.value(), Where::Pci, key, "pci." + it.key(), 0x1000, &cfg->init)) {
                    return false;
                }
            }
        }
        if (j.contains("mc") && !Inits(j["mc"], Where::Mc, 0, "mc", kMcSize, &cfg->init)) {
            return false;
        }
        if (j.contains("memory")) {
            size_t first = cfg->init.size();
            if (!Inits(j["memory"], Where::Memory, 0, "memory", 0xFFFFFFFFu, &cfg->init)) {
                return false;
            }
            for (size_t i = first; i < cfg->init.size(); ++i) {
                uint32_t a = cfg->init[i].offset;
                bool modelled = (a >= kRcbaBase && a < kRcbaBase + kRcbaSize) ||
                                (a >= kHpetBase && a < kHpetBase + kHpetSize) ||
                                (a >= kTpmBase && a < kTpmBase + kTpmSize) ||
                                (a >= kMcDefaultBase && a < kMcDefaultBase + kMcSize);
                if (!modelled) {
                    char buf[64];
                    std::snprintf(buf, sizeof buf, "0x%08X holds no register that keeps a value",
                                  a);
                    return Fail("memory", buf);
                }
            }
        }
        if (j.contains("readOnly") && !Places(j["readOnly"], "readOnly", &cfg->readOnly)) {
            return false;
        }
        if (j.contains("writeOneToClear") &&
            !Places(j["writeOneToClear"], "writeOneToClear", &cfg->writeOneToClear)) {
            return false;
        }
        if (j.contains("resetRetains")) {
            cfg->retains.clear();
            if (!Places(j["resetRetains"], "resetRetains", &cfg->retains)) {
                return false;
            }
        }
        if (j.contains("dimms") && !Dimms(j["dimms"], cfg)) {
            return false;
        }
        if (j.contains("smbus")) {
            const json& s = j["smbus"];
            if (!Keys(s, "smbus", {"transactionNs", "spuriousZeroReads"}) ||
                !Get(s, "transactionNs", "smbus", &cfg->smbusTransactionNs) ||
                !Get(s, "spuriousZeroReads", "smbus", &cfg->smbusSpuriousZeroReads, 255)) {
                return false;
            }
        }
        if (j.contains("cmos")) {
            const json& c = j["cmos"];
            if (!Keys(c, "cmos", {"file", "bytes"})) {
                return false;
            }
            if (c.contains("bytes")) {
                std::vector<ByteSpec> bytes;
                if (!Inits(c["bytes"], Where::Memory, 0, "cmos.bytes", 256, &bytes)) {
                    return false;
                }
                for (const ByteSpec& b : bytes) {
                    cfg->cmos[b.offset & 0x7F] = b.value;
                }
            }
            if (c.contains("file")) {
                if (!c["file"].is_string() || builtIn) {
                    return Fail("cmos.file", "must be a file name");
                }
                cfg->cmosFile = Resolve(c["file"].get<std::string>());
                std::vector<uint8_t> data;
                bool missing = false;
                if (!ReadFile(c["file"].get<std::string>(), "cmos.file", &data, &missing)) {
                    return false;
                }
                if (!missing) {
                    if (data.size() != 128) {
                        return Fail("cmos.file", "a CMOS file holds 128 bytes");
                    }
                    std::copy(data.begin(), data.end(), cfg->cmos.begin());
                }
            }
        }
        if (j.contains("tpm")) {
            const json& t = j["tpm"];
            if (!Keys(t, "tpm", {"present", "validAfterNs"}) ||
                !Flag(t, "present", "tpm", &cfg->tpmPresent) ||
                !OptionalTime(t, "validAfterNs", "tpm", &cfg->tpmValidAfterNs)) {
                return false;
            }
        }
        if (j.contains("hpet")) {
            const json& h = j["hpet"];
            if (!Keys(h, "hpet", {"counter"}) ||
                !Get(h, "counter", "hpet", &cfg->hpetCounterStart)) {
                return false;
            }
        }
        if (j.contains("me") && !Engine(j["me"], &cfg->engine)) {
            return false;
        }
        if (j.contains("controller") && !Controller(j["controller"], cfg)) {
            return false;
        }
        if (j.contains("run") && !j["run"].is_object()) {
            return Fail("run", "must be an object");
        }
        return true;
    }
};

void DefaultRules(BoardConfig* cfg) {
    const uint32_t lpc = 0 << 8 | 31 << 3 | 0;
    cfg->retains = {
        {Where::Pci, lpc, 0xA2, 0x84},  // initialization in progress; one cut short (sticky)
        {Where::Mc, 0, 0xA0C, 0x1F},    // saved receive-enable result, channel A
        {Where::Mc, 0, 0xA0D, 0x1F},    // and channel B
        {Where::Mc, 0, 0xC20, 0x01},    // revision-0 reset done
        {Where::Mc, 0, 0xF14, 0x03},    // channels whose DRAM state may be kept
        {Where::Mc, 0, 0xA2E, 0xFF},    // the ME's memory share
        {Where::Mc, 0, 0xA30, 0xFF},    // the ME's retained configuration state
        {Where::Mc, 0, 0xA31, 0xFF},   {Where::Mc, 0, 0xA32, 0xFF}, {Where::Mc, 0, 0xA33, 0xFF},
    };
    cfg->completions = {
        {0x130, 0, 2000, false, false},  // register group load
        {0x1A8, 5, 5000, false, true},   // controller busy after reset
    };
}

}  // namespace

bool ParseBoardFile(const std::string& text, const std::string& baseDir, bool builtIn,
                    BoardConfig* cfg, std::string* error) {
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error& e) {
        *error = std::string("not valid JSON: ") + e.what();
        return false;
    }
    *cfg = BoardConfig();
    DefaultRules(cfg);
    Parser p;
    p.baseDir = baseDir;
    p.builtIn = builtIn;
    if (!p.Board(j, cfg)) {
        *error = p.error;
        return false;
    }
    return true;
}

}  // namespace memboard
