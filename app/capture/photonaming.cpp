#include "photonaming.h"

#include "clock.h"
#include "config.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStringList>

#include <functional>

namespace photonaming {

namespace {

// Enough for any working directory a person fills; beyond it the folder is
// unusable anyway and the last candidate is returned unreserved.
constexpr int kMaxAttempts = 100000;

enum class Reservation { Taken, Exists, Failed };

Reservation reserve(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Reservation::Taken;
    return QFileInfo::exists(path) ? Reservation::Exists : Reservation::Failed;
}

// Serialises numbered naming in this process: the number is looked up, the
// file reserved and the number saved as one step.
QMutex &numberingMutex()
{
    static QMutex mutex;
    return mutex;
}

QString numberedName(const Config::Texts &text, int number, const QString &extension)
{
    return QStringLiteral("%1/%2_%3.%4")
        .arg(text.documentsLocation, text.savePrefix, QString::number(number), extension);
}

// "<base>.<ext>" when free, else "<base>_N.<ext>": time names and names
// read off barcodes.
QString suffixedName(const QString &directory, const QString &base, int suffix,
                     const QString &extension)
{
    if (suffix == 0)
        return QStringLiteral("%1/%2.%3").arg(directory, base, extension);
    return QStringLiteral("%1/%2_%3.%4").arg(directory, base, QString::number(suffix), extension);
}

constexpr int kMaxBaseCharacters = 100;
// File systems limit a name to 255 bytes; 100 Chinese characters are 300 in
// UTF-8. The rest is left for "_N" and the extension.
constexpr int kMaxBaseBytes = 200;

bool refusedInName(QChar c)
{
    static const QString refused = QStringLiteral("/\\:*?\"<>|");
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
           refused.contains(c);
}

// Drops whole characters (never half of a surrogate pair) from the end
// until both limits hold.
QString shortened(QString base)
{
    auto fits = [](const QString &text) {
        return text.toUcs4().size() <= kMaxBaseCharacters && text.toUtf8().size() <= kMaxBaseBytes;
    };
    while (!base.isEmpty() && !fits(base)) {
        const bool pair = base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() &&
                          base.at(base.size() - 2).isHighSurrogate();
        base.chop(pair ? 2 : 1);
    }
    return base;
}

// A working directory removed while the station runs is made again; false
// when it cannot be.
bool ensureDirectory(const QString &directory)
{
    if (directory.isEmpty() || QFileInfo(directory).isDir())
        return !directory.isEmpty();
    if (QDir().mkpath(directory))
        return true;
    qDebug() << "working directory not created:" << directory;
    return false;
}

// Names already in the working directory, read once, so skipping thousands
// of used numbers costs no file system call per number.
QSet<QString> namesIn(const QString &directory)
{
    const QStringList names =
        QDir(directory).entryList(QDir::Files | QDir::Dirs | QDir::System | QDir::Hidden |
                                  QDir::NoDotAndDotDot);
    return QSet<QString>(names.begin(), names.end());
}

// Reserves the first free name of the candidates `nameFor(0)`, `nameFor(1)`,
// ...; empty when the directory refuses the file.
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
    return QString();
}

QString reserveTimePath(const Config::Texts &text, const QString &extension)
{
    const QString stamp = now().toString(QStringLiteral("yyyy_MM_dd HH_mm_ss.zzz"));
    return reserveFirstFree([&](int suffix) {
        return suffixedName(text.documentsLocation, stamp, suffix, extension);
    });
}

int numberIn(const QString &path, const Config::Texts &text)
{
    const QString name = QFileInfo(path).completeBaseName();
    const QString lead = text.savePrefix + QLatin1Char('_');
    if (!name.startsWith(lead))
        return -1;
    bool ok = false;
    const int number = name.mid(lead.size()).toInt(&ok);
    return ok ? number : -1;
}

} // namespace

QDateTime now()
{
    return Clock::current().now();
}

QString extensionFor(const Config &config, bool saveAsTiff)
{
    return saveAsTiff ? QStringLiteral("tiff") : config.texts().codec;
}

QString reserveNumberedPath(Config &config, const QString &extension)
{
    const Config::Texts text = config.texts();
    if (!ensureDirectory(text.documentsLocation))
        return QString();
    QMutexLocker lock(&numberingMutex());
    // Used numbers are skipped by name first; the file is then reserved
    // once and the number saved once, however many were skipped.
    const QSet<QString> present = namesIn(text.documentsLocation);
    int number = config.peekSaveNumber();
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt, ++number) {
        const QString path = numberedName(text, number, extension);
        if (present.contains(QFileInfo(path).fileName()))
            continue;
        const Reservation result = reserve(path);
        if (result == Reservation::Exists)
            continue;   // made by another process since the scan
        if (result == Reservation::Failed)
            break;
        config.commitSaveNumber(number);
        return path;
    }
    qDebug() << "photo name not reserved in" << text.documentsLocation;
    return QString();
}

QString safeBaseName(const QString &text)
{
    QString base;
    base.reserve(text.size());
    for (const QChar c : text)
        base.append(refusedInName(c) ? QLatin1Char('_') : (c.isSpace() ? QLatin1Char(' ') : c));
    // A leading dot hides the file; "." and ".." are no names at all.
    int lead = 0;
    while (lead < base.size() && (base.at(lead) == QLatin1Char('.') || base.at(lead).isSpace()))
        ++lead;
    base = shortened(base.mid(lead)).trimmed();
    // A trailing dot or space is dropped by other systems copying the file.
    while (base.endsWith(QLatin1Char('.')) || base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    return base;
}

QString reserveNamedPath(Config &config, const QString &baseName, const QString &extension)
{
    const QString base = safeBaseName(baseName);
    const QString directory = config.texts().documentsLocation;
    if (base.isEmpty() || !ensureDirectory(directory))
        return QString();
    return reserveFirstFree(
        [&](int suffix) { return suffixedName(directory, base, suffix, extension); });
}

QString reservePhotoPath(Config &config, const QString &extension)
{
    if (config.saveType == 0)
        return reserveNumberedPath(config, extension);
    const Config::Texts text = config.texts();
    if (!ensureDirectory(text.documentsLocation))
        return QString();
    return reserveTimePath(text, extension);
}

void releaseIfEmpty(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && info.isFile() && info.size() == 0)
        QFile::remove(path);
}

void giveBack(Config &config, const QString &path)
{
    if (path.isEmpty())
        return;
    const QFileInfo written(path);
    if (written.exists() && written.size() > 0)
        return;
    releaseIfEmpty(path);
    const int number = numberIn(path, config.texts());
    if (number >= 0)
        config.returnSaveNumber(number);
}

} // namespace photonaming
