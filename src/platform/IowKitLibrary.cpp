#include "platform/IowKitLibrary.h"

#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>
#include <dlfcn.h>

namespace {

template <typename Fn> bool Resolve(void* handle, const char* name, Fn& slot, QStringList& missing)
{
    slot = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!slot)
        missing << QString::fromLatin1(name);
    return slot != nullptr;
}

} // namespace

IowKitLibrary::~IowKitLibrary()
{
    Unload();
}

QStringList IowKitLibrary::Candidates()
{
    QStringList folders{ProgramFolder::Path()};
    for (const QString& dir : qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << dir;
    QStringList files;
    for (const QString& dir : folders) {
        const QString file = QDir(dir).absoluteFilePath(FileName());
        if (!files.contains(file))
            files << file;
    }
    return files;
}

bool IowKitLibrary::Load()
{
    Unload();
    for (const QString& file : Candidates()) {
        if (QFileInfo(file).isFile())
            return LoadFile(file);
    }
    m_error = FileName() + QStringLiteral(" not found in the program folder or on PATH");
    qWarning().noquote() << "ioWarrior:" << m_error;
    return false;
}

bool IowKitLibrary::LoadFile(const QString& path)
{
    Unload();
    m_error.clear();
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        m_error = QString::fromLocal8Bit(dlerror());
        qWarning().noquote() << "ioWarrior: cannot load" << path << "-" << m_error;
        return false;
    }

    Calls calls;
    QStringList missing;
    Resolve(handle, "IowKitOpenDevice", calls.openDevice, missing);
    Resolve(handle, "IowKitGetNumDevs", calls.getNumDevs, missing);
    Resolve(handle, "IowKitGetDeviceHandle", calls.getDeviceHandle, missing);
    Resolve(handle, "IowKitGetProductId", calls.getProductId, missing);
    Resolve(handle, "IowKitReadNonBlocking", calls.readNonBlocking, missing);
    Resolve(handle, "IowKitWrite", calls.write, missing);
    Resolve(handle, "IowKitCancelIo", calls.cancelIo, missing);
    Resolve(handle, "IowKitCloseDevice", calls.closeDevice, missing);
    if (!missing.isEmpty()) {
        // Half a library would fail somewhere in the middle of an alarm: use none of it.
        dlclose(handle);
        m_error = QStringLiteral("missing in %1: %2").arg(path, missing.join(QStringLiteral(", ")));
        qWarning().noquote() << "ioWarrior:" << m_error;
        return false;
    }
    calls.getReadFd = reinterpret_cast<decltype(calls.getReadFd)>(dlsym(handle, "IowKitGetReadFd"));
    m_handle = handle;
    m_calls = calls;
    m_path = path;
    return true;
}

void IowKitLibrary::Unload()
{
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
    m_calls = Calls{};
    m_path.clear();
}

// An unloaded library behaves as one that finds no device.

quint32 IowKitLibrary::OpenDevice()
{
    return m_handle ? m_calls.openDevice() : 0;
}

quint32 IowKitLibrary::GetNumDevs()
{
    return m_handle ? m_calls.getNumDevs() : 0;
}

quint32 IowKitLibrary::GetDeviceHandle(quint32 numDevice)
{
    return m_handle ? m_calls.getDeviceHandle(numDevice) : 0;
}

quint32 IowKitLibrary::GetProductId(quint32 handle)
{
    return m_handle ? m_calls.getProductId(handle) : 0;
}

quint32 IowKitLibrary::ReadNonBlocking(quint32 handle, quint32 pipe, char* buffer, quint32 length)
{
    return m_handle ? m_calls.readNonBlocking(handle, pipe, buffer, length) : 0;
}

quint32 IowKitLibrary::Write(quint32 handle, quint32 pipe, const char* buffer, quint32 length)
{
    return m_handle ? m_calls.write(handle, pipe, buffer, length) : 0;
}

bool IowKitLibrary::CancelIo(quint32 handle, quint32 pipe)
{
    return m_handle && m_calls.cancelIo(handle, pipe) != 0;
}

int IowKitLibrary::ReadFd(quint32 handle, quint32 pipe)
{
    return m_handle && m_calls.getReadFd ? m_calls.getReadFd(handle, pipe) : -1;
}

void IowKitLibrary::CloseDevice(quint32 handle)
{
    if (m_handle)
        m_calls.closeDevice(handle);
}
