// Placeholder library: no backend yet, so every call fails with a text that
// says so.
#include "ravoacc32.h"

#include <cstring>

namespace {
const char kNoBackend[] = "ravoacc32: no hardware backend is built into this library yet";
}

int32_t RAVOCALL RavoInit(uint32_t, RavoInitBlock*) {
    return 0;
}
int32_t RAVOCALL RavoDestroy(void) {
    return 1;
}
int32_t RAVOCALL RavoPCI(RavoPciRequest*) {
    return 0;
}
int32_t RAVOCALL RavoMapPhys(RavoMapRequest*) {
    return 0;
}
int32_t RAVOCALL RavoUnmapPhys(RavoMapRequest*) {
    return 0;
}
int32_t RAVOCALL RavoIO(RavoIoRequest*) {
    return 0;
}
int32_t RAVOCALL RavoGetLastError(char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::strncpy(buffer, kNoBackend, size - 1);
    buffer[size - 1] = '\0';
    return 1;
}
