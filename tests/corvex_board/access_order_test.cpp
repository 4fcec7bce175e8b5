// Every access of a full-detection boot on the default board, outside the
// SPD reads, against the list the entry, the step driver and the steps they
// call give for that board: one module in slot 0, revisions 2, the ME ready
// at once with an 8 MB share, the TPM valid at once. The controller steps
// that are not built yet make no accesses.
#include "tests/corvex_board/board_boot.h"

namespace cvxboard {
namespace {

const uint32_t kHostBridge = Cfg(0, 0, 0);
const uint32_t kEngineFunction = Cfg(3, 0, 0);
const uint32_t kInitState = Cfg(31, 0, 0xA2);
const uint32_t kTpmAccess = 0xFED40000;
const uint32_t kHostWindow = kEngineIf + 0x0;
const uint32_t kHostControl = kEngineIf + 0x4;
const uint32_t kEngineWindow = kEngineIf + 0x8;
const uint32_t kEngineStatus = kEngineIf + 0xC;

const uint8_t kCmosIndex[16] = {0x85, 0x86, 0x87, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                                0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3};

Step Post(uint32_t code) {
    return IoW(0x80, code);
}
Step AnyR(unsigned width, uint32_t address) {
    return MemR(width, address, 0, 0);
}

// Entry steps 1 to 10, up to the SPD reads.
std::vector<Step> EntryUntilSpd() {
    return {IoW(0x85, 0x01), Post(0xA0),
            // Step 4.
            AnyR(1, kHostBridge + 0xDF), MemW(1, kHostBridge + 0xDF, 0x13),
            // Step 5: the controller block.
            Post(0x01), MemW(4, kHostBridge + 0x48, 0xFED14001),
            // Step 6: bit 11 clear, so wait for the TPM's register-valid bit.
            MemR(4, kHostBridge + 0xE8, 0, 1u << 11), Poll(MemR(1, kTpmAccess, 0x00, 0x80), 1, 0),
            MemR(1, kTpmAccess, 0x80, 0x80),
            // Step 7: the ME's share and status, then whether it holds memory.
            Post(0x02), MemR(1, Mc(0xA2E), 0x08), MemR(4, kEngineFunction + 0x40, 0),
            MemR(4, Mc(0xA30), 0),
            // Steps 8 and 9: nothing in progress; mark initialization in progress.
            Post(0x03), MemR(1, kInitState, 0), MemR(1, kInitState, 0), MemW(1, kInitState, 0x80),
            // Step 10.
            Post(0xDD)};
}

// Validation, selection, timings and rank maps of the one module, then the
// driver, the handshake and the CMOS copy.
std::vector<Step> AfterSpd(const MemInitOutput& output) {
    std::vector<Step> s = {
        // Validation of slot 0.
        Post(0x04),
        Post(0x05),
        Post(0x06),
        Post(0x07),
        Post(0x08),
        // Selection: the host bus strap, then the capability register.
        Post(0x09),
        Post(0x09),
        MemR(1, Mc(0xC00), 0x00),
        Post(0x09),
        Post(0x10),
        MemR(1, kHostBridge + 0xE3, 0x00),
        // Timings of slot 0.
        Post(0x11),
        Post(0x11),
        Post(0x12),
        Post(0x13),
        Post(0x14),
        Post(0x15),
        Post(0x16),
        Post(0x17),
        Post(0x18),
        Post(0x19),
        Post(0x20),
        // Rank maps: the eight-bank mark depends on the host bridge revision.
        Post(0x21),
        Post(0x21),
        MemR(1, kHostBridge + 0x08, 0x02),

        // Driver steps 1 to 5: no DRAM preserved, no saved calibration.
        Post(0x22),
        MemR(1, Mc(0x5FF), 0),
        MemW(1, Mc(0x5FF), 0),
        MemR(4, Mc(0xF14), 0),
        MemR(2, Mc(0xA0C), 0),
        // Step 6.
        Post(0x23),
        MemR(4, Mc(0xF14), 0),
        MemW(4, Mc(0xF14), 0x3),
        // Steps 7 and 8.
        Post(0x24),
        Post(0x25),
        Post(0x26),
        MemR(2, Mc(0xC1C), 0),
        MemW(2, Mc(0xC1C), 0x8000),
        // Steps 9 to 14.
        Post(0x27),
        Post(0x28),
        Post(0x29),
        Post(0x30),
        Post(0x31),
        Post(0x32),
        // Step 15: the register group load is idle.
        Post(0x33),
        Poll(MemR(1, Mc(0x130), 0x01, 0x01), 1, 0),
        MemR(1, Mc(0x130), 0x00, 0x01),
        // Steps 16 and 17.
        Post(0x34),
        Post(0x35),
        Post(0x36),
        Post(0x37),
        // Step 18: a later revision does nothing here.
        MemR(1, kHostBridge + 0x08, 0x02),
        // Step 19: save the receive-enable results.
        Post(0x38),
        MemR(4, Mc(0x248), 0),
        MemR(1, Mc(0xA0C), 0),
        MemW(1, Mc(0xA0C), 0),
        MemR(4, Mc(0x648), 0),
        MemR(1, Mc(0xA0D), 0),
        MemW(1, Mc(0xA0D), 0),
        // Steps 20 to 23.
        Post(0x39),
        Post(0x40),
        Post(0x41),
        Post(0x42),
        MemR(1, Mc(0x40), 0),
        MemW(1, Mc(0x40), 0x02),
        // Step 24: clear bit 1 of 0x130, read it back, 0x1F0 bits 13:12 = 01.
        Post(0x43),
        MemR(1, Mc(0x130), 0),
        MemW(1, Mc(0x130), 0),
        MemR(1, Mc(0x130), 0),
        MemR(2, Mc(0x1F0), 0),
        MemW(2, Mc(0x1F0), 0x1000),
        // Step 25.
        MemR(1, Mc(0x5FF), 0),
        MemW(1, Mc(0x5FF), 0x80),
        MemR(1, Mc(0x130), 0),
        MemW(1, Mc(0x130), 0x82),
        // Step 26.
        Post(0x44),
        MemR(4, kEngineFunction + 0x40, 0),
        // Step 27: make the HPET respond and run.
        MemR(4, kHpetDecode, 0),
        MemW(4, kHpetDecode, 0x80),
        MemR(4, kHpetDecode, 0x80),
        MemR(4, kHpetConfig, 0),
        MemW(4, kHpetConfig, 0x1),

        // The handshake. The engine is ready; the host side is made ready.
        Post(0x4E),
        AnyR(4, kHpetCounter),
        MemR(4, kEngineStatus, 0x08, 0x08),
        MemR(4, kHostControl, 0x00, 0x08),
        MemR(4, kHostControl, 0x10000000),
        MemW(4, kHostControl, 0x10000000),
        MemR(4, kHostControl, 0x10000000),
        MemW(4, kHostControl, 0x1000000C),
        // DRAM-init-done in one chunk: depth, ready, room, header and payload,
        // interrupt generate.
        MemR(4, kHostControl, 0x10000000, 0xFF000000),
        AnyR(4, kHpetCounter),
        MemR(4, kEngineStatus, 0x08, 0x08),
        MemR(4, kHostControl, 0x10000000, 0xFFFFFF00),
        MemW(4, kHostWindow, 0x800A0001),
        MemW(4, kHostWindow, 0x02020208),
        MemW(4, kHostWindow, 0xA2A00204),
        MemW(4, kHostWindow, 0x0000A6A4),
        MemR(4, kHostControl, 0x10040008, 0xFFFFFF08),
        Masked(MemW(4, kHostControl, 0x1004000C), 0xFFFFFF0C),
        // The reply: the overall start and its first deadline check; the
        // chunk acknowledges the interrupt status, finds the engine buffer
        // empty, and polls the deadline and the buffer until the reply is in.
        AnyR(4, kHpetCounter),
        AnyR(4, kHpetCounter),
        AnyR(4, kHostControl),
        Masked(MemW(4, kHostControl, 0x02), 0x02),
        MemR(4, kEngineStatus, 0x10000008),
        AnyR(4, kHpetCounter),
        Poll(AnyR(4, kHpetCounter), 2, 0),
        MemR(4, kEngineStatus, 0x10000008),
        AnyR(4, kHpetCounter),
        MemR(4, kEngineStatus, 0x10020008),
        // Header, then its one payload dword, each after the identification
        // check of the revision-0 hand-off.
        MemR(4, kEngineFunction, 0x01107A5C),
        MemR(1, kEngineFunction + 0x08, 0x02),
        MemR(4, kEngineWindow, 0x80030001),
        AnyR(4, kHpetCounter),
        MemR(4, kEngineStatus, 0x10020108),
        MemR(4, kEngineFunction, 0x01107A5C),
        MemR(1, kEngineFunction + 0x08, 0x02),
        MemR(4, kEngineWindow, 0x00000088),
        MemR(4, kEngineStatus, 0x08, 0x08),
        AnyR(4, kHostControl),
        Masked(MemW(4, kHostControl, 0x04), 0x04),
        // Channel A holds the module, channel B nothing: two RMWs at 0xA2F.
        MemR(4, Mc(0xA2F), 0),
        MemW(4, Mc(0xA2F), 0x1),
        MemR(4, Mc(0xA2F), 0x1),
        MemW(4, Mc(0xA2F), 0x1),
        // The ME did not hold memory before: memory is ready.
        MemR(4, Mc(0xA30), 0),
        MemW(4, Mc(0xA30), 1u << 26),
        // Step 27 ends: stop the counter, read back, put the decode back.
        MemR(4, kHpetConfig, 0x1),
        MemW(4, kHpetConfig, 0),
        MemR(4, kHpetConfig, 0),
        MemW(4, kHpetDecode, 0),
        // Step 28: initialization complete.
        Post(0x45),
        MemR(1, kInitState, 0x80),
        MemW(1, kInitState, 0x00),
    };
    // The CMOS copy: index, then the same byte as the output block's copy.
    const auto* saved = reinterpret_cast<const uint8_t*>(output.savedConfig);
    for (int k = 0; k < 16; ++k) {
        s.push_back(IoW(0x72, kCmosIndex[k]));
        s.push_back(IoW(0x73, saved[k]));
    }
    return s;
}

using AccessOrder = BoardTest;

TEST_F(AccessOrder, AFullDetectionBootMakesEveryAccessInItsOrderAndWidth) {
    auto b = Open(ShippedBoard("default"));
    ASSERT_TRUE(b);
    Boot boot = Run(*b);
    ASSERT_EQ(boot.outcome(), harness::Outcome::Returned);
    const std::vector<harness::Access>& all = boot.accesses();

    // The SPD reads lie between POST codes 0xDD and the first 0x04.
    size_t dd = all.size(), first04 = all.size();
    for (size_t i = 0; i < all.size(); ++i) {
        const harness::Access& a = all[i];
        if (a.write && a.space == Space::Port && a.address == 0x80) {
            if (a.value == 0xDD && dd == all.size()) {
                dd = i;
            } else if (a.value == 0x04 && dd < i) {
                first04 = i;
                break;
            }
        }
    }
    ASSERT_LT(first04, all.size());
    std::vector<harness::Access> entry(all.begin(), all.begin() + static_cast<long>(dd) + 1);
    EXPECT_TRUE(MatchesSteps(entry, 0, EntryUntilSpd()));
    EXPECT_TRUE(MatchesSteps(all, first04, AfterSpd(boot.result.output)));
}

}  // namespace
}  // namespace cvxboard
