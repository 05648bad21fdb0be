#include "photonaming.h"

#include "config.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <functional>

namespace photonaming {

namespace {

// Enough for any working directory a person fills; beyond it the folder is
// unusable anyway and the last candidate is returned unreserved.
constexpr int kMaxAttempts = 100000;

QMutex &clockMutex()
{
    static QMutex mutex;
    return mutex;
}

Clock &clockSlot()
{
    static Clock clock;
    return clock;
}

enum class Reservation { Taken, Exists, Failed };

Reservation reserve(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Reservation::Taken;
    return QFileInfo::exists(path) ? Reservation::Exists : Reservation::Failed;
}

QString numberedName(const Config &config, int number, const QString &extension)
{
    return QStringLiteral("%1/%2_%3.%4")
        .arg(config.documentsLocation, config.savePrefix, QString::number(number), extension);
}

QString timeName(const Config &config, const QString &stamp, int suffix, const QString &extension)
{
    if (suffix == 0)
        return QStringLiteral("%1/%2.%3").arg(config.documentsLocation, stamp, extension);
    return QStringLiteral("%1/%2_%3.%4")
        .arg(config.documentsLocation, stamp, QString::number(suffix), extension);
}

// Reserves the first free name of the candidates `nameFor(0)`, `nameFor(1)`, ...
QString reserveFirstFree(const std::function<QString(int)> &nameFor)
{
    QString path;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        path = nameFor(attempt);
        const Reservation result = reserve(path);
        if (result == Reservation::Taken)
            return path;
        if (result == Reservation::Failed)
            break;
    }
    qDebug() << "photo name not reserved:" << path;
    return path;
}

QString reserveTimePath(const Config &config, const QString &extension)
{
    const QString stamp = now().toString(QStringLiteral("yyyy_MM_dd HH_mm_ss.zzz"));
    return reserveFirstFree(
        [&](int suffix) { return timeName(config, stamp, suffix, extension); });
}

} // namespace

void setClock(Clock clock)
{
    QMutexLocker lock(&clockMutex());
    clockSlot() = std::move(clock);
}

QDateTime now()
{
    QMutexLocker lock(&clockMutex());
    return clockSlot() ? clockSlot()() : QDateTime::currentDateTime();
}

QString extensionFor(const Config &config, bool saveAsTiff)
{
    return saveAsTiff ? QStringLiteral("tiff") : config.codec;
}

QString reserveNumberedPath(Config &config, const QString &extension)
{
    return reserveFirstFree(
        [&](int) { return numberedName(config, config.takeSaveNumber(), extension); });
}

QString reservePhotoPath(Config &config, const QString &extension)
{
    if (config.saveType == 0)
        return reserveNumberedPath(config, extension);
    return reserveTimePath(config, extension);
}

void releaseIfEmpty(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && info.isFile() && info.size() == 0)
        QFile::remove(path);
}

} // namespace photonaming
