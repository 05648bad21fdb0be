#include "startup.h"

#include "cameraenumeration.h"
#include "camerainfo.h"
#include "config.h"
#include "virtualcameras.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QImageWriter>
#include <QStringList>

#include <malloc.h>

// Selects the application font: 1 and 2 name the two desktop families' fonts.
int isUOS = 1;

namespace Startup {

void keepFrameBuffersInHeap()
{
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

void installApplicationFont()
{
    QString path;
    if (isUOS == 1)
        path = QStringLiteral("/usr/share/fonts/kyfonts/SIMYOU.TTF");
    else if (isUOS == 2)
        path = QStringLiteral("/usr/share/fonts/cesi/CESI_FS_GB2312.TTF");
    else
        return;
    const int id = QFontDatabase::addApplicationFont(path);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty())
        return;
    QApplication::setFont(QFont(families.first(), 10));
}

QList<CameraInfo> findCameras()
{
    QList<CameraInfo> cameras = enumerateCameras(V4l2Api::system());
    cameras += VirtualCameras::fromEnvironment();
    return cameras;
}

void fillOutResolutions(Config &config)
{
    config.outResolutions << QSize(4640, 3452) << QSize(4416, 3312) << QSize(3742, 2806)
                          << QSize(3264, 2448) << QSize(2592, 1944) << QSize(2048, 1536)
                          << QSize(1920, 1080) << QSize(1600, 1200) << QSize(1280, 960)
                          << QSize(1280, 720) << QSize(800, 600) << QSize(640, 480);
}

void fillImageFormats(Config &config)
{
    const QList<QByteArray> formats = QImageWriter::supportedImageFormats();
    for (const QByteArray &format : formats) {
        const QString name = QString::fromLatin1(format);
        if (name.isEmpty() || name.toUpper() == QLatin1String("JP2"))
            continue;
        config.imageFormats.append(name);
    }
}

} // namespace Startup
