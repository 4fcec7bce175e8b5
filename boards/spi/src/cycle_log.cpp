// The cycle log and the run's totals: kept in memory while the board runs
// (the buffer is reserved when the board opens and never grows, so logging
// costs the hot path no allocation) and written out as JSON lines at Close.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "board_model.h"

namespace spiboard {
namespace {

const char* const kKindNames[] = {"read",       "program",     "erase",       "chiperase", "readid",
                                  "readstatus", "writestatus", "writeenable", "other"};
const char* const kOutcomeNames[] = {"done", "fcerr", "ael", "stuck"};
const char* const kChipNotes[] = {"ok", "ignored", "busy", "protected", "not-enabled", "absent"};

void Append(std::string* out, const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n > 0) {
        out->append(buffer, static_cast<size_t>(n) < sizeof(buffer) ? n : sizeof(buffer) - 1);
    }
}

unsigned long long U(uint64_t v) {
    return static_cast<unsigned long long>(v);
}

void AppendEntry(std::string* out, const LogEntry& e) {
    switch (e.type) {
        case kLogIo:
            Append(out,
                   "{\"t_ns\":%llu,\"kind\":\"io\",\"port\":\"0x%04X\",\"value\":\"0x%X\","
                   "\"width\":%u}\n",
                   U(e.startNs), e.addr, e.value, e.bytes);
            return;
        case kLogReset:
            Append(out, "{\"t_ns\":%llu,\"kind\":\"reset\",\"type\":\"%s\"}\n", U(e.startNs),
                   e.value ? "full" : "hard");
            return;
        case kLogGoWhileBusy:
            Append(out,
                   "{\"t_ns\":%llu,\"end_ns\":%llu,\"seq\":\"%s\",\"kind\":\"go-while-busy\","
                   "\"outcome\":\"fcerr\"}\n",
                   U(e.startNs), U(e.endNs), e.hardware ? "hw" : "sw");
            return;
        default:
            break;
    }
    Append(out, "{\"t_ns\":%llu,\"end_ns\":%llu,\"seq\":\"%s\",\"kind\":\"%s\",\"op\":\"0x%02X\",",
           U(e.startNs), U(e.endNs), e.hardware ? "hw" : "sw", kKindNames[e.kind], e.opcode);
    if (e.prefix >= 0) {
        Append(out, "\"prefix\":\"0x%02X\",", e.prefix);
    } else {
        Append(out, "\"prefix\":null,");
    }
    if (e.hasAddr) {
        Append(out, "\"addr\":\"0x%06X\",", e.addr);
    } else {
        Append(out, "\"addr\":null,");
    }
    Append(out, "\"bytes\":%u,", e.bytes);
    if (e.cs >= 0) {
        Append(out, "\"cs\":%d,", e.cs);
    } else {
        Append(out, "\"cs\":null,");
    }
    Append(out, "\"outcome\":\"%s\",\"chip\":\"%s\"}\n", kOutcomeNames[e.outcome],
           e.outcome == kDone ? kChipNotes[e.chipNote] : "untouched");
}

void AppendTotals(std::string* out, const Board& b) {
    const Totals& t = b.totals;
    Append(out, "{\"totals\":{\"virtual_ns\":%llu,\"spi_bus_ns\":%llu,\"chip_busy_ns\":%llu,",
           U(b.now), U(t.busNs), U(t.chipBusyNs));
    for (unsigned hw = 0; hw < 2; ++hw) {
        Append(out, "\"%s\":{", hw ? "hw_cycles" : "sw_cycles");
        for (unsigned k = 0; k < static_cast<unsigned>(CycleKind::Count); ++k) {
            Append(out, "%s\"%s\":%llu", k ? "," : "", kKindNames[k], U(t.cycles[hw][k]));
        }
        Append(out, "},");
    }
    Append(out,
           "\"fcerr\":%llu,\"ael\":%llu,\"go_while_busy\":%llu,\"bytes_read\":%llu,"
           "\"bytes_programmed\":%llu,\"bytes_erased\":%llu,\"register_reads\":%llu,"
           "\"register_writes\":%llu,\"pci_reads\":%llu,\"pci_writes\":%llu,\"io_writes\":%llu,"
           "\"resets\":%llu,\"log_dropped\":%llu}}\n",
           U(t.fcerr), U(t.ael), U(t.goWhileBusy), U(t.bytesRead), U(t.bytesProgrammed),
           U(t.bytesErased), U(t.registerReads), U(t.registerWrites), U(t.pciReads), U(t.pciWrites),
           U(t.ioWrites), U(t.resets), U(t.logDropped));
}

}  // namespace

const char* CycleKindName(CycleKind kind) {
    return kKindNames[static_cast<unsigned>(kind)];
}

void LogCycle(Board* board, const LogEntry& entry) {
    if (board->config.logPath.empty() || !board->config.logCycles) {
        return;
    }
    if (board->log.size() < board->log.capacity()) {
        board->log.push_back(entry);
    } else {
        ++board->totals.logDropped;
    }
}

bool WriteLogFile(const Board& board, std::string* error) {
    const std::string& path = board.config.logPath;
    if (path.empty()) {
        return true;
    }
    std::string text;
    text.reserve(board.log.size() * 160 + 1024);
    for (const LogEntry& entry : board.log) {
        AppendEntry(&text, entry);
    }
    AppendTotals(&text, board);
    std::FILE* file = std::fopen(path.c_str(), board.config.logAppend ? "ab" : "wb");
    if (file == nullptr) {
        *error = "cannot write the log file " + path;
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        *error = "cannot write the log file " + path;
    }
    return ok;
}

}  // namespace spiboard
