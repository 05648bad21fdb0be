#pragma once

#include <QList>
#include <QSize>
#include <QString>

// One video device, addressed everywhere by its position in Cache::cameras.
class CameraInfo
{
public:
    CameraInfo();

    int index;                 // N of "/dev/video" N; virtual cameras count from VirtualCameras::firstIndex
    QString devicePath;
    QString name;
    QList<QString> formats;    // left empty by start-up
    QList<QSize> resolutions;  // usable sizes, driver order, each once
};
