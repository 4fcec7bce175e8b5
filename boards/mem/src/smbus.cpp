// The SMBus host controller at I/O 0x500 and the SPD EEPROMs behind it.
//
// Registers (offset from 0x500): 0 host status (bit 0 busy, bit 1 done,
// bits 2/3/4 device error / bus collision / failed, bit 7 byte done; bits
// 7 and 4:1 are cleared by writing ones), 2 host control (bit 6 starts, bits
// 4:2 the protocol, bit 1 kills), 3 command, 4 target address (bit 0 = read),
// 5 data 0, 6 data 1.
#include "board_internal.h"

namespace memboard {

namespace {

constexpr uint8_t kBusy = 0x01, kDone = 0x02, kDeviceError = 0x04, kFailed = 0x10;

}  // namespace

uint8_t Board::Impl::SmbusPeek(uint32_t offset) const {
    switch (offset) {
        case 0:
            return static_cast<uint8_t>(smbusRegs[0] | (smbusBusy ? kBusy : 0));
        case 2:
            return smbusRegs[2] & 0xBF;
        default:
            return smbusRegs[offset];
    }
}

uint8_t Board::Impl::SmbusRead(uint32_t offset) {
    if (offset == 5 && smbusZeroReadsLeft > 0) {
        --smbusZeroReadsLeft;  // the data latch is late on this silicon
        return 0;
    }
    return SmbusPeek(offset);
}

void Board::Impl::SmbusWrite(uint32_t offset, uint8_t value) {
    if (offset == 0) {
        smbusRegs[0] &= static_cast<uint8_t>(~(value & 0x9E));
        return;
    }
    if (offset != 2) {
        smbusRegs[offset] = value;
        return;
    }
    smbusRegs[2] = value & 0xBF;
    if ((value & 0x02) && smbusBusy) {
        smbusBusy = false;
        smbusRegs[0] |= kFailed;
        return;
    }
    if (!(value & 0x40)) {
        return;
    }
    if (smbusBusy) {
        Violate("SMBus transaction started while the host is busy");
        return;
    }
    unsigned protocol = (value >> 2) & 7;
    uint8_t target = smbusRegs[4];
    uint8_t command = smbusRegs[3];
    bool read = target & 1;
    unsigned device = target >> 1;
    int slot = device >= 0x50 && device < 0x54 ? static_cast<int>(device - 0x50) : -1;
    const DimmConfig* dimm = slot >= 0 && cfg.dimms[slot].fitted ? &cfg.dimms[slot] : nullptr;
    smbusResultData = 0;
    if (!dimm) {
        smbusResultStatus = kDeviceError;  // nobody acknowledges the address
    } else if (protocol == 0) {
        smbusResultStatus = kDone;  // quick command: the address is acknowledged
    } else if (protocol == 2 && read) {
        smbusResultStatus = kDone;
        smbusResultData = dimm->spd[command];
        unsigned attempt = ++spdErrorCount[slot][command];
        for (const SpdError& e : dimm->errors) {
            if (e.byte == command && (e.times == 0 || attempt <= e.times)) {
                smbusResultStatus = e.status;
            }
        }
    } else if (protocol == 2 || protocol == 1) {
        // The EEPROMs are write protected and take no current-address reads.
        smbusResultStatus = kDeviceError;
        if (!read) {
            Violate("SMBus write to the SPD EEPROM of slot " + std::to_string(slot));
        }
    } else {
        smbusResultStatus = kDeviceError;
        Violate("SMBus protocol " + std::to_string(protocol) + " is not answered by an SPD EEPROM");
    }
    smbusBusy = true;
    smbusDue = now + cfg.smbusTransactionNs;
}

void Board::Impl::SmbusTick() {
    if (!smbusBusy || now < smbusDue) {
        return;
    }
    smbusBusy = false;
    smbusRegs[0] |= smbusResultStatus;
    if (smbusResultStatus == kDone) {
        smbusRegs[5] = smbusResultData;
        smbusZeroReadsLeft = cfg.smbusSpuriousZeroReads;
    }
}

}  // namespace memboard
