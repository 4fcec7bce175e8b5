// The main sequence over logging stand-ins of the access library, the SPI
// layer and the operations (fake_lower_layers.cpp): which calls it makes with
// which range, the operation precedence, the region rules, the settings and
// every exit code with its message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

using testsupport::ProcessOptions;
using testsupport::ProcessResult;

const std::string kBanner =
    "--------------------------------------------\n"
    "Kelvor. Version 0.8.9\n\n";
// Leading line, banner and the bring-up's own line.
const std::string kStart = "\n" + kBanner + "[spi]\n";

const std::string kOpened =
    "InitRAVODriver\nInitializeSpi(part=chipdefs.txt,out=1,prompt=1,erase=1)\n";
// Released after a failure: the part list is still held.
const std::string kFailedEnd = "RAVOUnMapPhysAddress\nRavoDestroy(parts held)\n";
// The normal end frees the part list first.
const std::string kNormalEnd = "RAVOUnMapPhysAddress\nRavoDestroy(parts none)\n";

const std::string kEraseQuestion = "\nAre you sure you want to erase the entire flash (Y/N): ";
const std::string kEraseSuccess = "\nErase: SUCCESS\n";
const std::string kNoReadAccess =
    "\n>>> Error: The host CPU does not have read access to the target flash area!\n\n";
const std::string kWpEraseFailed =
    "\n>>> Error: Failed to disable write protection for the BIOS space! Unable to perform erase "
    "operation!\n";
const std::string kWpWriteFailed =
    "\n>>> Error: Failed to disable write protection for the BIOS space! Unable to perform write "
    "operation!\n";
const std::string kAddressWarning =
    "\n>>> Warning: /address has no effect when run with any of the following:\n\t/gbe, /desc, "
    "/me, /bios\n";

struct SequenceCase {
    const char* title;
    std::vector<std::string> arguments;
    std::string fake;  // KELVOR_FAKE
    std::string input;
    std::string out;
    std::string calls;  // the stand-ins' log
    int exitCode;
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.title;
}

class MainSequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(MainSequence, CallsPrintsAndExits) {
    const SequenceCase& c = GetParam();
    std::vector<std::string> argv = {KELVOR_FRONT_FAKE};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    ProcessOptions options;
    options.input = c.input;
    options.env = {{"KELVOR_FAKE", c.fake}};
    options.timeoutSeconds = 20;
    ProcessResult r = testsupport::RunProcess(argv, options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.calls);
    EXPECT_EQ(r.exitCode, c.exitCode);
}

