#include "holderphoto.h"

#include "ownerfiles.h"

#include <QDebug>
#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace holderphoto {

namespace {

const QString kDataFolder = QStringLiteral("/data");

// Tried rather than judged from mode bits: those say nothing for root, a
// read-only mount or a directory owned by someone else.
bool acceptsNewFiles(const QString &path)
{
    QTemporaryFile probe(path + QStringLiteral("/.probe-XXXXXX"));
    return probe.open();
}

QString perUserDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (base.isEmpty())
        base = QDir::currentPath();
    return base + kDataFolder;
}

// The dialog asks on every card and the card record on every request; one
// line says where the photos go, not one per read.
void logChoice(const QString &chosen)
{
    static QMutex mutex;
    static QString logged;
    QMutexLocker lock(&mutex);
    if (chosen == logged)
        return;
    logged = chosen;
    qInfo().noquote() << QStringLiteral("card holder photos: %1").arg(chosen);
}

} // namespace

QString directory(const QString &appDir)
{
    const QString besideProgram = appDir + kDataFolder;
    QString chosen = besideProgram;
    if (!ownerfiles::makeOwnerDirectory(besideProgram) || !acceptsNewFiles(besideProgram)) {
        chosen = perUserDirectory();
        if (!ownerfiles::makeOwnerDirectory(chosen))
            qWarning().noquote() << QStringLiteral("cannot create %1").arg(chosen);
    }
    logChoice(chosen);
    return chosen;
}

QString filePath(const QString &appDir)
{
    return directory(appDir) + QStringLiteral("/image.bmp");
}

} // namespace holderphoto
