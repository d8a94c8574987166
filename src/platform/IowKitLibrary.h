#pragma once

#include "platform/IowDevices.h"

#include <QString>
#include <QStringList>

#include "../../lib/iowkit/iowkit.h"

// The device library libiowkit.so, loaded at run time. It is looked up in the program folder first, then
// along PATH; a library that lacks any of the calls is not used at all. IowKitGetReadFd is the one
// exception: without it the button is polled on a timer.
class IowKitLibrary final : public IowDevices
{
public:
    IowKitLibrary() = default;
    ~IowKitLibrary() override;
    IowKitLibrary(const IowKitLibrary&) = delete;
    IowKitLibrary& operator=(const IowKitLibrary&) = delete;

    static QString FileName() { return QStringLiteral("libiowkit.so"); }
    // Where Load() looks, in order: the program folder, then every folder of PATH.
    static QStringList Candidates();

    // Loads the first candidate that exists. True when every call was found.
    bool Load();
    // Loads exactly this file.
    bool LoadFile(const QString& path);
    void Unload();

    bool IsLoaded() const { return m_handle != nullptr; }
    QString FilePath() const { return m_path; }
    // Why the last Load failed; empty after a success.
    QString ErrorString() const { return m_error; }

    quint32 OpenDevice() override;
    quint32 GetNumDevs() override;
    quint32 GetDeviceHandle(quint32 numDevice) override;
    quint32 GetProductId(quint32 handle) override;
    quint32 ReadNonBlocking(quint32 handle, quint32 pipe, char* buffer, quint32 length) override;
    quint32 Write(quint32 handle, quint32 pipe, const char* buffer, quint32 length) override;
    bool CancelIo(quint32 handle, quint32 pipe) override;
    void CloseDevice(quint32 handle) override;
    int ReadFd(quint32 handle, quint32 pipe) override;

private:
    struct Calls
    {
        decltype(&IowKitOpenDevice) openDevice = nullptr;
        decltype(&IowKitGetNumDevs) getNumDevs = nullptr;
        decltype(&IowKitGetDeviceHandle) getDeviceHandle = nullptr;
        decltype(&IowKitGetProductId) getProductId = nullptr;
        decltype(&IowKitReadNonBlocking) readNonBlocking = nullptr;
        decltype(&IowKitWrite) write = nullptr;
        decltype(&IowKitCancelIo) cancelIo = nullptr;
        decltype(&IowKitCloseDevice) closeDevice = nullptr;
        decltype(&IowKitGetReadFd) getReadFd = nullptr; // optional
    };

    void* m_handle = nullptr;
    Calls m_calls;
    QString m_path;
    QString m_error;
};
