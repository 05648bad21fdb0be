#include "virtualsourcebase.h"

#include "clock.h"
#include "mjpgframe.h"

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <thread>

namespace {

const int kMjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
const int kYuyv = cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V');
const int kMjpgQuality = 85;   // what document cameras typically stream at

std::chrono::nanoseconds periodOf(double fps)
{
    return std::chrono::nanoseconds(static_cast<long long>(1e9 / fps));
}

} // namespace

VirtualDeviceState::VirtualDeviceState() : epochMs(Clock::current().elapsedMs()) {}

double VirtualDeviceState::seconds() const
{
    return double(Clock::current().elapsedMs() - epochMs) / 1000.0;
}

FramePacer::FramePacer(double fps) : fps(fps > 0 ? fps : 30.0) {}

void FramePacer::setRate(double rate)
{
    if (rate > 0)
        fps = rate;
}

void FramePacer::wait()
{
    const auto now = PaceClock::now();
    const auto period = periodOf(fps);
    if (next.time_since_epoch().count() == 0 || next + period < now)
        next = now;
    std::this_thread::sleep_until(next);
    next += period;
}

VirtualSourceBase::VirtualSourceBase(std::shared_ptr<VirtualDeviceState> state, double fps)
    : state(std::move(state)), offeredFps(fps > 0 ? fps : 30.0), pacer(offeredFps), fourcc(kMjpg)
{
}

bool VirtualSourceBase::open()
{
    ++state->opens;
    release();
    if (!state->plugged)
        return false;
    opened = openSource();
    return opened;
}

bool VirtualSourceBase::isOpened() const
{
    return opened && state->plugged;
}

bool VirtualSourceBase::read(cv::Mat &frame)
{
    frame.release();
    if (!isOpened())
        return false;
    if (pendingWidth > 0 || pendingHeight > 0)
        applyPendingSize();
    pacer.wait();
    if (!state->plugged)   // pulled out while waiting for the frame
        return false;
    cv::Mat picture;
    if (!readSource(picture) || picture.empty())
        return false;
    if (!mjpgRequested) {
        frame = picture;
        return true;
    }
    return compress(picture, frame);
}

bool VirtualSourceBase::compress(const cv::Mat &picture, cv::Mat &frame)
{
    const long long number = pictureNumber();
    if (number == kFreshPicture || number != encodedPicture || encoded.empty()) {
        encodedPicture = kFreshPicture;
        if (!encodeMjpgFrame(picture, kMjpgQuality, encoded))
            return false;
        encodedPicture = number;
    }
    frame = encoded;   // read-only bytes: the reader decodes them into a picture of its own
    return true;
}

bool VirtualSourceBase::applyPendingSize()
{
    const cv::Size current = frameSize();
    const cv::Size wanted(pendingWidth > 0 ? pendingWidth : current.width,
                          pendingHeight > 0 ? pendingHeight : current.height);
    pendingWidth = pendingHeight = 0;
    if (wanted == current)
        return true;
    return requestSize(wanted);
}

bool VirtualSourceBase::set(int propId, double value)
{
    if (!opened)
        return false;
    switch (propId) {
    case cv::CAP_PROP_FRAME_WIDTH:
    case cv::CAP_PROP_FRAME_HEIGHT: {
        const int pixels = int(value);
        if (pixels <= 0)
            return false;
        (propId == cv::CAP_PROP_FRAME_WIDTH ? pendingWidth : pendingHeight) = pixels;
        // Like the Video4Linux backend: the first of the pair waits for the second.
        if (pendingWidth > 0 && pendingHeight > 0)
            return applyPendingSize();
        return true;
    }
    case cv::CAP_PROP_FPS:
        if (!(value > 0))
            return false;
        pacer.setRate(std::min(value, offeredFps));
        return true;
    case cv::CAP_PROP_FOURCC: {
        const int code = int(static_cast<unsigned int>(value));
        if (code != kMjpg && code != kYuyv)
            return false;
        fourcc = code;
        mjpgRequested = code == kMjpg;
        return true;
    }
    default:
        return false;
    }
}

double VirtualSourceBase::get(int propId) const
{
    if (!opened)
        return 0.0;
    switch (propId) {
    case cv::CAP_PROP_FRAME_WIDTH: return frameSize().width;
    case cv::CAP_PROP_FRAME_HEIGHT: return frameSize().height;
    case cv::CAP_PROP_FPS: return pacer.rate();
    case cv::CAP_PROP_FOURCC: return fourcc;
    default: return 0.0;
    }
}

void VirtualSourceBase::release()
{
    if (opened)
        releaseSource();
    opened = false;
    pendingWidth = pendingHeight = 0;
    encoded.release();
    encodedPicture = kFreshPicture;
}
