// The run-wide settings with their values before the options are applied.
#include "kelvor/front/settings.h"

int32_t OutputEnabled = 1;
int32_t PromptEnabled = 1;
int32_t EraseEnabled = 1;
char PartFilePath[kPartFilePathSize] = "chipdefs.txt";
