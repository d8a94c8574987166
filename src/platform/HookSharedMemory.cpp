#include "platform/HookSharedMemory.h"

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

HookSharedMemory::~HookSharedMemory()
{
    Close();
}

bool HookSharedMemory::Fail(const char* step)
{
    m_errno = errno;
    m_error = QStringLiteral("%1 %2: %3").arg(QLatin1String(step), QString::fromLocal8Bit(m_name),
                                                QString::fromLocal8Bit(std::strerror(m_errno)));
    std::fprintf(stderr, "tavinor: %s\n", qPrintable(m_error));
    return false;
}

bool HookSharedMemory::Create(const QString& name, int size)
{
    Close();
    m_name = name.toLocal8Bit();
    // Another copy of the program on the same display may have made it already: share it, as the system's
    // named mappings are shared.
    const int fd = shm_open(m_name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return Fail("shm_open");
    struct stat st{};
    if (fstat(fd, &st) != 0 || (st.st_size < size && ftruncate(fd, size) != 0)) {
        Fail("ftruncate");
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = size;
    return true;
}

bool HookSharedMemory::Write(const QByteArray& bytes)
{
    if (m_fd < 0 || bytes.size() > m_size) {
        errno = EINVAL;
        return Fail("write");
    }
    void* view = mmap(nullptr, size_t(m_size), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (view == MAP_FAILED)
        return Fail("mmap");
    std::memcpy(view, bytes.constData(), size_t(bytes.size()));
    munmap(view, size_t(m_size));
    return true;
}

void HookSharedMemory::Close()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    shm_unlink(m_name.constData());
}
