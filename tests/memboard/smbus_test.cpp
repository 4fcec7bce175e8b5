// The SMBus host controller and the SPD EEPROMs behind it.
#include "tests/memboard/board_fixture.h"
#include "tests/support/files.h"

namespace boardtest {
namespace {

struct Transaction {
    uint8_t status;  // host status bits 4:1 when it ended
    uint8_t data;
    unsigned polls;
};

// A byte-data read as firmware does it: clear the status, set command and
// target, start, poll until done or an error bit, read the data.
Transaction ReadByte(Board& b, unsigned slot, uint8_t byte) {
    Out(b, 0x500, 0x1E);
    Out(b, 0x503, byte);
    Out(b, 0x504, 0xA0 + 2 * slot + 1);
    Out(b, 0x502, 0x48);
    Transaction t{0, 0, 0};
    while ((t.status = In(b, 0x500) & 0x1E) == 0) {
        ++t.polls;
    }
    t.data = static_cast<uint8_t>(In(b, 0x505));
    return t;
}

TEST(Smbus, ByteDataReadsAndInjectedErrors) {
    auto b = MakeBoard(R"({"dimms": [{"slot": 0, "spd": "../spd/sodimm-crucial-ct12864ac800.spd",
                                      "errors": [{"byte": 5, "status": "bus"},
                                                 {"byte": 9, "status": "failed", "times": 1}]},
                                     {"slot": 2, "spd": "../spd/sodimm-crucial-ct12864ac800.spd",
                                      "errors": [{"byte": 0}]}]})");
    struct Case {
        unsigned slot;
        uint8_t byte;
        uint8_t status;
        int data;  // -1: not looked at
    };
    const Case cases[] = {
        {0, 2, 0x02, 0x08},                      // memory type DDR2
        {0, 20, 0x02, 0x04},                     // SO-DIMM
        {0, 5, 0x08, -1},                        // injected bus error, every time
        {0, 5, 0x08, -1},     {0, 9, 0x10, -1},  // injected failure, first attempt only
        {0, 9, 0x02, 0x25},   {2, 0, 0x04, -1},  // the other DIMM's own injection
        {2, 2, 0x02, 0x08},   {1, 2, 0x04, -1},  // empty slot: nobody acknowledges
        {0, 200, 0x02, 0xFF},                    // past the module's data
    };
    for (const Case& c : cases) {
        Transaction t = ReadByte(*b, c.slot, c.byte);
        EXPECT_EQ(t.status, c.status) << "slot " << c.slot << " byte " << int(c.byte);
        if (c.data >= 0) {
            EXPECT_EQ(t.data, c.data) << "slot " << c.slot << " byte " << int(c.byte);
        }
        EXPECT_GT(t.polls, 10u);  // a transaction takes its time
    }
}

TEST(Smbus, StatusBitsClearOnlyByWritingOnes) {
    auto b = MakeBoard();
    ReadByte(*b, 1, 0);
    EXPECT_EQ(In(*b, 0x500) & 0x1E, 0x04u);
    Out(*b, 0x500, 0x00);
    EXPECT_EQ(In(*b, 0x500) & 0x1E, 0x04u);
    Out(*b, 0x500, 0x1E);
    EXPECT_EQ(In(*b, 0x500), 0x00u);
    // Busy while a transaction runs; a second start meanwhile is refused.
    Out(*b, 0x504, 0xA1);
    Out(*b, 0x502, 0x48);
    EXPECT_EQ(In(*b, 0x500) & 0x01, 0x01u);
    Out(*b, 0x502, 0x48);
    ASSERT_EQ(b->Violations().size(), 1u);
    EXPECT_NE(b->Violations()[0].what.find("busy"), std::string::npos);
}

TEST(Smbus, LateDataLatchReadsZeroFirst) {
    auto b = MakeBoard(R"({"smbus": {"spuriousZeroReads": 2}})");
    Transaction t = ReadByte(*b, 0, 2);
    EXPECT_EQ(t.data, 0);  // first read
    EXPECT_EQ(In(*b, 0x505), 0u);
    EXPECT_EQ(In(*b, 0x505), 8u);
}

TEST(Smbus, HexSpdImages) {
    testsupport::ScratchDir dir("hexspd");
    ASSERT_TRUE(
        testsupport::WriteFileText(dir / "module.hex", "# bytes 0..3\n80 08 08 0e\n0a 61\n"));
    std::string error;
    auto b = memboard::OpenBoardText(R"({"dimms": [{"slot": 0, "spd": "module.hex"}]})", dir.path(),
                                     &error);
    ASSERT_TRUE(b) << error;
    b->BeginBoot();
    EXPECT_EQ(ReadByte(*b, 0, 5).data, 0x61);
    EXPECT_EQ(ReadByte(*b, 0, 6).data, 0xFF);  // past the image: erased EEPROM
    ASSERT_TRUE(testsupport::WriteFileText(dir / "bad.hex", "80 0g\n"));
    EXPECT_FALSE(memboard::OpenBoardText(R"({"dimms": [{"slot": 0, "spd": "bad.hex"}]})",
                                         dir.path(), &error));
    EXPECT_NE(error.find("not a hex byte"), std::string::npos) << error;
}

}  // namespace
}  // namespace boardtest
