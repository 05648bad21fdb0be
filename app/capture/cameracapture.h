#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "threadsafety.h"

#include <functional>
#include <memory>

class FullSizeFrame;
class VirtualSource;

// The capture thread's camera: a cv::VideoCapture on a video device, or a
// virtual camera when the device number is one of VirtualCameras'. Calls are
// serialised, so the owner's thread may release while the loop reads.
// Devices open through OpenCV's Video4Linux back end: where GStreamer is
// installed, OpenCV would otherwise pick it for a camera number, and its
// pipeline passes on neither format, raw mode nor exposure requests and
// stops delivering after the first of them.
// Whatever the camera delivers, read() hands out a decoded BGR picture.
// MJPG frames (a virtual camera's, or a device's taken compressed from the
// Video4Linux backend's raw mode) are decoded here, at the reduced scale the
// live path needs; newestFrame() keeps the same frame for a full-size
// decode of whatever is kept. Raw formats are handed on as delivered. An
// MJPG frame that is no complete JPEG of the negotiated size is dropped
// with a log line (droppedFrame()), never decoded.
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

    // Given a frame's full size, the size the live picture must at least
    // have (an empty size: full). Asked on every compressed frame, on the
    // reading thread; without it every frame is decoded in full.
    using LiveSize = std::function<cv::Size(cv::Size fullSize)>;
    void setLiveSize(LiveSize liveSize) EXCLUDES(mutex);

    bool open(int deviceNumber) EXCLUDES(mutex);
    bool isOpened() const EXCLUDES(mutex);
    bool read(cv::OutputArray image) EXCLUDES(mutex);
    // The same, also handing out the frame for a full-size decode of what is
    // kept (null when nothing was read).
    bool read(cv::Mat &image, std::shared_ptr<FullSizeFrame> &kept) EXCLUDES(mutex);
    // The last read failed only because its frame was broken: the camera
    // still delivers, and the next frame may be good.
    bool droppedFrame() const EXCLUDES(mutex);
    bool set(int propId, double value) EXCLUDES(mutex);
    double get(int propId) const EXCLUDES(mutex);
    void release() EXCLUDES(mutex);

private:
    bool readLocked(cv::OutputArray image) REQUIRES(mutex);
    bool readDevice(cv::Mat &raw) REQUIRES(mutex);
    bool openDevice(int deviceNumber) REQUIRES(mutex);
    cv::Size negotiatedSize() const REQUIRES(mutex);
    bool decodeLive(const cv::Mat &compressed, bool ownBytes, cv::OutputArray image)
        REQUIRES(mutex);
    void keepPicture(const cv::Mat &picture, cv::OutputArray image) REQUIRES(mutex);
    bool switchDeviceToRaw(bool raw) REQUIRES(mutex);

    mutable Mutex mutex;
    cv::VideoCapture device GUARDED_BY(mutex);
    std::unique_ptr<VirtualSource> virtualSource GUARDED_BY(mutex);
    LiveSize liveSize GUARDED_BY(mutex);
    std::shared_ptr<FullSizeFrame> newest GUARDED_BY(mutex);   // of the last read
    // Decided again after a format or size change.
    bool rawModeChecked GUARDED_BY(mutex) = false;
    // The device hands out MJPG frames compressed.
    bool rawMode GUARDED_BY(mutex) = false;
    // Frame size the device agreed to, read when the raw mode is decided.
    cv::Size deviceSize GUARDED_BY(mutex);
    bool lastFrameDropped GUARDED_BY(mutex) = false;
};
