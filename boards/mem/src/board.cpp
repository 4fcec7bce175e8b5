// Address decoding, virtual time, the plain register blocks, the ports that
// need no model of their own (POST, CMOS, reset control, port 0x61), the HPET
// main counter and the TPM access register.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "board_internal.h"

namespace memboard {

namespace {

uint32_t AllOnes(unsigned width) {
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1);
}

bool ValidWidth(unsigned width) {
    return width == 1 || width == 2 || width == 4;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

uint32_t PciWindowAddress(uint8_t bus, uint8_t device, uint8_t function, uint16_t reg) {
    return kPciWindowBase + (static_cast<uint32_t>(bus) << 20) +
           (static_cast<uint32_t>(device & 0x1F) << 15) +
           (static_cast<uint32_t>(function & 7) << 12) + (reg & 0xFFF);
}

// ---------------------------------------------------------------------------
// Set-up and resets

namespace {

Region* RegionFor(Board::Impl& b, const ByteSpec& s, uint32_t* offset) {
    switch (s.where) {
        case Where::Mc:
            *offset = s.offset;
            return s.offset < kMcSize ? &b.mc : nullptr;
        case Where::Pci: {
            auto it = b.pci.find(s.device);
            *offset = s.offset;
            return it == b.pci.end() || s.offset >= 0x1000 ? nullptr : &it->second;
        }
        case Where::Memory:
            if (s.offset >= kRcbaBase && s.offset < kRcbaBase + kRcbaSize) {
                *offset = s.offset - kRcbaBase;
                return &b.rcba;
            }
            if (s.offset >= kHpetBase && s.offset < kHpetBase + kHpetSize) {
                *offset = s.offset - kHpetBase;
                return &b.hpet;
            }
            if (s.offset >= kTpmBase && s.offset < kTpmBase + kTpmSize) {
                *offset = s.offset - kTpmBase;
                return &b.tpm;
            }
            if (s.offset >= kMcDefaultBase && s.offset < kMcDefaultBase + kMcSize) {
                *offset = s.offset - kMcDefaultBase;
                return &b.mc;
            }
            return nullptr;
    }
    return nullptr;
}

void AddMask(std::vector<uint8_t>& masks, uint32_t offset, uint8_t mask) {
    if (offset < masks.size()) {
        masks[offset] |= mask;
    }
}

uint32_t PciKey(uint32_t bus, uint32_t device, uint32_t function) {
    return bus << 8 | device << 3 | function;
}

// Registers whose bits belong to the hardware: software writes do not change
// them (identifiers and straps, status the models drive).
void AddHardwareMasks(Board::Impl& b) {
    for (auto& [key, region] : b.pci) {
        for (uint32_t r = 0; r < 4; ++r) {
            AddMask(region.readOnly, r, 0xFF);
        }
        AddMask(region.readOnly, 0x08, 0xFF);
        (void)key;
    }
    auto host = b.pci.find(PciKey(0, 0, 0));
    if (host != b.pci.end()) {
        for (uint32_t r = 0xE0; r < 0xEC; ++r) {
            AddMask(host->second.readOnly, r, 0xFF);  // capability and strap registers
        }
    }
    auto engine = b.pci.find(PciKey(0, 3, 0));
    if (engine != b.pci.end()) {
        AddMask(engine->second.readOnly, 0x41, 0x0C);  // hand-off status, bits 11:10 of 0x40
        AddMask(engine->second.readOnly, 0x40, 0x0F);  // engine status, bits 3:0
        AddMask(engine->second.readOnly, 0x41, 0xF0);  // engine status, bits 15:12
    }
    auto lpc = b.pci.find(PciKey(0, 31, 0));
    if (lpc != b.pci.end()) {
        AddMask(lpc->second.oneToClear, 0xA2, 0x04);
    }
    AddMask(b.mc.readOnly, 0xC00, 0x07);  // front-side-bus strap
    AddMask(b.mc.readOnly, 0x181, 0x01);  // phase sampler done
    for (uint32_t o : {0x184u, 0x185u, 0x188u, 0x189u}) {
        AddMask(b.mc.readOnly, o, 0xFF);  // phase samples
    }
    for (uint32_t w : {0u, 0x400u}) {
        for (uint32_t lane = 0; lane < kLaneCount; ++lane) {
            AddMask(b.mc.readOnly, 0x5CC + w - 0x10 * lane, 0x40);  // sampled strobe level
        }
    }
    b.hpet.readOnly[0] = b.hpet.readOnly[1] = b.hpet.readOnly[2] = b.hpet.readOnly[3] = 0xFF;
    for (uint32_t o = 4; o < 8; ++o) {
        b.hpet.readOnly[o] = 0xFF;
    }
    AddMask(b.tpm.readOnly, 0, 0x80);
}

}  // namespace

void Board::Impl::PowerOn() {
    mc.Resize(kMcSize);
    rcba.Resize(kRcbaSize);
    hpet.Resize(kHpetSize);
    tpm.Resize(kTpmSize);
    pci.clear();
    for (uint32_t key : cfg.pciDevices) {
        pci[key].Resize(0x1000);
    }
    // The HPET announces its tick period (femtoseconds) unless the board
    // file says otherwise.
    const uint32_t periodFs = 69841279;
    for (int i = 0; i < 4; ++i) {
        hpet.powerOn[4 + i] = static_cast<uint8_t>(periodFs >> (8 * i));
    }
    hpet.powerOn[0] = 0x01;
    hpet.powerOn[1] = 0xA2;  // 64-bit counter, three timers
    tpm.powerOn[0] = 0x81;   // register valid, establishment bit
    for (const ByteSpec& s : cfg.init) {
        uint32_t offset = 0;
        if (Region* r = RegionFor(*this, s, &offset)) {
            r->powerOn[offset] = s.value;
        }
    }
    for (const ByteSpec& s : cfg.readOnly) {
        uint32_t offset = 0;
        if (Region* r = RegionFor(*this, s, &offset)) {
            r->readOnly[offset] |= s.value;
        }
    }
    for (const ByteSpec& s : cfg.writeOneToClear) {
        uint32_t offset = 0;
        if (Region* r = RegionFor(*this, s, &offset)) {
            r->oneToClear[offset] |= s.value;
        }
    }
    AddHardwareMasks(*this);
    completionDue.assign(cfg.completions.size(), 0);
    completionBusy.assign(cfg.completions.size(), false);
    cmos = cfg.cmos;
    now = 0;
    ranks = {};
    hostRead = hostWrite = engineRead = engineWrite = 0;
    ApplyPowerOnValues(false);
    hpetCounter = cfg.hpetCounterStart;
}

void Board::Impl::ApplyPowerOnValues(bool keepRetained) {
    std::vector<std::pair<const ByteSpec*, uint8_t>> kept;
    if (keepRetained) {
        for (const ByteSpec& s : cfg.retains) {
            uint32_t offset = 0;
            if (Region* r = RegionFor(*this, s, &offset)) {
                kept.emplace_back(&s, r->bytes[offset]);
            }
        }
    }
    for (Region* r : {&mc, &rcba, &hpet, &tpm}) {
        r->bytes = r->powerOn;
    }
    for (auto& [key, r] : pci) {
        r.bytes = r.powerOn;
        (void)key;
    }
    for (auto& [retained, value] : kept) {
        uint32_t offset = 0;
        Region* r = RegionFor(*this, *retained, &offset);
        r->bytes[offset] =
            static_cast<uint8_t>((r->bytes[offset] & ~retained->value) | (value & retained->value));
    }
    smbusRegs = {};
    smbusBusy = false;
    smbusZeroReadsLeft = 0;
    port61 = 0;
    cmosIndex = 0;
    cf9 = 0;
    postPorts = {};
    hpetRunning = false;
    hpetCounter = 0;
    hpetRunStart = now;
    resetTime = now;
    ControllerReset();
    EngineReset();
}

void Board::Impl::Violate(const std::string& what) {
    violations.push_back({now, what});
}

void Board::Impl::RecordUnmapped(Space space, bool write, uint32_t address, unsigned width,
                                 uint32_t value) {
    ++unmappedCount;
    if (unmapped.size() < 100) {
        unmapped.push_back({space, write, address, width, value, now});
    }
}

void Board::Impl::Advance(uint64_t ns) {
    now += ns;
    Tick();
}

void Board::Impl::Tick() {
    SmbusTick();
    ControllerTick();
    EngineTick();
}

// ---------------------------------------------------------------------------
// Physical address space

bool Board::Impl::McDecoded(uint32_t* base) const {
    auto it = pci.find(PciKey(0, 0, 0));
    if (it == pci.end()) {
        return false;
    }
    const auto& r = it->second.bytes;
    uint32_t bar = r[0x48] | r[0x49] << 8 | r[0x4A] << 16 | static_cast<uint32_t>(r[0x4B]) << 24;
    *base = bar & 0xFFFFC000u;
    return (bar & 1) != 0;
}

uint32_t Board::Impl::HpetDecodedBase() const {
    uint8_t d = rcba.bytes[kHpetDecodeOffset];
    return (d & 0x80) ? kHpetBase + (d & 3) * 0x1000u : 0;
}

Region* Board::Impl::PciFunction(uint32_t address, uint32_t* reg) {
    uint32_t off = address - kPciWindowBase;
    *reg = off & 0xFFF;
    auto it = pci.find(off >> 12);
    return it == pci.end() ? nullptr : &it->second;
}

const Region* Board::Impl::PciFunction(uint32_t address, uint32_t* reg) const {
    uint32_t off = address - kPciWindowBase;
    *reg = off & 0xFFF;
    auto it = pci.find(off >> 12);
    return it == pci.end() ? nullptr : &it->second;
}

uint64_t Board::Impl::HpetCounterNow() const {
    if (!hpetRunning) {
        return hpetCounter;
    }
    unsigned __int128 ticks =
        static_cast<unsigned __int128>(now - hpetRunStart) * kHpetTicksPerSecond / 1000000000u;
    return hpetCounter + static_cast<uint64_t>(ticks);
}

void Board::Impl::HpetUpdateRunning() {
    bool run = HpetDecodedBase() != 0 && (hpet.bytes[0x10] & 1) != 0;
    if (run != hpetRunning) {
        hpetCounter = HpetCounterNow();
        hpetRunStart = now;
        hpetRunning = run;
    }
}

bool Board::Impl::PeekByte(uint32_t address, uint8_t* value) const {
    uint32_t base = 0;
    if (McDecoded(&base) && address - base < kMcSize) {
        *value = mc.bytes[address - base];
        return true;
    }
    if (address - kPciWindowBase < kPciWindowSize) {
        uint32_t reg = 0;
        const Region* f = PciFunction(address, &reg);
        *value = f ? f->bytes[reg] : 0xFF;
        return f != nullptr;
    }
    if (address - kEngineIfBase < kEngineIfSize) {
        uint32_t o = address - kEngineIfBase;
        uint32_t word = o >= 0xC ? EngineStatusWord() : o >= 4 && o < 8 ? HostControlWord() : ~0u;
        *value = static_cast<uint8_t>(word >> (8 * (o & 3)));
        return true;
    }
    uint32_t hpetBase = HpetDecodedBase();
    if (hpetBase && address - hpetBase < kHpetSize) {
        uint32_t o = address - hpetBase;
        if (o >= 0xF0 && o < 0xF8) {
            *value = static_cast<uint8_t>(HpetCounterNow() >> (8 * (o - 0xF0)));
        } else {
            *value = hpet.bytes[o];
        }
        return true;
    }
    if (address - kRcbaBase < kRcbaSize) {
        *value = rcba.bytes[address - kRcbaBase];
        return true;
    }
    if (cfg.tpmPresent && address - kTpmBase < kTpmSize) {
        uint32_t o = address - kTpmBase;
        *value = tpm.bytes[o];
        if (o == 0) {
            bool valid = cfg.tpmValidAfterNs >= 0 &&
                         now - resetTime >= static_cast<uint64_t>(cfg.tpmValidAfterNs);
            *value = static_cast<uint8_t>((*value & 0x7F) | (valid ? 0x80 : 0));
        }
        return true;
    }
    *value = 0xFF;
    return false;
}

void Board::Impl::StoreByte(uint32_t address, uint8_t value) {
    uint32_t base = 0;
    if (McDecoded(&base) && address - base < kMcSize) {
        uint32_t o = address - base;
        uint8_t old = mc.bytes[o];
        mc.Store(o, value);
        ControllerAfterWrite(o, old, value);
        writtenPhys.insert(address);
        return;
    }
    if (address - kPciWindowBase < kPciWindowSize) {
        uint32_t reg = 0;
        Region* f = PciFunction(address, &reg);
        if (f) {
            f->Store(reg, value);
            writtenPci.insert(address - kPciWindowBase);
        }
        return;
    }
    uint32_t hpetBase = HpetDecodedBase();
    if (hpetBase && address - hpetBase < kHpetSize) {
        uint32_t o = address - hpetBase;
        if (o >= 0xF0 && o < 0xF8) {
            uint64_t c = HpetCounterNow();
            unsigned shift = 8 * (o - 0xF0);
            c = (c & ~(0xFFull << shift)) | (static_cast<uint64_t>(value) << shift);
            hpetCounter = c;
            hpetRunStart = now;
        } else {
            hpet.Store(o, value);
            HpetUpdateRunning();
        }
        writtenPhys.insert(address);
        return;
    }
    if (address - kRcbaBase < kRcbaSize) {
        rcba.Store(address - kRcbaBase, value);
        if (address - kRcbaBase == kHpetDecodeOffset) {
            HpetUpdateRunning();
        }
        writtenPhys.insert(address);
        return;
    }
    if (cfg.tpmPresent && address - kTpmBase < kTpmSize) {
        tpm.Store(address - kTpmBase, value);
        writtenPhys.insert(address);
    }
}

uint32_t Board::Impl::ReadPhysical(uint32_t address, unsigned width) {
    if (address < kDramWindowTop) {
        return DramRead(address, width);
    }
    uint32_t result = 0;
    bool missing = false, popped = false;
    uint32_t popValue = 0;
    for (unsigned i = 0; i < width; ++i) {
        uint32_t a = address + i;
        uint8_t byte = 0xFF;
        if (a - (kEngineIfBase + 8) < 4) {
            if (!popped) {
                popValue = EnginePop();
                popped = true;
            }
            byte = static_cast<uint8_t>(popValue >> (8 * (a - kEngineIfBase - 8)));
        } else if (!PeekByte(a, &byte)) {
            missing = true;
        }
        result |= static_cast<uint32_t>(byte) << (8 * i);
    }
    if (popped && width != 4) {
        Violate("engine buffer window read with " + std::to_string(width) + " bytes");
    }
    if (missing) {
        RecordUnmapped(Space::Physical, false, address, width, result);
    }
    return result;
}

void Board::Impl::WritePhysical(uint32_t address, unsigned width, uint32_t value) {
    if (address < kDramWindowTop) {
        RecordUnmapped(Space::Physical, true, address, width, value);
        return;
    }
    uint8_t engine[kEngineIfSize] = {};
    uint32_t engineMask = 0;
    bool missing = false;
    for (unsigned i = 0; i < width; ++i) {
        uint32_t a = address + i;
        uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        if (a - kEngineIfBase < kEngineIfSize) {
            engine[a - kEngineIfBase] = byte;
            engineMask |= 1u << (a - kEngineIfBase);
            writtenPhys.insert(a);
            continue;
        }
        uint8_t dummy = 0;
        if (!PeekByte(a, &dummy)) {
            missing = true;
            continue;
        }
        StoreByte(a, byte);
    }
    if (engineMask & 0x000F) {
        uint32_t word = 0;
        for (unsigned i = 0; i < 4; ++i) {
            word |= static_cast<uint32_t>(engine[i]) << (8 * i);
        }
        EngineWriteWindow(word, __builtin_popcount(engineMask & 0xF));
    }
    if (engineMask & 0x00F0) {
        uint32_t current = HostControlWord();
        uint32_t merged = 0;
        for (unsigned i = 0; i < 4; ++i) {
            bool written = (engineMask >> (4 + i)) & 1;
            uint32_t byte = written ? engine[4 + i] : (current >> (8 * i)) & 0xFF;
            merged |= byte << (8 * i);
        }
        EngineWriteControl(merged, (engineMask >> 4) & 0xF);
    }
    if (missing) {
        RecordUnmapped(Space::Physical, true, address, width, value);
    }
}

// ---------------------------------------------------------------------------
// I/O ports

uint32_t Board::Impl::ReadPort(uint32_t port, unsigned width) {
    uint32_t result = 0;
    bool missing = false;
    for (unsigned i = 0; i < width; ++i) {
        uint32_t p = (port + i) & 0xFFFF;
        uint8_t byte = 0xFF;
        if (p == 0x61) {
            // Bit 4 toggles with every refresh request, about every 15 us.
            byte = static_cast<uint8_t>((port61 & 0x0F) | (((now / 15085) & 1) << 4));
        } else if (p == 0x72) {
            byte = cmosIndex;
        } else if (p == 0x73) {
            byte = cmos[cmosIndex & 0x7F];
        } else if (p == 0x80 || p == 0x81 || p == 0x84 || p == 0x85) {
            byte = postPorts[p - 0x80];
        } else if (p >= 0x500 && p < 0x510) {
            byte = SmbusRead(p - 0x500);
        } else if (p == 0xCF9) {
            byte = cf9;
        } else {
            missing = true;
        }
        result |= static_cast<uint32_t>(byte) << (8 * i);
    }
    if (missing) {
        RecordUnmapped(Space::Port, false, port, width, result);
    }
    return result;
}

void Board::Impl::WritePort(uint32_t port, unsigned width, uint32_t value) {
    if (port == 0x80) {
        postCodes.push_back({value & AllOnes(width), width, now});
    }
    bool missing = false;
    for (unsigned i = 0; i < width; ++i) {
        uint32_t p = (port + i) & 0xFFFF;
        uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        if (p == 0x61) {
            port61 = byte & 0x0F;
        } else if (p == 0x72) {
            cmosIndex = byte;
        } else if (p == 0x73) {
            cmos[cmosIndex & 0x7F] = byte;
        } else if (p == 0x80 || p == 0x81 || p == 0x84 || p == 0x85) {
            postPorts[p - 0x80] = byte;
        } else if (p >= 0x500 && p < 0x510) {
            SmbusWrite(p - 0x500, byte);
        } else if (p == 0xCF9) {
            // Bit 2 going from 0 to 1 resets; bits 3 and 1 choose full or hard.
            bool start = (byte & 0x04) && !(cf9 & 0x04);
            cf9 = byte & 0x0A;
            if (start && stop == Stop::None) {
                stop = Stop::Reset;
                resetValue = byte;
            }
        } else {
            missing = true;
        }
    }
    if (missing) {
        RecordUnmapped(Space::Port, true, port, width, value);
    }
}

// ---------------------------------------------------------------------------
// Board

Board::Board(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Board::~Board() = default;

std::unique_ptr<Board> MakeBoard(std::unique_ptr<Board::Impl> impl) {
    impl->PowerOn();
    impl->hangBudget = impl->cfg.hangBudgetNs;
    return std::unique_ptr<Board>(new Board(std::move(impl)));
}

const std::string& Board::Name() const {
    return impl_->cfg.name;
}

uint32_t Board::Read(Space space, uint32_t address, unsigned width) {
    Impl& b = *impl_;
    if (!ValidWidth(width)) {
        b.Violate("read of " + std::to_string(width) + " bytes");
        return 0xFFFFFFFFu;
    }
    if (b.stop != Stop::None) {
        return AllOnes(width);
    }
    if (space == Space::Port) {
        bool delay = address <= 0x61 && address + width > 0x61;
        b.Advance(delay ? b.cfg.costs.port61ReadNs : b.cfg.costs.portReadNs);
    } else {
        b.Advance(b.cfg.costs.memReadNs);
    }
    if (b.now - b.bootStart > b.hangBudget) {
        b.stop = Stop::Hang;
        return AllOnes(width);
    }
    return space == Space::Port ? b.ReadPort(address & 0xFFFF, width)
                                : b.ReadPhysical(address, width);
}

void Board::Write(Space space, uint32_t address, unsigned width, uint32_t value) {
    Impl& b = *impl_;
    if (!ValidWidth(width)) {
        b.Violate("write of " + std::to_string(width) + " bytes");
        return;
    }
    if (b.stop != Stop::None) {
        return;
    }
    value &= AllOnes(width);
    b.Advance(space == Space::Port ? b.cfg.costs.portWriteNs : b.cfg.costs.memWriteNs);
    if (b.now - b.bootStart > b.hangBudget) {
        b.stop = Stop::Hang;
        return;
    }
    if (space == Space::Port) {
        b.WritePort(address & 0xFFFF, width, value);
    } else {
        b.WritePhysical(address, width, value);
    }
}

Stop Board::StopRequested() const {
    return impl_->stop;
}

uint32_t Board::ResetValue() const {
    return impl_->resetValue;
}

void Board::BeginBoot() {
    Impl& b = *impl_;
    b.bootStart = b.now;
    b.stop = Stop::None;
    b.resetValue = 0;
    b.postCodes.clear();
    b.messages.clear();
    b.dramCommands.clear();
    b.violations.clear();
    b.unmapped.clear();
    b.unmappedCount = 0;
    b.writtenPhys.clear();
    b.writtenPci.clear();
}

void Board::PlatformReset() {
    Impl& b = *impl_;
    b.ApplyPowerOnValues(true);
    for (RankState& r : b.ranks) {
        // Power stays on: mode registers keep their contents, but the
        // controller drops the clock enable, so the sequence starts again.
        r.stage = RankStage::PowerUp;
        r.refreshes = 0;
    }
    // 0xF14 bit 8 reports DRAM kept in self-refresh across the reset. The
    // board never puts DRAM into self-refresh, so after its own resets the
    // bit reads 0 whatever the board file found at power-on.
    b.mc.bytes[0xF15] &= 0xFE;
    b.stop = Stop::None;
}

uint64_t Board::NowNs() const {
    return impl_->now;
}
uint64_t Board::BootTimeNs() const {
    return impl_->now - impl_->bootStart;
}
uint64_t Board::HangBudgetNs() const {
    return impl_->hangBudget;
}
void Board::SetHangBudgetNs(uint64_t ns) {
    impl_->hangBudget = ns;
}

const std::vector<PostCode>& Board::PostCodes() const {
    return impl_->postCodes;
}
const std::vector<EngineMessage>& Board::EngineMessages() const {
    return impl_->messages;
}
const std::vector<DramCommand>& Board::DramCommands() const {
    return impl_->dramCommands;
}
const std::vector<Violation>& Board::Violations() const {
    return impl_->violations;
}
const std::vector<UnmappedAccess>& Board::Unmapped() const {
    return impl_->unmapped;
}
uint64_t Board::UnmappedCount() const {
    return impl_->unmappedCount;
}

std::vector<uint32_t> Board::WrittenPhysical() const {
    return std::vector<uint32_t>(impl_->writtenPhys.begin(), impl_->writtenPhys.end());
}

std::vector<PciAddress> Board::WrittenPci() const {
    std::vector<PciAddress> out;
    for (uint32_t off : impl_->writtenPci) {
        out.push_back({static_cast<uint8_t>(off >> 20), static_cast<uint8_t>((off >> 15) & 0x1F),
                       static_cast<uint8_t>((off >> 12) & 7), static_cast<uint16_t>(off & 0xFFF)});
    }
    return out;
}

uint8_t Board::PeekPhysical(uint32_t address) const {
    uint8_t value = 0xFF;
    if (address - (kEngineIfBase + 8) < 4 || address < kDramWindowTop) {
        return 0xFF;
    }
    impl_->PeekByte(address, &value);
    return value;
}

uint8_t Board::PeekPci(const PciAddress& at) const {
    uint8_t value = 0xFF;
    impl_->PeekByte(PciWindowAddress(at.bus, at.device, at.function, at.reg), &value);
    return value;
}

uint8_t Board::CmosByte(uint8_t index) const {
    return impl_->cmos[index & 0x7F];
}

void Board::SetCmosByte(uint8_t index, uint8_t value) {
    impl_->cmos[index & 0x7F] = value;
}

void Board::SetCmosFile(const std::string& path) {
    impl_->cfg.cmosFile = path;
}

bool Board::SaveCmos(std::string* error) const {
    const std::string& path = impl_->cfg.cmosFile;
    if (path.empty()) {
        return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(impl_->cmos.data()), impl_->cmos.size());
    if (!out) {
        *error = "cannot write the CMOS file " + path;
        return false;
    }
    return true;
}

std::unique_ptr<Board> OpenBoardText(const std::string& json, const std::string& baseDir,
                                     std::string* error) {
    auto impl = std::make_unique<Board::Impl>();
    if (!ParseBoardFile(json, baseDir, false, &impl->cfg, error)) {
        return nullptr;
    }
    return MakeBoard(std::move(impl));
}

std::unique_ptr<Board> OpenBoard(const std::string& path, std::string* error) {
    std::string text;
    if (!ReadWholeFile(path, &text)) {
        *error = "cannot read the board file " + path;
        return nullptr;
    }
    std::string inner;
    auto board = OpenBoardText(text, DirectoryOf(path), &inner);
    if (!board) {
        *error = path + ": " + inner;
    }
    return board;
}

std::unique_ptr<Board> OpenDefaultBoard(std::string* error) {
    auto impl = std::make_unique<Board::Impl>();
    if (!ParseBoardFile(DefaultBoardText(), "boards", true, &impl->cfg, error)) {
        return nullptr;
    }
    return MakeBoard(std::move(impl));
}

const std::string& DefaultBoardText() {
    static const std::string text = [] {
        const std::vector<uint8_t>* f = EmbeddedFile("boards/default.json");
        return f ? std::string(f->begin(), f->end()) : std::string("{}");
    }();
    return text;
}

}  // namespace memboard
