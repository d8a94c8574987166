#pragma once

// Only for the library's own tests: look for the device nodes below `devRoot` ("<devRoot>/usb/iowarrior*")
// and for their sysfs entries below `sysRoot` instead of /dev and /sys. Null restores the default. Takes
// effect at the next IowKitOpenDevice; the program never calls it.

#include "iowkit.h"

#ifdef __cplusplus
extern "C" {
#endif

IOWKIT_EXPORT void IowKitTestSetRoots(const char* devRoot, const char* sysRoot);

#ifdef __cplusplus
}
#endif
