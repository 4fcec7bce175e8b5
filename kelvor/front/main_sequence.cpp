// The main sequence of kelvor: options, settings, bring-up, the flash range,
// one operation by fixed precedence, and the clean-up on every way out.
#include "kelvor/front/main_sequence.h"

#include <cstring>

#include "kelvor/front/console.h"
#include "kelvor/front/number_reader.h"
#include "kelvor/front/options.h"
#include "kelvor/front/settings.h"
#include "kelvor/ops/bios_protect.h"
#include "kelvor/ops/ops.h"
#include "kelvor/spi/ravo_util.h"
#include "kelvor/spi/spi_api.h"

namespace {

const char kDefaultPartFile[] = "chipdefs.txt";

struct RegionOption {
    const char* Name;
    uint32_t Selector;
};

// The region options with their SpiGetRegion selectors, in the order in
// which they are looked up.
const RegionOption kRegionOptions[] = {
    {"desc", kRegionDescriptor},
    {"bios", kRegionBios},
    {"me", kRegionMe},
    {"gbe", kRegionGbe},
};

int EndWith(int exitCode) {
    ReleaseHardware();
    return exitCode;
}

// Copies the /p value, refusing one that does not fit: a cut path would name
// another file than the one the user gave.
int ApplyPartFileOption() {
    const char* path = nullptr;
    if (GetOptionValues("p", 1, &path) == 0 || path == nullptr) {
        return 0;
    }
    if (std::strlen(path) >= static_cast<size_t>(kPartFilePathSize)) {
        PrintOutput(
            "\n>>> Error: The flash part definition file path is longer than %d characters! "
            "Unable to continue.\n",
            kPartFilePathSize - 1);
        return 1;
    }
    std::strcpy(PartFilePath, path);
    return 0;
}

// Exit code of the erase; every failure has released the hardware already.
int EraseEntireFlash() {
    if (DisableBiosWriteProtection() == 0) {
        PrintOutput(
            "\n>>> Error: Failed to disable write protection for the BIOS space! Unable to perform "
            "erase operation!\n");
        return EndWith(kExitAccessDenied);
    }
    if (PromptYesNo("\nAre you sure you want to erase the entire flash (Y/N): ") == 0) {
        return EndWith(kExitEraseDeclined);
    }
    switch (SpiEraseFlash()) {
        case 0:
            PrintOutput("\nErase: SUCCESS\n");
            return kExitSuccess;
        case 1:
            PrintOutput(
                "\n>>> Error: The host does not have write access to the target flash memory!\n");
            return EndWith(kExitEraseNoWriteAccess);
        case 2:
            PrintOutput("\n>>> Error: The erase failed using hardware sequencing!\n\n");
            return EndWith(kExitEraseHwSeqFailed);
        case 3:
            PrintOutput("\n>>> Error: The erase failed using software sequencing!\n\n");
            return EndWith(kExitEraseSwSeqFailed);
        case 4:
            PrintOutput("\n>>> Error: The erase failed due to a flash device error!\n\n");
            return EndWith(kExitEraseDeviceError);
        default:
            PrintOutput(
                "\n>>> Error: The erase failed due to an unknown reason! (THIS MESSAGE SHOULD "
                "NEVER "
                "BE SEEN)\n\n");
            return EndWith(kExitEraseUnknown);
    }
}

// The read-access check before a verify or dump of a known length; prints
// the refusal.
bool ReadAccessDenied(uint32_t address, int32_t length) {
    if (length < 0 || SpiCheckAccess(address, static_cast<uint32_t>(length), 0) == 0) {
        return false;
    }
    PrintOutput(
        "\n>>> Error: The host CPU does not have read access to the target flash area!\n\n");
    return true;
}

}  // namespace

