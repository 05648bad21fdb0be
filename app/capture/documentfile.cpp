#include "documentfile.h"

#include "cache.h"
#include "photonaming.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

namespace {

bool renamed(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

DocumentFile::DocumentFile(const QString &directory, const QString &extension)
{
    QDir().mkpath(directory);
    QTemporaryFile file(directory + QStringLiteral("/.docstation-XXXXXX.") + extension);
    file.setAutoRemove(false);
    if (!file.open()) {
        qDebug() << "no temporary file in" << directory << file.errorString();
        return;
    }
    temporaryPath = file.fileName();
    file.close();
}

DocumentFile::~DocumentFile()
{
    if (!published && !temporaryPath.isEmpty())
        QFile::remove(temporaryPath);
}

bool DocumentFile::write(const QByteArray &bytes)
{
    if (!isValid() || published)
        return false;
    CompleteFile file(temporaryPath);
    if (!file.openForWriting()) {
        qDebug() << "file not written:" << temporaryPath << file.errorString();
        return false;
    }
    file.write(bytes);
    return file.finish();
}

QString DocumentFile::publish(const std::function<QString()> &reserveName)
{
    if (!isValid() || published)
        return QString();
    const QFileInfo written(temporaryPath);
    if (!written.isFile() || written.size() == 0)
        return QString();
    const QString finalPath = reserveName();
    // Only our own fresh, empty reservation may be replaced by the rename.
    const QFileInfo reserved(finalPath);
    if (finalPath.isEmpty() || !reserved.isFile() || reserved.size() != 0) {
        qDebug() << "document name not reserved:" << finalPath;
        return QString();
    }
    // The document gets the permissions a photo would get, not the private
    // ones of a temporary file.
    QFile::setPermissions(temporaryPath, reserved.permissions());
    if (!renamed(temporaryPath, finalPath)) {
        qDebug() << "document not renamed to" << finalPath;
        photonaming::giveBack(*Cache::config, finalPath);
        return QString();
    }
    published = true;
    return finalPath;
}

bool DocumentFile::replace(const QString &target)
{
    if (!isValid() || published)
        return false;
    const QFileInfo old(target);
    QFile::setPermissions(temporaryPath,
                          old.exists() ? old.permissions()
                                       : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                             | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (!renamed(temporaryPath, target)) {
        qDebug() << "file not renamed to" << target;
        return false;
    }
    published = true;
    return true;
}

bool CompleteFile::openForWriting()
{
    failed = false;
    return open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

qint64 CompleteFile::writeData(const char *data, qint64 length)
{
    if (failed)
        return -1;   // nothing after a gap: the file is lost anyway
    const qint64 written = QFile::writeData(data, length);
    if (written != length) {
        failed = true;
        qDebug() << "file cut short:" << fileName() << errorString();
    }
    return written;
}

bool CompleteFile::finish()
{
    if (!isOpen())
        return false;
    close();
    return !failed && error() == QFileDevice::NoError;
}
