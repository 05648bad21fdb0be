#pragma once

#include "camerainfo.h"

#include <QList>
#include <QString>

#include <linux/videodev2.h>

// The four Video4Linux2 calls enumeration needs. The real implementation
// talks to the kernel; tests present device trees of their own.
class V4l2Api
{
public:
    virtual ~V4l2Api() = default;
    virtual int open(const QString &path) = 0;   // -1 on failure
    virtual int queryCap(int fd, v4l2_capability *cap) = 0;
    virtual int enumFormat(int fd, v4l2_fmtdesc *desc) = 0;
    virtual int enumFrameSizes(int fd, v4l2_frmsizeenum *size) = 0;
    virtual void close(int fd) = 0;

    static V4l2Api &system();
};

// Walks /dev/video0, 1, 2, ... until the first node that is missing,
// unqueryable or not a capture device. One entry per card name; sizes
// narrower than 1280 pixels are dropped, each size listed once.
QList<CameraInfo> enumerateCameras(V4l2Api &api);
