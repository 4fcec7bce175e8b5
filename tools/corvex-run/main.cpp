// corvex-run: boots corvex on a virtual memory board and prints a JSON report
// of each boot (schema in tools/corvex-run/README.md): the host build, or with
// --image the freestanding image under emulation (tools/image-run).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mem_board.h"
#include "tools/harness/harness.h"
#include "tools/image-run/image_run.h"

namespace {

using nlohmann::json;

const char* const kUsage =
    "usage: corvex-run [options] [BOARD.json]\n"
    "Boots corvex on the virtual memory board BOARD.json (the built-in default\n"
    "board without one) and prints a JSON report of each boot.\n"
    "\n"
    "  --boots N            run N boots on the board, each after a platform reset\n"
    "  --boot-mode M[,M..]  boot mode of each boot (the last one repeats); 1 restores\n"
    "                       the configuration from CMOS\n"
    "  --ddr-freq N         ddrFreqOverride (0 automatic)\n"
    "  --cas N              casOverride\n"
    "  --trcd N             tRcdOverride\n"
    "  --trp N              tRpOverride\n"
    "  --tras N             tRasOverride\n"
    "  --gfx-mb N           gfxMemMb\n"
    "  --gtt-mb N           gttMemMb\n"
    "  --mmio-mb N          mmioSizeMb (0 selects the default memory map)\n"
    "  --trace FILE         write every access in order to FILE (- for stderr)\n"
    "  --cmos FILE          keep CMOS bank 2 in FILE across runs (128 bytes)\n"
    "  --hang-budget-ms N   virtual time after which a boot counts as hung\n"
    "  --image FILE         boot the freestanding image FILE (corvex.bin) under\n"
    "                       emulation instead of the host build\n"
    "  --help               show this text\n";

struct RunSettings {
    unsigned boots = 1;
    std::vector<unsigned> bootModes{0};
    MemInitInput input{};
    std::string trace;
    std::string cmosFile;
    std::string image;
    long long hangBudgetMs = -1;
};

bool ParseUnsigned(const std::string& text, unsigned long long max, unsigned long long* out) {
    if (text.empty() || text[0] == '-') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) {
        return false;
    }
    *out = v;
    return true;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "corvex-run: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

// The "run" section of a board file: the same settings as the options, which
// take precedence.
bool ApplyRunSection(const json& run, RunSettings* s, std::string* error) {
    struct Field {
        const char* key;
        unsigned long long max;
        void (*set)(RunSettings*, unsigned long long);
    };
    static const Field fields[] = {
        {"boots", 1000, [](RunSettings* r, unsigned long long v) { r->boots = unsigned(v); }},
        {"bootMode", 255,
         [](RunSettings* r, unsigned long long v) { r->bootModes = {unsigned(v)}; }},
        {"gfxMemMb", 0xFFFF,
         [](RunSettings* r, unsigned long long v) { r->input.gfxMemMb = u16(v); }},
        {"gttMemMb", 0xFFFF,
         [](RunSettings* r, unsigned long long v) { r->input.gttMemMb = u16(v); }},
        {"mmioSizeMb", 0xFFFFFFFF,
         [](RunSettings* r, unsigned long long v) { r->input.mmioSizeMb = u32(v); }},
        {"ddrFreqOverride", 255,
         [](RunSettings* r, unsigned long long v) { r->input.ddrFreqOverride = u8(v); }},
        {"casOverride", 255,
         [](RunSettings* r, unsigned long long v) { r->input.casOverride = u8(v); }},
        {"tRcdOverride", 255,
         [](RunSettings* r, unsigned long long v) { r->input.tRcdOverride = u8(v); }},
        {"tRpOverride", 255,
         [](RunSettings* r, unsigned long long v) { r->input.tRpOverride = u8(v); }},
        {"tRasOverride", 255,
         [](RunSettings* r, unsigned long long v) { r->input.tRasOverride = u8(v); }},
    };
    for (auto it = run.begin(); it != run.end(); ++it) {
        if (it.key() == "bootModes") {
            if (!it->is_array() || it->empty()) {
                *error = "run.bootModes must be a non-empty array of numbers";
                return false;
            }
            s->bootModes.clear();
            for (const json& m : *it) {
                if (!m.is_number_unsigned() || m.get<unsigned long long>() > 255) {
                    *error = "run.bootModes must be a non-empty array of numbers";
                    return false;
                }
                s->bootModes.push_back(m.get<unsigned>());
            }
            continue;
        }
        const Field* f = nullptr;
        for (const Field& candidate : fields) {
            if (it.key() == candidate.key) {
                f = &candidate;
            }
        }
        if (!f) {
            *error = "run: unknown key \"" + it.key() + "\"";
            return false;
        }
        if (!it->is_number_unsigned() || it->get<unsigned long long>() > f->max) {
            *error = "run." + it.key() + " must be a number from 0 to " + std::to_string(f->max);
            return false;
        }
        f->set(s, it->get<unsigned long long>());
    }
    return true;
}

std::string HexBytes(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

// `image` is null for a boot of the host build.
json Report(const memboard::Board& board, const harness::BootResult& r, unsigned boot,
            unsigned bootMode, const imagerun::ImageBootInfo* image) {
    static const uint8_t kCmosIndex[16] = {0x85, 0x86, 0x87, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                                           0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3};
    json j;
    j["board"] = board.Name();
    j["boot"] = boot;
    j["bootMode"] = bootMode;
    j["outcome"] = harness::OutcomeName(r.outcome);
    j["code"] = r.code;
    if (r.outcome == harness::Outcome::Halt && (r.stopReason & 0xFFFFFF00u) == 0x300) {
        j["haltReason"] = "reset not taken";
    }
    if (r.outcome == harness::Outcome::Returned) {
        j["returnValue"] = r.returnValue;
    }
    if (r.outcome == harness::Outcome::Error) {
        j["error"] = r.error;
    }
    json posts = json::array();
    for (const memboard::PostCode& p : board.PostCodes()) {
        posts.push_back(p.value);
    }
    j["postCodes"] = posts;
    j["output"] = HexBytes(reinterpret_cast<const uint8_t*>(&r.output), harness::kOutputBytes);
    uint8_t cmos[16];
    for (int i = 0; i < 16; ++i) {
        cmos[i] = board.CmosByte(kCmosIndex[i]);
    }
    j["cmos"] = HexBytes(cmos, 16);
    json regs = json::object();
    for (uint32_t a : board.WrittenPhysical()) {
        char key[16];
        std::snprintf(key, sizeof key, "0x%08X", a);
        regs[key] = board.PeekPhysical(a);
    }
    j["registers"] = regs;
    json pci = json::object();
    for (const memboard::PciAddress& a : board.WrittenPci()) {
        char key[32];
        std::snprintf(key, sizeof key, "%X:%X.%X+0x%03X", a.bus, a.device, a.function, a.reg);
        pci[key] = board.PeekPci(a);
    }
    j["pci"] = pci;
    json messages = json::array();
    for (const memboard::EngineMessage& m : board.EngineMessages()) {
        messages.push_back({{"direction", m.toEngine ? "to-engine" : "to-host"},
                            {"engineAddress", m.engineAddress},
                            {"hostAddress", m.hostAddress},
                            {"chunks", m.chunks},
                            {"bytes", HexBytes(m.bytes.data(), m.bytes.size())},
                            {"timeNs", m.timeNs}});
    }
    j["engineMessages"] = messages;
    json commands = json::array();
    for (const memboard::DramCommand& c : board.DramCommands()) {
        json e = {{"rank", c.rank}, {"command", c.command}, {"fitted", c.fitted}};
        if (c.command == "MRS" || c.command.rfind("EMRS", 0) == 0) {
            e["value"] = c.value;
        }
        commands.push_back(e);
    }
    j["dramCommands"] = commands;
    json violations = json::array();
    for (const memboard::Violation& v : board.Violations()) {
        violations.push_back({{"timeNs", v.timeNs}, {"what", v.what}});
    }
    j["violations"] = violations;
    json unmapped = json::array();
    for (const memboard::UnmappedAccess& u : board.Unmapped()) {
        char addr[16];
        std::snprintf(addr, sizeof addr, u.space == memboard::Space::Port ? "0x%04X" : "0x%08X",
                      u.address);
        unmapped.push_back({{"space", u.space == memboard::Space::Port ? "io" : "mem"},
                            {"direction", u.write ? "write" : "read"},
                            {"address", addr},
                            {"width", u.width},
                            {"value", u.value}});
    }
    j["unmapped"] = {{"count", board.UnmappedCount()}, {"first", unmapped}};
    j["accessCount"] = r.accessCount;
    j["virtualTimeNs"] = board.BootTimeNs();
    if (image) {
        j["stackBytes"] = image->stackBytes;
    }
    return j;
}

}  // namespace

int main(int argc, char** argv) {
    RunSettings settings;
    std::string boardPath;
    struct ByteOption {
        const char* name;
        unsigned long long max;
        void (*set)(RunSettings*, unsigned long long);
    };
    static const ByteOption numeric[] = {
        {"--ddr-freq", 255,
         [](RunSettings* r, unsigned long long v) { r->input.ddrFreqOverride = u8(v); }},
        {"--cas", 255, [](RunSettings* r, unsigned long long v) { r->input.casOverride = u8(v); }},
        {"--trcd", 255,
         [](RunSettings* r, unsigned long long v) { r->input.tRcdOverride = u8(v); }},
        {"--trp", 255, [](RunSettings* r, unsigned long long v) { r->input.tRpOverride = u8(v); }},
        {"--tras", 255,
         [](RunSettings* r, unsigned long long v) { r->input.tRasOverride = u8(v); }},
        {"--gfx-mb", 0xFFFF,
         [](RunSettings* r, unsigned long long v) { r->input.gfxMemMb = u16(v); }},
        {"--gtt-mb", 0xFFFF,
         [](RunSettings* r, unsigned long long v) { r->input.gttMemMb = u16(v); }},
        {"--mmio-mb", 0xFFFFFFFF,
         [](RunSettings* r, unsigned long long v) { r->input.mmioSizeMb = u32(v); }},
        {"--boots", 1000, [](RunSettings* r, unsigned long long v) { r->boots = unsigned(v); }},
        {"--hang-budget-ms", 1000000000,
         [](RunSettings* r, unsigned long long v) { r->hangBudgetMs = (long long)v; }},
    };

    // The board's run section first, so that options override it: find the
    // board argument before anything else.
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool takesValue = a == "--boot-mode" || a == "--trace" || a == "--cmos" || a == "--image";
        for (const ByteOption& o : numeric) {
            takesValue = takesValue || a == o.name;
        }
        if (takesValue) {
            ++i;
        } else if (a.rfind("--", 0) == 0) {
            return Usage("unknown option " + a);
        } else {
            if (!boardPath.empty()) {
                return Usage("more than one board file");
            }
            boardPath = a;
        }
    }

