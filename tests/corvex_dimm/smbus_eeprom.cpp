// The SMBus host with SPD EEPROMs and the CMOS bank (see smbus_eeprom.h).
#include "tests/corvex_dimm/smbus_eeprom.h"

namespace dimmtest {

namespace {

const uint32_t kStatus = 0x500;
const uint32_t kControl = 0x502;
const uint32_t kCommand = 0x503;
const uint32_t kAddress = 0x504;
const uint32_t kData = 0x505;

const uint8_t kBusy = 0x01;
const uint8_t kDone = 0x02;
const uint8_t kDeviceError = 0x04;
const uint8_t kStart = 0x40;
const uint8_t kByteDataProtocol = 0x08;  // bits 4:2 = 010

}  // namespace

void SmbusEeproms::Attach() {
    scriptbus::Attach(
        [this](const scriptbus::Access& a, uint32_t* value) { return Access(a, value); });
}

std::vector<int> SmbusEeproms::Started(uint8_t address) const {
    std::vector<int> bytes;
    for (const auto& [to, byte] : started_) {
        if (to == address) {
            bytes.push_back(byte);
        }
    }
    return bytes;
}

void SmbusEeproms::Start() {
    started_.push_back({static_cast<uint8_t>(address_ & 0xFE), command_});
    status_ |= kBusy;
    busyLeft_ = busyPolls_;
    zerosLeft_ = 0;
    auto found = devices_.find(address_ & 0xFE);
    if (found == devices_.end() || (address_ & 1) == 0) {
        outcome_ = kDeviceError;  // nobody acknowledges the address
        return;
    }
    const SpdDevice& device = found->second;
    if (command_ == device.failAtByte) {
        outcome_ = kDeviceError;
        return;
    }
    data_ = command_ < device.bytes.size() ? device.bytes[command_] : 0xFF;
    if (command_ == device.zeroAtByte) {
        zerosLeft_ = device.zeroReads;
    }
    outcome_ = kDone;
}

bool SmbusEeproms::Access(const scriptbus::Access& a, uint32_t* value) {
    if (a.space != kHostBusPort || a.address < kStatus || a.address > kData) {
        return false;
    }
    const uint8_t v = static_cast<uint8_t>(a.value);
    if (a.write) {
        switch (a.address) {
            case kStatus:
                status_ &= static_cast<uint8_t>(~(v & 0x1E));
                break;
            case kControl:
                if ((v & kStart) != 0) {
                    if ((v & 0x1C) == kByteDataProtocol) {
                        Start();
                    } else {
                        status_ |= kDeviceError;
                    }
                }
                break;
            case kCommand:
                command_ = v;
                break;
            case kAddress:
                address_ = v;
                break;
            default:
                break;
        }
        return true;
    }
    switch (a.address) {
        case kStatus:
            if ((status_ & kBusy) != 0) {
                if (busyLeft_ > 0) {
                    --busyLeft_;
                } else {
                    status_ = static_cast<uint8_t>((status_ & ~kBusy) | outcome_);
                }
            }
            *value = status_;
            break;
        case kData:
            if (zerosLeft_ > 0) {
                --zerosLeft_;
                *value = 0;
            } else {
                *value = data_;
            }
            break;
        case kCommand:
            *value = command_;
            break;
        case kAddress:
            *value = address_;
            break;
        default:
            *value = 0;
            break;
    }
    return true;
}

void CmosBank::Attach() {
    scriptbus::Attach([this](const scriptbus::Access& a, uint32_t* value) {
        if (a.space != kHostBusPort || (a.address != 0x72 && a.address != 0x73)) {
            return false;
        }
        if (a.address == 0x72) {
            if (a.write) {
                index_ = static_cast<uint8_t>(a.value);
            } else {
                *value = index_;
            }
        } else if (a.write) {
            bytes[index_] = static_cast<uint8_t>(a.value);
        } else {
            *value = bytes[index_];
        }
        return true;
    });
}

}  // namespace dimmtest
