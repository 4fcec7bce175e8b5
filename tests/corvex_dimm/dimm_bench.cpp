// The detection bench (see dimm_bench.h).
#include "tests/corvex_dimm/dimm_bench.h"

#include <algorithm>

#include "corvex/config/entry.h"
#include "corvex/config/registers.h"
#include "corvex/platform/platform.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace dimmtest {

const char kCrucial800[] = "sodimm-crucial-ct12864ac800.spd";
const char kSoDimm400[] = "sodimm-ddr2-400-512mb.spd";
const char kUdimm800[] = "udimm-ddr2-800-2gb.spd";
const char kUdimmTranscend[] = "udimm-transcend-jm667qlj-1g.spd";
const char kUdimmInfineon[] = "udimm-infineon-aet760ud00-370a08x.spd";
const char kRdimm[] = "rdimm-samsung-m393t3253fz0.spd";
const char kFbdimm[] = "fbdimm-hynix-hymp525f72cp4n3.spd";

Spd LoadSpd(const std::string& name) {
    Spd spd = testsupport::ReadFileBytes(testsupport::SourceDir() + "/tests/fixtures/spd/" + name);
    EXPECT_GE(spd.size(), 128u) << "fixture " << name;
    spd.resize(256, 0xFF);
    return spd;
}

Spd Patched(Spd spd, const std::vector<Patch>& patches) {
    for (const Patch& patch : patches) {
        spd.at(patch.first) = patch.second;
    }
    return spd;
}

Spd AsSoDimm(const std::string& name) {
    return Patched(LoadSpd(name), {{20, 4}});
}

bool Outcome::StoppedWith(uint8_t fatal) const {
    return stop.has_value() && *stop == (kStopFatal | fatal);
}

void DimmBench::Reset(const Platform& platform) {
    const uint32_t phys = kHostBusPhysical;
    scriptbus::Reset();
    dimms = {};
    const uint32_t hostBridge = PciCfgAddress(0, 0, 0, 0);
    scriptbus::Script(phys, hostBridge + kPciRevisionId, {platform.hostRevision});
    scriptbus::Script(phys, hostBridge + 0xE3, {platform.ddrCapability});
    scriptbus::Script(phys, McAddress(0xC00), {platform.fsbStrap});
    // A running counter lets the ME transport of a fatal stop time out.
    scriptbus::Ramp(phys, HPET_MAIN_COUNTER, 0x1000, 0x00010000);
    spd = {};
    config = {};
}

void DimmBench::PutDimm(int slot, const Spd& bytes) {
    dimms.at(static_cast<size_t>(slot)) = bytes;
}

void DimmBench::FillSpd() {
    spd = {};
    for (size_t slot = 0; slot < dimms.size(); ++slot) {
        if (dimms[slot]) {
            spd.slot[slot].valid = 1;
            std::copy(dimms[slot]->begin(), dimms[slot]->begin() + 48, spd.slot[slot].spd);
        }
    }
}

Outcome DimmBench::Detect(const MemInitInput& given) {
    Outcome run;
    MemInitInput input = given;
    FillSpd();
    config = {};
    run.stop = scriptbus::RunUntilStop([&] { DetectDimms(&input, &spd, &config); });
    run.post = scriptbus::Writes(kHostBusPort, 0x80, 1);
    return run;
}

void DimmBench::ScriptCmos(const uint8_t bytes[16]) {
    scriptbus::Script(kHostBusPort, 0x73, std::vector<uint32_t>(bytes, bytes + 16));
}

}  // namespace dimmtest