    std::string error;
    std::unique_ptr<memboard::Board> board = boardPath.empty()
                                                 ? memboard::OpenDefaultBoard(&error)
                                                 : memboard::OpenBoard(boardPath, &error);
    if (!board) {
        std::fprintf(stderr, "corvex-run: %s\n", error.c_str());
        return 2;
    }
    {
        std::string text;
        if (boardPath.empty()) {
            text = memboard::DefaultBoardText();
        } else {
            std::ifstream in(boardPath, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        json j = json::parse(text, nullptr, false);
        if (j.is_object() && j.contains("run") && !ApplyRunSection(j["run"], &settings, &error)) {
            std::fprintf(stderr, "corvex-run: %s: %s\n",
                         boardPath.empty() ? "built-in board" : boardPath.c_str(), error.c_str());
            return 2;
        }
    }

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            continue;
        }
        if (i + 1 >= args.size()) {
            return Usage("option " + a + " needs a value");
        }
        const std::string& v = args[++i];
        if (a == "--trace") {
            settings.trace = v;
            continue;
        }
        if (a == "--cmos") {
            settings.cmosFile = v;
            continue;
        }
        if (a == "--image") {
            settings.image = v;
            continue;
        }
        if (a == "--boot-mode") {
            settings.bootModes.clear();
            size_t start = 0;
            while (true) {
                size_t comma = v.find(',', start);
                unsigned long long m = 0;
                if (!ParseUnsigned(v.substr(start, comma - start), 255, &m)) {
                    return Usage("--boot-mode takes numbers 0..255 separated by commas");
                }
                settings.bootModes.push_back(unsigned(m));
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
            continue;
        }
        const ByteOption* option = nullptr;
        for (const ByteOption& o : numeric) {
            if (a == o.name) {
                option = &o;
            }
        }
        unsigned long long n = 0;
        if (!option) {
            return Usage("unknown option " + a);
        }
        if (!ParseUnsigned(v, option->max, &n)) {
            return Usage(a + " takes a number from 0 to " + std::to_string(option->max));
        }
        option->set(&settings, n);
    }
    if (settings.boots == 0) {
        return Usage("--boots must be at least 1");
    }

    if (!settings.cmosFile.empty()) {
        // An existing file sets the CMOS contents; a missing one is created.
        std::ifstream in(settings.cmosFile, std::ios::binary);
        if (in) {
            std::vector<char> data((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            if (data.size() != 128) {
                std::fprintf(stderr, "corvex-run: %s: a CMOS file holds 128 bytes\n",
                             settings.cmosFile.c_str());
                return 2;
            }
            for (size_t k = 0; k < data.size(); ++k) {
                board->SetCmosByte(static_cast<uint8_t>(k), static_cast<uint8_t>(data[k]));
            }
        }
        board->SetCmosFile(settings.cmosFile);
    }
    imagerun::Image image;
    if (!settings.image.empty() && !imagerun::LoadImage(settings.image, &image, &error)) {
        std::fprintf(stderr, "corvex-run: %s\n", error.c_str());
        return 2;
    }
    if (settings.hangBudgetMs >= 0) {
        board->SetHangBudgetNs(static_cast<uint64_t>(settings.hangBudgetMs) * 1000000ull);
    }

    FILE* trace = nullptr;
    if (settings.trace == "-") {
        trace = stderr;
    } else if (!settings.trace.empty()) {
        trace = std::fopen(settings.trace.c_str(), "w");
        if (!trace) {
            std::fprintf(stderr, "corvex-run: cannot write the trace file %s\n",
                         settings.trace.c_str());
            return 2;
        }
    }

    harness::BootOptions options;
    options.trace = trace;
    json reports = json::array();
    for (unsigned boot = 1; boot <= settings.boots; ++boot) {
        if (boot > 1) {
            board->PlatformReset();
        }
        unsigned mode =
            settings.bootModes[std::min<size_t>(boot - 1, settings.bootModes.size() - 1)];
        MemInitInput input = settings.input;
        input.bootMode = static_cast<u8>(mode);
        if (trace) {
            std::fprintf(trace, "# boot %u, boot mode %u\n", boot, mode);
        }
        // Each boot gets fresh firmware blocks, zero-filled.
        if (settings.image.empty()) {
            harness::BootResult r = harness::RunBoot(*board, input, MemInitOutput{}, options);
            reports.push_back(Report(*board, r, boot, mode, nullptr));
        } else {
            imagerun::ImageBootInfo info;
            harness::BootResult r = imagerun::RunImageBoot(
                image, *board, input, MemInitOutput{}, options, imagerun::ImageRunOptions(), &info);
            reports.push_back(Report(*board, r, boot, mode, &info));
        }
    }
    if (trace && trace != stderr) {
        std::fclose(trace);
    }
    if (!board->SaveCmos(&error)) {
        std::fprintf(stderr, "corvex-run: %s\n", error.c_str());
        return 2;
    }
    const json& out = settings.boots == 1 ? reports[0] : reports;
    std::fputs((out.dump(2) + "\n").c_str(), stdout);
    return 0;
}
