// One invocation of kelvor from the command line to the exit code.
#ifndef KELVOR_FRONT_MAIN_SEQUENCE_H
#define KELVOR_FRONT_MAIN_SEQUENCE_H

// Front-end exit codes; the operations return codes of their own (100 and
// up), which become the exit code unchanged.
constexpr int kExitSuccess = 0;
constexpr int kExitInvalidCommandLine = 1;  // also a /p path too long
constexpr int kExitLibraryNotOpened = 1;
constexpr int kExitSpiInitFailed = 2;
constexpr int kExitDescriptorInvalid = 3;
constexpr int kExitRegionNotDefined = 4;
constexpr int kExitEraseDeclined = 5;
constexpr int kExitEraseNoWriteAccess = 6;
constexpr int kExitEraseHwSeqFailed = 7;
constexpr int kExitEraseSwSeqFailed = 8;
constexpr int kExitEraseDeviceError = 9;
constexpr int kExitEraseUnknown = 10;
constexpr int kExitAccessDenied = 11;
constexpr int kExitSeveralRegions = 12;

// Parses the arguments (cutting them in place), runs at most one operation
// and returns the exit code of the run.
int RunMainSequence(int argc, char** argv);

// Unmaps the SPI register window and closes the access library; harmless when
// neither was done.
void ReleaseHardware();

#endif  // KELVOR_FRONT_MAIN_SEQUENCE_H
