#include "imagefile.h"

#include "documentfile.h"

#include <QBuffer>
#include <QByteArray>
#include <QDebug>
#include <QFileInfo>
#include <QImageWriter>

namespace imagefile {

namespace {

// The whole picture in memory first: the encoder cannot then leave half a
// file behind, and the file is written with one checked write.
QByteArray encoded(const QImage &image, const QString &format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format.toLatin1());
    writer.setQuality(quality);
    if (image.isNull() || !writer.write(image)) {
        qDebug() << "picture not encoded as" << format << writer.errorString();
        return QByteArray();
    }
    return bytes;
}

} // namespace

QString saveNew(const QImage &image, const QString &directory, const QString &format, int quality,
                const std::function<QString()> &reserveName)
{
    const QByteArray bytes = encoded(image, format, quality);
    if (bytes.isEmpty())
        return QString();
    DocumentFile file(directory, format);
    if (!file.write(bytes))
        return QString();
    return file.publish(reserveName);
}

bool saveOver(const QImage &image, const QString &path, const QString &format, int quality)
{
    // A folder named by a web page is never made for it.
    const QString directory = QFileInfo(path).absolutePath();
    if (!QFileInfo(directory).isDir())
        return false;
    const QByteArray bytes = encoded(image, format, quality);
    if (bytes.isEmpty())
        return false;
    DocumentFile file(directory, format);
    return file.write(bytes) && file.replace(path);
}

} // namespace imagefile