int RunMainSequence(int argc, char** argv) {
    DirectOutput("\n");
    TraceOutput("THIS IS A DEBUG VERSION! NOT FOR DISTRIBUTION.\n");
    TraceOutput("Consuming command line args...\n");

    if (ParseCommandLine(argc, argv) == kParseInvalid) {
        PrintOutput("Invalid Command Line. Specify option \"/?\" for help.\n");
        ShowHelp();
        return EndWith(kExitInvalidCommandLine);
    }
    if (IsOptionPresent("?")) {
        ShowHelp();
        PrintOutput("\nProgram terminated\n");
        return EndWith(kExitSuccess);
    }
    if (IsOptionPresent("q")) {
        if (IsOptionPresent("i")) {
            DirectOutput("\nWarning: /i run with /q has no affect!\n\n");
        }
        OutputEnabled = 0;
    }
    if (IsOptionPresent("y")) {
        PromptEnabled = 0;
    }
    std::strcpy(PartFilePath, kDefaultPartFile);
    PrintOutput("--------------------------------------------\n");
    PrintOutput("%s\n\n", kKelvorTitle);
    if (ApplyPartFileOption() != 0) {
        return EndWith(kExitInvalidCommandLine);
    }
    if (IsOptionPresent("e")) {
        EraseEnabled = 0;
    }

    if (InitRAVODriver() == 0) {
        return kExitLibraryNotOpened;
    }
    if (InitializeSpi() != 0) {
        return EndWith(kExitSpiInitFailed);
    }

    uint32_t targetAddress = 0;
    int32_t targetLength = -1;
    const char* value = nullptr;
    if (GetOptionValues("address", 1, &value) != 0 && value != nullptr) {
        targetAddress = ReadUnsignedNumber(value);
    }
    value = nullptr;
    if (GetOptionValues("length", 1, &value) != 0 && value != nullptr) {
        targetLength = ReadSignedNumber(value);
    }

    const RegionOption* region = nullptr;
    int regionCount = 0;
    for (const RegionOption& option : kRegionOptions) {
        if (IsOptionPresent(option.Name)) {
            ++regionCount;
            if (region == nullptr) {
                region = &option;
            }
        }
    }
    if (regionCount > 1) {
        PrintOutput(
            "\n>>> Error: More than one region was specified. Only one region may be\n\tspecified "
            "at a time. Unable to continue.\n");
        return EndWith(kExitSeveralRegions);
    }
    if (region != nullptr && IsOptionPresent("address")) {
        PrintOutput(
            "\n>>> Warning: /address has no effect when run with any of the following:\n\t/gbe, "
            "/desc, /me, /bios\n");
    }

    int32_t regionLength = -1;
    int result = kExitSuccess;
    if (region != nullptr) {
        int found = SpiGetRegion(region->Selector, &targetAddress, &regionLength);
        if (found == 1) {
            PrintOutput(
                "\n>>> Error: Cannot determine the target region location because the flash "
                "descriptor is invalid!\n\n");
            return EndWith(kExitDescriptorInvalid);
        }
        if (found != 0) {
            PrintOutput(
                "\n>>> Error: The target flash region is not defined in the flash "
                "descriptor!\n\n");
            return EndWith(kExitRegionNotDefined);
        }
        if (targetLength == -1) {
            targetLength = regionLength;
        }
    }

    const char* file = nullptr;
    if (IsOptionPresent("i")) {
        result = DisplayFlashInformation();
    } else if (IsOptionPresent("c")) {
        result = EraseEntireFlash();
        if (result != kExitSuccess) {
            return result;  // already released
        }
    } else if (IsOptionPresent("b")) {
        result = BlankCheck();
    } else if (GetOptionValues("f", 1, &file) != 0) {
        bool outsideBios =
            IsOptionPresent("desc") || IsOptionPresent("me") || IsOptionPresent("gbe");
        if (!outsideBios && DisableBiosWriteProtection() == 0) {
            PrintOutput(
                "\n>>> Error: Failed to disable write protection for the BIOS space! Unable to "
                "perform write operation!\n");
            return EndWith(kExitAccessDenied);
        }
        result = WriteFileToFlash(file, targetAddress, targetLength);
    } else if (GetOptionValues("v", 1, &file) != 0) {
        if (ReadAccessDenied(targetAddress, targetLength)) {
            return EndWith(kExitAccessDenied);
        }
        result = VerifyFlash(file, targetAddress, targetLength);
    } else if (GetOptionValues("d", 1, &file) != 0) {
        if (ReadAccessDenied(targetAddress, targetLength)) {
            return EndWith(kExitAccessDenied);
        }
        result = DumpFlashToFile(file, targetAddress, targetLength);
    }

    ReleasePartDefinitions();
    return EndWith(result);
}
