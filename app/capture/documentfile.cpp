#include "documentfile.h"

#include "cache.h"
#include "photonaming.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

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
    if (std::rename(QFile::encodeName(temporaryPath).constData(),
                    QFile::encodeName(finalPath).constData())
        != 0) {
        qDebug() << "document not renamed to" << finalPath;
        photonaming::giveBack(*Cache::config, finalPath);
        return QString();
    }
    published = true;
    return finalPath;
}
