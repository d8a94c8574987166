#pragma once

#include <QString>

// The named shared block through which the program hands the alert key to the keyboard-hook library
// (POSIX shared memory). Created on first use and removed by Close, which the program calls once the hook
// is gone.
class HookSharedMemory
{
public:
    HookSharedMemory() = default;
    ~HookSharedMemory();
    HookSharedMemory(const HookSharedMemory&) = delete;
    HookSharedMemory& operator=(const HookSharedMemory&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // Creates (or opens another copy's) block of `size` bytes. False with ErrorNumber/ErrorText set.
    bool Create(const QString& name, int size);
    // Copies `bytes` to the start of the block in one go.
    bool Write(const QByteArray& bytes);
    // Closes and removes the block.
    void Close();

    int ErrorNumber() const { return m_errno; }
    QString ErrorText() const { return m_error; }

private:
    bool Fail(const char* step);

    int m_fd = -1;
    int m_size = 0;
    QByteArray m_name;
    int m_errno = 0;
    QString m_error;
};
