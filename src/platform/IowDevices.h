#pragma once

#include <QtGlobal>

// The calls the program makes into the IO-Warrior device library, one to one. The loaded library is one
// implementation; tests put a recording double in its place.
class IowDevices
{
public:
    virtual ~IowDevices() = default;

    virtual quint32 OpenDevice() = 0;
    virtual quint32 GetNumDevs() = 0;
    virtual quint32 GetDeviceHandle(quint32 numDevice) = 0;
    virtual quint32 GetProductId(quint32 handle) = 0;
    virtual quint32 ReadNonBlocking(quint32 handle, quint32 pipe, char* buffer, quint32 length) = 0;
    virtual quint32 Write(quint32 handle, quint32 pipe, const char* buffer, quint32 length) = 0;
    virtual bool CancelIo(quint32 handle, quint32 pipe) = 0;
    virtual void CloseDevice(quint32 handle) = 0;
    // A descriptor that polls readable while an input report waits; -1 where the library offers none,
    // and the caller polls on a timer instead.
    virtual int ReadFd(quint32 /*handle*/, quint32 /*pipe*/) { return -1; }
};
