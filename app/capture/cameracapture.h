#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QMutex>

#include <functional>
#include <memory>

class VirtualSource;

// The capture thread's camera: a cv::VideoCapture on a video device, or a
// virtual camera when the device number is one of VirtualCameras'. Calls are
// serialised, so the owner's thread may release while the loop reads.
// Whatever the camera delivers, read() hands out a decoded BGR picture: a
// virtual camera's MJPG frames are decoded here, as a device's are.
class CameraCapture
{
public:
    CameraCapture();
    ~CameraCapture();
    CameraCapture(const CameraCapture &) = delete;
    CameraCapture &operator=(const CameraCapture &) = delete;

    // Sees every property request on its way to a camera, whether the
    // camera takes it or not (diagnostics and tests); empty to stop.
    using RequestObserver = std::function<void(int propId, double value)>;
    static void setRequestObserver(RequestObserver observer);

    bool open(int deviceNumber, int apiPreference = cv::CAP_ANY);
    bool isOpened() const;
    bool read(cv::OutputArray image);
    bool set(int propId, double value);
    double get(int propId) const;
    void release();

private:
    mutable QMutex mutex;
    cv::VideoCapture device;
    std::unique_ptr<VirtualSource> virtualSource;
};
