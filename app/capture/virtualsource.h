#pragma once

#include <opencv2/core.hpp>

#include <QList>
#include <QSize>
#include <QString>

// A camera without hardware: a video file, an image or image sequence, or a
// synthetic document scene. read() paces itself at the source's frame rate,
// as a real camera's read blocks until the next frame.
class VirtualSource
{
public:
    virtual ~VirtualSource() = default;
    virtual bool open() = 0;
    virtual bool isOpened() const = 0;
    virtual bool read(cv::Mat &frame) = 0;   // false and an empty frame when there is none
    // True while read() hands out MJPG frames (JPEG bytes in one row of CV_8U)
    // instead of BGR pictures, as a camera does once MJPG was asked for.
    virtual bool deliversMjpg() const { return false; }
    virtual bool set(int propId, double value) = 0;
    virtual double get(int propId) const = 0;
    virtual void release() = 0;
};
