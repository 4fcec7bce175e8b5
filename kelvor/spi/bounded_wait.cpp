// The bounded wait and its clock.
#include "kelvor/spi/bounded_wait.h"

#include <ctime>

#include "kelvor/spi/spi_window.h"

WaitSecondsSource WaitClock = {0, 0, 0};

int64_t ReadWaitClockSeconds() {
    if (WaitClock.Simulated == 0) {
        return static_cast<int64_t>(std::time(nullptr));
    }
    const int64_t now = WaitClock.Seconds;
    WaitClock.Seconds += WaitClock.StepPerRead;
    return now;
}

namespace {

uint32_t ReadStatus(uint32_t offset, unsigned width) {
    return width == 8 ? SpiRead8(offset) : SpiRead16(offset);
}

// want = 1: wait until a bit of `mask` is set; want = 0: while one is set.
int Wait(uint32_t offset, unsigned width, uint32_t mask, int want, uint32_t limitMs,
         uint32_t* lastStatus) {
    const int64_t start = ReadWaitClockSeconds();
    for (;;) {
        const uint32_t status = ReadStatus(offset, width);
        if (lastStatus != nullptr) {
            *lastStatus = status;
        }
        if (((status & mask) != 0 ? 1 : 0) == want) {
            return 0;
        }
        const int64_t elapsedMs = (ReadWaitClockSeconds() - start) * 1000;
        if (elapsedMs > static_cast<int64_t>(limitMs)) {
            return 1;
        }
    }
}

}  // namespace

int WaitWhileStatusSet(uint32_t offset, unsigned width, uint32_t mask, uint32_t limitMs,
                       uint32_t* lastStatus) {
    return Wait(offset, width, mask, 0, limitMs, lastStatus);
}

int WaitUntilStatusSet(uint32_t offset, unsigned width, uint32_t mask, uint32_t limitMs,
                       uint32_t* lastStatus) {
    return Wait(offset, width, mask, 1, limitMs, lastStatus);
}
