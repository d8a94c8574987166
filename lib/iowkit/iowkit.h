#pragma once

// The IO-Warrior device library: the C interface the program calls, by name, after loading the library at
// run time. Handles are 32-bit numbers, never 0 for an open device; pipe 0 is the I/O-pin interface, whose
// reports carry the report id 0 in byte 0 and the port values after it.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t IOWKIT_HANDLE;

#define IOWKIT_EXPORT __attribute__((visibility("default")))

// Opens every attached device; returns the handle of the first, 0 when there is none. Calling it again
// while devices are open returns the same first handle.
IOWKIT_EXPORT IOWKIT_HANDLE IowKitOpenDevice(void);
// Closes every device that IowKitOpenDevice opened; every handle becomes invalid.
IOWKIT_EXPORT void IowKitCloseDevice(IOWKIT_HANDLE devHandle);
// Number of devices opened by the last IowKitOpenDevice.
IOWKIT_EXPORT uint32_t IowKitGetNumDevs(void);
// Handle of device `numDevice` (counted from 1); 0 when there is no such device.
IOWKIT_EXPORT IOWKIT_HANDLE IowKitGetDeviceHandle(uint32_t numDevice);
// Product id of the device (0x1500 IO-Warrior40, 0x1501 IO-Warrior24, 0x1503 IO-Warrior56); 0 for an
// invalid handle.
IOWKIT_EXPORT uint32_t IowKitGetProductId(IOWKIT_HANDLE devHandle);
// One input report if one is waiting, without blocking: byte 0 the report id 0, then the port values.
// Returns the bytes placed in `buffer` (report size + 1 for a complete report), 0 when nothing waits.
IOWKIT_EXPORT uint32_t IowKitReadNonBlocking(IOWKIT_HANDLE devHandle, uint32_t numPipe, char* buffer, uint32_t length);
// Writes one output report of the same shape (report id 0 in byte 0). Returns the bytes written, 0 when
// the report was refused.
IOWKIT_EXPORT uint32_t IowKitWrite(IOWKIT_HANDLE devHandle, uint32_t numPipe, const char* buffer, uint32_t length);
// Cancels pending input and output on a pipe. Non-zero for a valid handle.
IOWKIT_EXPORT int IowKitCancelIo(IOWKIT_HANDLE devHandle, uint32_t numPipe);

// An addition of this library, which other builds of the device library lack: callers look it up and keep
// polling without it. A descriptor that polls readable while an input report waits on the pipe, so the
// caller can sleep until the device has something; -1 when there is none (an invalid handle, a device
// that failed). Owned by the library, valid until IowKitCloseDevice. It may also wake without a report.
IOWKIT_EXPORT int IowKitGetReadFd(IOWKIT_HANDLE devHandle, uint32_t numPipe);

#ifdef __cplusplus
}
#endif
