// A small register file behind a trap window for the trap tests: 4 KB of
// bytes that loads and stores reach with their width, and a log of every
// access in the order the device saw it. Runs inside the fault handler, so it
// only touches fixed arrays.
#ifndef TESTS_RAVOACC32_RECORDING_DEVICE_H
#define TESTS_RAVOACC32_RECORDING_DEVICE_H

#include <cstdint>
#include <cstring>

#include "trap/mmio_trap.h"

namespace ravotest {

struct DeviceAccess {
    bool Write;
    uint32_t Address;
    unsigned Width;
    uint32_t Value;
};

struct RecordingDevice {
    static constexpr int kLogSize = 64;

    uint32_t Base = 0;
    uint8_t Bytes[4096] = {};
    DeviceAccess Log[kLogSize] = {};
    int Count = 0;

    explicit RecordingDevice(uint32_t base) : Base(base) {}

    ravotrap::TrapDevice AsTrapDevice() { return {Read, Write, this}; }

    void Set(uint32_t offset, uint32_t value, unsigned width) {
        for (unsigned i = 0; i < width; ++i) {
            Bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
    uint32_t Get(uint32_t offset, unsigned width) const {
        uint32_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            value |= static_cast<uint32_t>(Bytes[offset + i]) << (8 * i);
        }
        return value;
    }

    static uint32_t Read(void* context, uint32_t physicalAddress, unsigned width) {
        auto* self = static_cast<RecordingDevice*>(context);
        const uint32_t value = self->Get(physicalAddress - self->Base, width);
        self->Record(false, physicalAddress, width, value);
        return value;
    }
    static void Write(void* context, uint32_t physicalAddress, unsigned width, uint32_t value) {
        auto* self = static_cast<RecordingDevice*>(context);
        self->Set(physicalAddress - self->Base, value, width);
        self->Record(true, physicalAddress, width, value);
    }

  private:
    void Record(bool write, uint32_t address, unsigned width, uint32_t value) {
        if (Count < kLogSize) {
            Log[Count++] = {write, address, width, value};
        }
    }
};

}  // namespace ravotest

#endif  // TESTS_RAVOACC32_RECORDING_DEVICE_H
