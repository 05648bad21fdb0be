#pragma once

#include "virtualsource.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <memory>

// What one virtual camera keeps across the sources the capture thread opens
// and releases on it: when its timeline began on the station clock (a
// page-turn or vanishing timeline goes on while the camera is reopened),
// whether it is plugged in, and how often it was opened.
struct VirtualDeviceState
{
    VirtualDeviceState();

    const qint64 epochMs;
    std::atomic<bool> plugged{true};
    std::atomic<int> opens{0};

    double seconds() const;
};

// Blocks until the next frame time of a fixed rate; a caller that fell behind
// starts afresh instead of catching up in a burst.
class FramePacer
{
public:
    explicit FramePacer(double fps);
    void setRate(double fps);
    double rate() const { return fps; }
    void wait();

private:
    // Frames are paced in real time: a camera delivers at its own pace,
    // whatever clock the station reads.
    using PaceClock = std::chrono::steady_clock;
    double fps;
    PaceClock::time_point next{};
};

// The behaviour every virtual camera shares: open fails and frames are empty
// while unplugged, read() paces itself, FOURCC and frame-rate requests are
// answered like a camera would, and size requests arrive in pairs (width,
// then height) as OpenCV's Video4Linux backend applies them.
// Asked for MJPG, it hands out the JPEG bytes of each picture; a picture is
// encoded once and its bytes reused for as long as the source reports the
// same picture, so encoding does not count as the camera's cost.
class VirtualSourceBase : public VirtualSource
{
public:
    VirtualSourceBase(std::shared_ptr<VirtualDeviceState> state, double fps);

    bool open() final;
    bool isOpened() const final;
    bool read(cv::Mat &frame) final;
    bool deliversMjpg() const final { return mjpgRequested; }
    bool set(int propId, double value) override;
    double get(int propId) const override;
    void release() final;

protected:
    virtual bool openSource() = 0;
    // An empty frame when there is none. While compressing(), the frame is
    // only read, so it may share the source's own picture.
    virtual bool readSource(cv::Mat &frame) = 0;
    // Which picture the last readSource() handed out: equal numbers, equal
    // pixels. kFreshPicture when it may differ from every picture before.
    static constexpr long long kFreshPicture = -1;
    virtual long long pictureNumber() const { return kFreshPicture; }
    virtual void releaseSource() {}
    virtual cv::Size frameSize() const = 0;
    // Switches to the offered size nearest to `wanted`; false when the size is fixed.
    virtual bool requestSize(cv::Size wanted) = 0;
    // The highest rate the source offers; requests above it get this one.
    double maxRate() const { return offeredFps; }
    double seconds() const { return state->seconds(); }
    bool compressing() const { return mjpgRequested; }

private:
    bool applyPendingSize();
    bool compress(const cv::Mat &picture, cv::Mat &frame);

    std::shared_ptr<VirtualDeviceState> state;
    double offeredFps;
    FramePacer pacer;
    bool opened = false;
    int fourcc;
    bool mjpgRequested = false;   // until asked for, frames stay raw like today's
    long long encodedPicture = kFreshPicture;
    cv::Mat encoded;
    int pendingWidth = 0;
    int pendingHeight = 0;
};
