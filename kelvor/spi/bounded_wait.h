// The bounded wait shared by every cycle routine: a tight poll of one status
// register (no sleeping) that gives up once the calendar clock, read in whole
// seconds, shows more than the limit has passed since the wait began.
#ifndef KELVOR_SPI_BOUNDED_WAIT_H
#define KELVOR_SPI_BOUNDED_WAIT_H

#include <cstdint>

constexpr uint32_t kWaitLimitMs = 2000;
constexpr uint32_t kChipEraseWaitLimitMs = 30000;

// Where the waits take the time from. Normally the calendar clock; a test
// sets Simulated to read Seconds instead, which every reading then advances
// by StepPerRead, so that a wait that can never end costs no real time.
struct WaitSecondsSource {
    int32_t Simulated;
    int64_t Seconds;
    int64_t StepPerRead;
};

extern WaitSecondsSource WaitClock;

// The clock in whole seconds, from the source above.
int64_t ReadWaitClockSeconds();

// Polls the `width`-bit (8 or 16) status register at `offset`. Both return
// 0 when the condition was met and 1 on timeout; `lastStatus`, when given,
// receives the last value read.
int WaitWhileStatusSet(uint32_t offset, unsigned width, uint32_t mask, uint32_t limitMs,
                       uint32_t* lastStatus);
int WaitUntilStatusSet(uint32_t offset, unsigned width, uint32_t mask, uint32_t limitMs,
                       uint32_t* lastStatus);

#endif  // KELVOR_SPI_BOUNDED_WAIT_H
