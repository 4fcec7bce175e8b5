// Test support until the virtual memory board lands: an SMBus host
// controller at ports 0x500..0x505 with SPD EEPROMs behind it, answering
// corvex's accesses on the scripted bus, with faults to switch on per device.
// Only byte-data reads are understood; anything else ends in a device error.
#ifndef TESTS_CORVEX_DIMM_SMBUS_EEPROM_H
#define TESTS_CORVEX_DIMM_SMBUS_EEPROM_H

#include <cstdint>
#include <map>
#include <vector>

#include "tests/corvex/scripted_bus.h"

namespace dimmtest {

struct SpdDevice {
    std::vector<uint8_t> bytes;  // EEPROM content; bytes past its end read 0xFF
    int failAtByte = -1;         // a read of this byte number ends in a device error
    // The first `zeroReads` data-port reads of a transaction for this byte
    // number give 0 before the real value shows (a flaky revision-0 host).
    int zeroAtByte = -1;
    int zeroReads = 0;
};

class SmbusEeproms {
  public:
    // A device at an 8-bit SMBus address (0xA0, 0xA2, ...).
    void Put(uint8_t address, const SpdDevice& device) { devices_[address] = device; }
    // No devices, idle host, nothing started.
    void Clear() { *this = SmbusEeproms(); }
    // Status reads that still show the host busy after each start.
    void SetBusyPolls(unsigned polls) { busyPolls_ = polls; }
    // Joins the scripted bus (again after each scriptbus::Reset); the object
    // must outlive the run.
    void Attach();

    // Byte numbers of the transactions started towards an address, in order.
    std::vector<int> Started(uint8_t address) const;

  private:
    bool Access(const scriptbus::Access& access, uint32_t* value);
    void Start();

    std::map<uint8_t, SpdDevice> devices_;
    unsigned busyPolls_ = 0;
    uint8_t status_ = 0;
    uint8_t command_ = 0;
    uint8_t address_ = 0;
    uint8_t data_ = 0;
    unsigned busyLeft_ = 0;
    uint8_t outcome_ = 0;  // status bits that show when the host is no longer busy
    int zerosLeft_ = 0;
    std::vector<std::pair<uint8_t, int>> started_;
};

// The second CMOS bank of the real-time clock: index at port 0x72, data at 0x73.
class CmosBank {
  public:
    void Attach();
    uint8_t bytes[256] = {};

  private:
    uint8_t index_ = 0;
};

}  // namespace dimmtest

#endif  // TESTS_CORVEX_DIMM_SMBUS_EEPROM_H
