// The memory controller's live parts: completion bits that the hardware
// clears after a while, the frequency select, the clock phase sampler, the
// receive-enable strobe sampling, and the DRAM command decoder with a JEDEC
// DDR2 initialization order check per rank.
#include <cstdio>

#include "board_internal.h"

namespace memboard {

namespace {

// DRAM clock period in ps by the controller's frequency select (400, 533,
// 667, 800 and 1066 MT/s).
const int64_t kClockPeriodPs[8] = {5000, 3750, 3000, 2500, 1875, 1875, 1875, 1875};

constexpr uint32_t kSamplerStart = 0x180;  // bit 4 starts, 0x181 bit 0 is done
constexpr uint32_t kSamplerPhase = 0x190;
constexpr uint32_t kClockStep = 0x1FA;  // bit 19 of 0x1F8
constexpr uint32_t kFrequency = 0xC00;

int64_t Mod(int64_t a, int64_t m) {
    int64_t r = a % m;
    return r < 0 ? r + m : r;
}

const char* StageNeeds(RankStage s) {
    switch (s) {
        case RankStage::PowerUp:
            return "NOP";
        case RankStage::Nop:
            return "PRECHARGE ALL";
        case RankStage::Precharged:
            return "EMRS(2)";
        case RankStage::Emrs2:
            return "EMRS(3)";
        case RankStage::Emrs3:
            return "EMRS(1) with the DLL enabled";
        case RankStage::Emrs1:
            return "MRS with DLL reset";
        case RankStage::DllReset:
            return "PRECHARGE ALL";
        case RankStage::Precharged2:
            return "REFRESH";
        case RankStage::Refreshed:
            return "a second REFRESH or MRS without DLL reset";
        case RankStage::ModeSet:
            return "EMRS(1) with OCD calibration default";
        case RankStage::OcdDefault:
            return "EMRS(1) with OCD calibration exit";
        case RankStage::Initialized:
            return "nothing";
    }
    return "?";
}

}  // namespace

int64_t Board::Impl::ClockPeriodPs() const {
    return kClockPeriodPs[(mc.bytes[kFrequency] >> 4) & 7];
}

void Board::Impl::ControllerReset() {
    for (size_t k = 0; k < cfg.completions.size(); ++k) {
        const CompletionBit& c = cfg.completions[k];
        completionBusy[k] = c.atReset;
        completionDue[k] = c.never ? UINT64_MAX : now + c.delayNs;
        if (c.atReset) {
            mc.bytes[c.offset] |= static_cast<uint8_t>(1u << c.bit);
        }
    }
    samplerBusy = false;
    clockSteps = 0;
    strobeArmed = {};
    strobePending = {};
}

void Board::Impl::ControllerAfterWrite(uint32_t offset, uint8_t old, uint8_t written) {
    for (size_t k = 0; k < cfg.completions.size(); ++k) {
        const CompletionBit& c = cfg.completions[k];
        if (c.offset != offset) {
            continue;
        }
        uint8_t bit = static_cast<uint8_t>(1u << c.bit);
        if (completionBusy[k]) {
            mc.bytes[offset] |= bit;  // the hardware owns the bit until it is done
        } else if (written & bit) {
            completionBusy[k] = true;
            completionDue[k] = c.never ? UINT64_MAX : now + c.delayNs;
        }
    }
    if (offset == kSamplerStart && (written & 0x10)) {
        if (!samplerBusy) {
            samplerBusy = true;
            samplerDue = now + cfg.sampler.delayNs;
            mc.bytes[kSamplerStart + 1] &= 0xFE;
        }
    } else if (offset == kClockStep && (written & 0x08)) {
        ++clockSteps;
        mc.bytes[kClockStep] &= 0xF7;  // the step bit clears itself
    } else if (offset == kFrequency) {
        unsigned f = (mc.bytes[offset] >> 4) & 7;
        if (f > cfg.maxDdrFreq) {
            // The controller keeps the fastest frequency it accepts.
            mc.bytes[offset] =
                static_cast<uint8_t>((mc.bytes[offset] & 0x8F) | cfg.maxDdrFreq << 4);
        }
    } else if (offset == 0x5F4 || offset == 0x9F4) {
        if (!(old & 0x02) && (mc.bytes[offset] & 0x02)) {
            strobeArmed[offset == 0x9F4] = true;
        }
    }
}

uint32_t Board::Impl::SampleWord() const {
    switch (cfg.sampler.mode) {
        case SamplerMode::Ones:
            return 0xFFFFFFFFu;
        case SamplerMode::Zeros:
            return 0;
        case SamplerMode::Mixed:
            return 0x0000FFFFu;
        case SamplerMode::Model:
            break;
    }
    const SamplerConfig& s = cfg.sampler;
    int64_t period = ClockPeriodPs();
    uint8_t phase = mc.bytes[kSamplerPhase];
    int64_t point = (phase & 0x0F) * s.coarsePs + ((phase >> 4) & 7) * s.finePs;
    int64_t shift = static_cast<int64_t>(clockSteps) * s.clockStepPs - s.offsetPs;
    uint32_t word = 0;
    for (int i = 0; i < 32; ++i) {
        int64_t t = point + ((2 * i - 31) * s.spreadPs) / 64;
        if (Mod(t + shift, period) < period / 2) {
            word |= 1u << i;
        }
    }
    return word;
}

void Board::Impl::ControllerTick() {
    for (size_t k = 0; k < cfg.completions.size(); ++k) {
        if (completionBusy[k] && now >= completionDue[k]) {
            completionBusy[k] = false;
            mc.bytes[cfg.completions[k].offset] &=
                static_cast<uint8_t>(~(1u << cfg.completions[k].bit));
        }
    }
    if (samplerBusy && now >= samplerDue) {
        uint32_t word = SampleWord();
        mc.bytes[0x184] = static_cast<uint8_t>(word);
        mc.bytes[0x185] = static_cast<uint8_t>(word >> 8);
        mc.bytes[0x188] = static_cast<uint8_t>(word >> 16);
        mc.bytes[0x189] = static_cast<uint8_t>(word >> 24);
        mc.bytes[kSamplerStart] &= 0xEF;
        mc.bytes[kSamplerStart + 1] |= 0x01;
        samplerBusy = false;
    }
    for (unsigned ch = 0; ch < 2; ++ch) {
        if (strobePending[ch] && now >= strobeDue[ch]) {
            strobePending[ch] = false;
            uint32_t w = ch * 0x400;
            for (unsigned lane = 0; lane < kLaneCount; ++lane) {
                uint8_t& status = mc.bytes[0x5CC + w - 0x10 * lane];
                status =
                    static_cast<uint8_t>((status & 0xBF) | (((strobeLevels[ch] >> lane) & 1) << 6));
            }
        }
    }
}

// ---------------------------------------------------------------------------
// DRAM

namespace {

bool RankFitted(const BoardConfig& cfg, unsigned rank) {
    const DimmConfig& d = cfg.dimms[rank / 2];
    return d.fitted && rank % 2 < d.ranks;
}

// Receive-enable position of one lane in ps after the read command.
int64_t LanePosition(const Board::Impl& b, unsigned ch, unsigned lane) {
    uint32_t w = ch * 0x400;
    int64_t period = b.ClockPeriodPs();
    unsigned coarse = b.mc.bytes[0x24A + w] & 0x0F;
    unsigned medium = (b.mc.bytes[0x53D + w] >> 2) & 3;
    unsigned select = (b.mc.bytes[0x5C5 + w - 0x10 * lane] >> 4) & 7;
    uint32_t fields = b.mc.bytes[0x52C + w] | b.mc.bytes[0x52D + w] << 8 |
                      b.mc.bytes[0x530 + w] << 16 |
                      static_cast<uint32_t>(b.mc.bytes[0x531 + w]) << 24;
    unsigned fine = (fields >> (4 * select)) & 0xF;
    return coarse * period + medium * period / 4 + fine * b.cfg.strobe.fineStepPs;
}

uint16_t StrobeLevels(const Board::Impl& b, unsigned rank) {
    unsigned ch = rank / 4;
    const StrobeConfig& s = b.cfg.strobe;
    const RankState& r = b.ranks[rank];
    int64_t period = b.ClockPeriodPs();
    uint16_t levels = 0;
    for (unsigned lane = 0; lane < kLaneCount; ++lane) {
        int64_t pos = LanePosition(b, ch, lane);
        bool high = false;
        if (!s.windows[ch][lane].empty()) {
            for (const auto& [from, to] : s.windows[ch][lane]) {
                high = high || (pos >= from && pos < to);
            }
        } else if (RankFitted(b.cfg, rank) && r.haveMode &&
                   (lane < 8 || b.cfg.dimms[rank / 2].ecc)) {
            // The strobe toggles once per clock for the burst, high in the
            // first half of each clock, starting CAS latency plus the
            // board's round trip after the read.
            int64_t arrival =
                r.casLatency * period + s.latencyPs + lane * s.laneSkewPs + s.lanePs[ch][lane];
            int64_t d = pos - arrival;
            int64_t pulses = r.burstLength / 2;
            high = d >= 0 && d < pulses * period && Mod(d, period) < period / 2;
        }
        if (high) {
            levels = static_cast<uint16_t>(levels | 1u << lane);
        }
    }
    return levels;
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

}  // namespace

uint32_t Board::Impl::DramRead(uint32_t address, unsigned width) {
    unsigned rank = address >> kRankWindowShift;
    unsigned ch = rank / 4;
    uint32_t w = ch * 0x400;
    const char* chName = ch ? "B" : "A";
    if (!(mc.bytes[0x263 + w] & 0x08)) {
        Violate("read at rank " + std::to_string(rank) + " while channel " + chName +
                " is not enabled");
        RecordUnmapped(Space::Physical, false, address, width, 0xFFFFFFFFu);
        return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
    }
    uint8_t reg = mc.bytes[0x271 + w];
    unsigned cmd = (reg >> 1) & 7, mr = (reg >> 4) & 3;
    if (cmd == 0 || cmd == 7) {
        if (strobeArmed[ch]) {
            strobeArmed[ch] = false;
            strobePending[ch] = true;
            strobeDue[ch] = now + cfg.strobe.sampleDelayNs;
            strobeLevels[ch] = StrobeLevels(*this, rank);
        }
        return cfg.dramReadValue & (width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1);
    }
    if (width != 4) {
        Violate("DRAM command read of " + std::to_string(width) + " bytes at " + Hex(address));
        return 0;
    }
    uint32_t value = ((address & ((1u << kRankWindowShift) - 1)) >> 3) & 0xFFFF;
    std::string name;
    bool modeSet = false;
    switch (cmd) {
        case 1:
            name = "NOP";
            break;
        case 2:
            name = "PRECHARGE ALL";
            break;
        case 3:
        case 4:
            name = mr == 0 ? "MRS" : "EMRS(" + std::to_string(mr) + ")";
            modeSet = true;
            break;
        case 6:
            name = "REFRESH";
            break;
        default:
            Violate("undefined DRAM command code " + Hex(reg & 0x3E) + " in channel " + chName +
                    "'s command register");
            return 0;
    }
    bool fitted = RankFitted(cfg, rank);
    dramCommands.push_back({rank, name, modeSet ? value : 0, fitted, now});
    if (!fitted) {
        return 0;
    }
    RankState& r = ranks[rank];
    std::string where = "rank " + std::to_string(rank) + ": ";
    auto outOfOrder = [&] {
        Violate(where + name + " while the JEDEC DDR2 initialization needs " + StageNeeds(r.stage));
    };
    if (modeSet && mr == 0) {
        unsigned cl = (value >> 4) & 7, bl = value & 7, wr = (value >> 9) & 7;
        if (cl < 2 || cl == 7) {
            Violate(where + "MRS with reserved CAS latency code " + std::to_string(cl));
        }
        if (bl != 2 && bl != 3) {
            Violate(where + "MRS with reserved burst length code " + std::to_string(bl));
        }
        if (wr == 0) {
            Violate(where + "MRS with reserved write recovery code 0");
        }
        r.haveMode = true;
        r.casLatency = cl;
        r.burstLength = bl == 2 ? 4 : 8;
    }
    unsigned ocd = (value >> 7) & 7;
    if (modeSet && mr == 1 && ocd != 0 && ocd != 7 && ocd != 1 && ocd != 2 && ocd != 4) {
        Violate(where + "EMRS(1) with reserved OCD code " + std::to_string(ocd));
    }
    bool dllReset = (value >> 8) & 1;
    switch (r.stage) {
        case RankStage::Initialized:
            return 0;  // mode changes of an initialized device are the code's business
        case RankStage::PowerUp:
            if (cmd == 1) {
                r.stage = RankStage::Nop;
            } else {
                outOfOrder();
            }
            return 0;
        default:
            break;
    }
    if (cmd == 1) {
        return 0;  // NOPs may come at any time
    }
    switch (r.stage) {
        case RankStage::Nop:
            if (cmd == 2) {
                r.stage = RankStage::Precharged;
            } else {
                outOfOrder();
            }
            break;
        case RankStage::Precharged:
            if (modeSet && mr == 2) {
                r.stage = RankStage::Emrs2;
            } else if (cmd != 2) {
                outOfOrder();
            }
            break;
        case RankStage::Emrs2:
            if (modeSet && mr == 3) {
                r.stage = RankStage::Emrs3;
            } else {
                outOfOrder();
            }
            break;
        case RankStage::Emrs3:
            if (modeSet && mr == 1 && !(value & 1)) {
                r.stage = RankStage::Emrs1;
            } else {
                outOfOrder();
            }
            break;
        case RankStage::Emrs1:
            if (modeSet && mr == 0 && dllReset) {
                r.stage = RankStage::DllReset;
            } else {
                outOfOrder();
            }
            break;
        case RankStage::DllReset:
            if (cmd == 2) {
                r.stage = RankStage::Precharged2;
            } else {
                outOfOrder();
            }
            break;
        case RankStage::Precharged2:
            if (cmd == 6) {
                r.stage = RankStage::Refreshed;
                r.refreshes = 1;
            } else if (cmd != 2) {
                outOfOrder();
            }
            break;
        case RankStage::Refreshed:
            if (cmd == 6) {
                ++r.refreshes;
            } else if (modeSet && mr == 0 && !dllReset && r.refreshes >= 2) {
                r.stage = RankStage::ModeSet;
            } else {
                outOfOrder();
            }
            break;
        case RankStage::ModeSet:
            if (modeSet && mr == 1 && ocd == 7) {
                r.stage = RankStage::OcdDefault;
            } else {
                outOfOrder();
            }
            break;
        case RankStage::OcdDefault:
            if (modeSet && mr == 1 && ocd == 0) {
                r.stage = RankStage::Initialized;
            } else {
                outOfOrder();
            }
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace memboard
