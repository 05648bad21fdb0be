#include "ownerfiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ownerfiles {

bool makeOwnerDirectory(const QString &path)
{
    if (!QDir().mkpath(path))
        return false;
    return ::chmod(QFile::encodeName(path).constData(), S_IRWXU) == 0;
}

bool writeOwnerFile(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    // An older file keeps its mode through O_CREAT; tighten it.
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (ok && left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            ok = false;
        else {
            data += written;
            left -= written;
        }
    }
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

} // namespace ownerfiles
