/* A broken build of the library for the loader's tests: it offers only part of the interface, which the
   program must refuse as a whole. */
#include "iowkit.h"

IOWKIT_HANDLE IowKitOpenDevice(void)
{
    return 1;
}

uint32_t IowKitGetNumDevs(void)
{
    return 1;
}
