#include "platform/SingleInstance.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace SingleInstance {

bool Acquire(const QString& programFolder)
{
    const QByteArray path = QFile::encodeName(programFolder);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "tavinor: instance lock on %s: %s\n", path.constData(), std::strerror(errno));
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true; // the descriptor stays open, and the lock with it, until the process ends
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
        return false;
    std::fprintf(stderr, "tavinor: instance lock on %s: %s\n", path.constData(), std::strerror(err));
    return true;
}

} // namespace SingleInstance