std::string CaseName(const testing::TestParamInfo<SequenceCase>& info) {
    return "Case" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(
    EarlyExits, MainSequence,
    testing::Values(
        SequenceCase{"no arguments: bring-up only", {}, "", "", kStart, kOpened + kNormalEnd, 0},
        SequenceCase{
            "library does not open", {"/i"}, "init=0", "", "\n" + kBanner, "InitRAVODriver\n", 1},
        SequenceCase{"bring-up fails", {"/i"}, "spi=1", "", kStart, kOpened + kFailedEnd, 2},
        SequenceCase{
            "settings reach the bring-up",
            {"/p:parts.txt", "/e", "/y"},
            "",
            "",
            kStart,
            "InitRAVODriver\nInitializeSpi(part=parts.txt,out=1,prompt=0,erase=0)\n" + kNormalEnd,
            0},
        SequenceCase{"part file path of 259 characters fits",
                     {"/p", std::string(259, 'p')},
                     "",
                     "",
                     kStart,
                     "InitRAVODriver\nInitializeSpi(part=" + std::string(259, 'p') +
                         ",out=1,prompt=1,erase=1)\n" + kNormalEnd,
                     0},
        SequenceCase{"quiet",
                     {"/q", "/b"},
                     "",
                     "",
                     "\n",
                     "InitRAVODriver\nInitializeSpi(part=chipdefs.txt,out=0,prompt=1,erase=1)\n"
                     "BlankCheck\n" +
                         kNormalEnd,
                     0},
        SequenceCase{"quiet information display",
                     {"/q", "/i"},
                     "op=77",
                     "",
                     "\n\nWarning: /i run with /q has no affect!\n\n",
                     "InitRAVODriver\nInitializeSpi(part=chipdefs.txt,out=0,prompt=1,erase=1)\n"
                     "DisplayFlashInformation\n" +
                         kNormalEnd,
                     77}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Ranges, MainSequence,
    testing::Values(
        SequenceCase{"two regions: refused after the bring-up",
                     {"/bios", "/me", "/d", "x"},
                     "",
                     "",
                     kStart +
                         "\n>>> Error: More than one region was specified. Only one region may "
                         "be\n\tspecified at a time. Unable to continue.\n",
                     kOpened + kFailedEnd,
                     12},
        SequenceCase{"region overrides the address",
                     {"/desc", "/address:0x500", "/d:out.bin"},
                     "",
                     "",
                     kStart + kAddressWarning,
                     kOpened +
                         "SpiGetRegion(1)\nSpiCheckAccess(0x00001000,8192,0)\n"
                         "DumpFlashToFile(out.bin,0x00001000,8192)\n" +
                         kNormalEnd,
                     0},
        SequenceCase{"length within a region",
                     {"/bios", "/length", "0x1000", "/d", "x"},
                     "",
                     "",
                     kStart,
                     kOpened +
                         "SpiGetRegion(2)\nSpiCheckAccess(0x00001000,4096,0)\n"
                         "DumpFlashToFile(x,0x00001000,4096)\n" +
                         kNormalEnd,
                     0},
        SequenceCase{"length -1 is no length: no check",
                     {"/length:-1", "/v", "x"},
                     "",
                     "",
                     kStart,
                     kOpened + "VerifyFlash(x,0x00000000,-1)\n" + kNormalEnd,
                     0},
        SequenceCase{"other negative length keeps the region size out",
                     {"/gbe", "/length:-5", "/v:x"},
                     "",
                     "",
                     kStart,
                     kOpened + "SpiGetRegion(8)\nVerifyFlash(x,0x00001000,-5)\n" + kNormalEnd,
                     0},
        SequenceCase{"negated address reaches the operation",
                     {"/address:-0x10", "/d", "x"},
                     "",
                     "",
                     kStart,
                     kOpened + "DumpFlashToFile(x,0xFFFFFFF0,-1)\n" + kNormalEnd,
                     0},
        SequenceCase{"descriptor invalid",
                     {"/me", "/f", "x"},
                     "region=1",
                     "",
                     kStart +
                         "\n>>> Error: Cannot determine the target region location because the "
                         "flash descriptor is invalid!\n\n",
                     kOpened + "SpiGetRegion(4)\n" + kFailedEnd,
                     3},
        SequenceCase{"region not defined",
                     {"/gbe", "/d:x"},
                     "region=2",
                     "",
                     kStart + "\n>>> Error: The target flash region is not defined in the flash "
                              "descriptor!\n\n",
                     kOpened + "SpiGetRegion(8)\n" + kFailedEnd,
                     4},
        SequenceCase{"no read access for a verify",
                     {"/v", "x", "/length", "16"},
                     "access=1",
                     "",
                     kStart + kNoReadAccess,
                     kOpened + "SpiCheckAccess(0x00000000,16,0)\n" + kFailedEnd,
                     11},
        SequenceCase{"no read access for a dump of length 0",
                     {"/d:x", "/address:0x2000", "/length:0"},
                     "access=1",
                     "",
                     kStart + kNoReadAccess,
                     kOpened + "SpiCheckAccess(0x00002000,0,0)\n" + kFailedEnd,
                     11}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Operations, MainSequence,
    testing::Values(
        SequenceCase{"information first, its code is the exit code",
                     {"/c", "/b", "/i"},
                     "op=212",
                     "",
                     kStart,
                     kOpened + "DisplayFlashInformation\n" + kNormalEnd,
                     212},
        SequenceCase{"erase before blank check, /y answers",
                     {"/b", "/c", "/y"},
                     "",
                     "",
                     kStart + kEraseQuestion + "Y\n" + kEraseSuccess,
                     "InitRAVODriver\nInitializeSpi(part=chipdefs.txt,out=1,prompt=0,erase=1)\n"
                     "DisableBiosWriteProtection\nSpiEraseFlash\n" +
                         kNormalEnd,
                     0},
        SequenceCase{"blank check before write",
                     {"/f:a", "/b"},
                     "op=3",
                     "",
                     kStart,
                     kOpened + "BlankCheck\n" + kNormalEnd,
                     3},
        SequenceCase{"write before verify and dump",
                     {"/v:b", "/d:c", "/f:a"},
                     "",
                     "",
                     kStart,
                     kOpened + "DisableBiosWriteProtection\nWriteFileToFlash(a,0x00000000,-1)\n" +
                         kNormalEnd,
                     0},
        SequenceCase{"first of a repeated file is used",
                     {"/f:a.bin", "/f:b.bin"},
                     "",
                     "",
                     "\nWarning: Option /f has already been specified and will be ignored.\n" +
                         kBanner + "[spi]\n",
                     kOpened +
                         "DisableBiosWriteProtection\nWriteFileToFlash(a.bin,0x00000000,-1)\n" +
                         kNormalEnd,
                     0},
        SequenceCase{
            "write to GbE leaves the protection alone",
            {"/gbe", "/f", "x"},
            "",
            "",
            kStart,
            kOpened + "SpiGetRegion(8)\nWriteFileToFlash(x,0x00001000,8192)\n" + kNormalEnd,
            0},
        SequenceCase{"write to BIOS lifts the protection",
                     {"/bios", "/f", "x"},
                     "",
                     "",
                     kStart,
                     kOpened +
                         "SpiGetRegion(2)\nDisableBiosWriteProtection\n"
                         "WriteFileToFlash(x,0x00001000,8192)\n" +
                         kNormalEnd,
                     0},
        SequenceCase{"protection stays on: no write",
                     {"/f", "x"},
                     "wp=0",
                     "",
                     kStart + kWpWriteFailed,
                     kOpened + "DisableBiosWriteProtection\n" + kFailedEnd,
                     11},
        SequenceCase{"protection stays on: no erase question",
                     {"/c"},
                     "wp=0",
                     "",
                     kStart + kWpEraseFailed,
                     kOpened + "DisableBiosWriteProtection\n" + kFailedEnd,
                     11},
        SequenceCase{"erase confirmed",
                     {"/c"},
                     "",
                     "y\n",
                     kStart + kEraseQuestion + kEraseSuccess,
                     kOpened + "DisableBiosWriteProtection\nSpiEraseFlash\n" + kNormalEnd,
                     0},
        SequenceCase{"erase declined",
                     {"/c"},
                     "",
                     "yes\n",
                     kStart + kEraseQuestion,
                     kOpened + "DisableBiosWriteProtection\n" + kFailedEnd,
                     5},
        SequenceCase{"erase declined by the end of input",
                     {"/c"},
                     "",
                     "",
                     kStart + kEraseQuestion,
                     kOpened + "DisableBiosWriteProtection\n" + kFailedEnd,
                     5},
        SequenceCase{"quiet erase still asks",
                     {"/q", "/c"},
                     "",
                     "Y\n",
                     "\n" + kEraseQuestion,
                     "InitRAVODriver\nInitializeSpi(part=chipdefs.txt,out=0,prompt=1,erase=1)\n"
                     "DisableBiosWriteProtection\nSpiEraseFlash\n" +
                         kNormalEnd,
                     0}),
    CaseName);

struct EraseFailure {
    int result;
    std::string message;
    int exitCode;
};

void PrintTo(const EraseFailure& f, std::ostream* os) {
    *os << "SpiEraseFlash " << f.result;
}

class EraseFailures : public testing::TestWithParam<EraseFailure> {};

TEST_P(EraseFailures, MapToTheirExitCodes) {
    const EraseFailure& f = GetParam();
    ProcessOptions options;
    options.input = "y\n";
    options.env = {{"KELVOR_FAKE", "erase=" + std::to_string(f.result)}};
    ProcessResult r = testsupport::RunProcess({KELVOR_FRONT_FAKE, "/c"}, options);
    EXPECT_EQ(r.out, kStart + kEraseQuestion + f.message);
    EXPECT_EQ(r.err, kOpened + "DisableBiosWriteProtection\nSpiEraseFlash\n" + kFailedEnd);
    EXPECT_EQ(r.exitCode, f.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    AllResults, EraseFailures,
    testing::Values(
        EraseFailure{1,
                     "\n>>> Error: The host does not have write access to the target flash "
                     "memory!\n",
                     6},
        EraseFailure{2, "\n>>> Error: The erase failed using hardware sequencing!\n\n", 7},
        EraseFailure{3, "\n>>> Error: The erase failed using software sequencing!\n\n", 8},
        EraseFailure{4, "\n>>> Error: The erase failed due to a flash device error!\n\n", 9},
        EraseFailure{-1,
                     "\n>>> Error: The erase failed due to an unknown reason! (THIS MESSAGE "
                     "SHOULD NEVER BE SEEN)\n\n",
                     10}));

}  // namespace
