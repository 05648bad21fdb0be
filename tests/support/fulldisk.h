#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace testenv {

// A small file system that fills up: a size-limited tmpfs mounted for the
// life of the object at a fresh directory under the working directory. It can
// only be had where the test runs in a mount namespace of its own (tests
// registered with FULL_DISK run so, see tests/CMakeLists.txt) and may mount;
// elsewhere isReady() is false and whyNot() says why, for GTEST_SKIP.
//
// Point the working directory (or a target file) into path(), then leave
// only a few bytes free with leaveFree(): writes are cut short by ENOSPC as
// on a real disk, at whatever point the file system runs out.
class FullDisk
{
public:
    explicit FullDisk(qint64 capacityBytes = 4 * 1024 * 1024);
    ~FullDisk();

    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    bool isReady() const { return mounted; }
    QString whyNot() const { return reason; }
    QString path() const { return mountPoint; }
    QString file(const QString &name) const { return mountPoint + QLatin1Char('/') + name; }

    // Fills the disk with a ballast file until about `freeBytes` are left
    // (the file system counts in pages); 0 leaves it full. False when the
    // ballast could not be written.
    bool leaveFree(qint64 freeBytes);
    // Takes the ballast away again.
    void makeRoom();
    qint64 freeBytes() const;

    // Everything on the disk but the ballast, hidden files too, by name.
    QStringList files() const;

private:
    QString mountPoint;
    QString reason;
    bool mounted = false;
};

} // namespace testenv

// Skips the running test, with the reason, when `disk` could not be had.
#define SKIP_WITHOUT_FULL_DISK(disk)                                                              \
    do {                                                                                          \
        if (!(disk).isReady())                                                                    \
            GTEST_SKIP() << "no full-disk fixture: " << (disk).whyNot().toStdString();            \
    } while (false)
