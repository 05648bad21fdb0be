#include "virtualcameras.h"

#include "virtualsource.h"

#include <QByteArray>

namespace VirtualCameras {

QList<CameraInfo> fromEnvironment()
{
    return parse(QString::fromLocal8Bit(qgetenv(environmentVariable)));
}

QList<CameraInfo> parse(const QString &)
{
    return {};
}

bool isVirtual(int deviceNumber)
{
    return deviceNumber >= firstIndex;
}

std::unique_ptr<VirtualSource> createSource(int)
{
    return nullptr;
}

} // namespace VirtualCameras
