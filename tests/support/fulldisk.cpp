#include "fulldisk.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace testenv {

namespace {

const char kBallast[] = ".full-disk-ballast";

// A mount made in the namespace everybody else shares would outlive a
// crashed test and fill somebody's disk: only a namespace of our own will do.
// The runner (private-mounts.sh) execs the test in a new namespace, so the
// test's parent, ctest or a shell, is still in the old one; a parent whose
// namespace cannot even be looked at is in another user namespace.
bool inPrivateMountNamespace(QString &reason)
{
    struct stat own;
    struct stat parent;
    if (::stat("/proc/self/ns/mnt", &own) != 0) {
        reason = QStringLiteral("mount namespace not readable");
        return false;
    }
    const QByteArray parentNamespace = "/proc/" + QByteArray::number(::getppid()) + "/ns/mnt";
    if (::stat(parentNamespace.constData(), &parent) == 0 && own.st_dev == parent.st_dev
        && own.st_ino == parent.st_ino) {
        reason = QStringLiteral("the test does not run in a mount namespace of its own "
                                "(register it with FULL_DISK or run it through unshare -m)");
        return false;
    }
    return true;
}

} // namespace

FullDisk::FullDisk(qint64 capacityBytes)
{
    if (!inPrivateMountNamespace(reason))
        return;
    mountPoint = QDir::current().absoluteFilePath(
        QStringLiteral("full-disk-") + QUuid::createUuid().toString(QUuid::Id128).left(8));
    if (!QDir().mkpath(mountPoint)) {
        reason = QStringLiteral("mount point not made: ") + mountPoint;
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(capacityBytes) + ",mode=0777";
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData())
        != 0) {
        reason = QStringLiteral("tmpfs not mounted: ") + QString::fromLocal8Bit(std::strerror(errno));
        QDir().rmdir(mountPoint);
        return;
    }
    mounted = true;
}

FullDisk::~FullDisk()
{
    if (!mounted)
        return;
    ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
    QDir().rmdir(mountPoint);
}

bool FullDisk::leaveFree(qint64 freeBytesWanted)
{
    if (!mounted)
        return false;
    makeRoom();
    const int fd = ::open(QFile::encodeName(file(QLatin1String(kBallast))).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    static const QByteArray chunk(4096, '\0');
    bool ok = true;
    while (freeBytes() > freeBytesWanted) {
        const qint64 step = qMin<qint64>(chunk.size(), freeBytes() - freeBytesWanted);
        if (::write(fd, chunk.constData(), size_t(step)) <= 0) {
            ok = errno == ENOSPC && freeBytesWanted == 0;
            break;
        }
    }
    ::close(fd);
    return ok;
}

void FullDisk::makeRoom()
{
    if (mounted)
        QFile::remove(file(QLatin1String(kBallast)));
}

qint64 FullDisk::freeBytes() const
{
    struct statvfs status;
    if (!mounted || ::statvfs(QFile::encodeName(mountPoint).constData(), &status) != 0)
        return 0;
    return qint64(status.f_bavail) * qint64(status.f_frsize);
}

QStringList FullDisk::files() const
{
    QStringList names = QDir(mountPoint).entryList(
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    names.removeAll(QLatin1String(kBallast));
    return names;
}

} // namespace testenv
