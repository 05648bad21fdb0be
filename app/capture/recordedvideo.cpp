#include "recordedvideo.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace recordedvideo {

bool complete(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    // One chunk per gigabyte or so (OpenDML files continue in "AVIX"
    // chunks), so this reads a few bytes however long the recording.
    qint64 offset = 0;
    while (offset < size) {
        if (!file.seek(offset))
            return false;
        const QByteArray header = file.read(8);
        if (header.size() != 8 || !header.startsWith("RIFF"))
            return false;
        const quint32 length = qFromLittleEndian<quint32>(header.constData() + 4);
        offset += 8 + qint64(length) + (length & 1);
    }
    return size > 0 && offset == size;
}

bool playable(const QString &path)
{
    try {
        cv::VideoCapture video(QFile::encodeName(path).toStdString());
        cv::Mat first;
        return video.isOpened() && video.read(first) && !first.empty();
    } catch (const cv::Exception &) {
        return false;
    }
}

} // namespace recordedvideo
