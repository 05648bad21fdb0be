#include "virtualvideosource.h"

#include <opencv2/imgproc.hpp>

namespace {

// Files that do not state a usable rate play at a camera's usual one.
double usableRate(double fps)
{
    return fps > 0.5 && fps <= 240 ? fps : 25.0;
}

} // namespace

bool VirtualVideoSource::probe(const QString &path, Probe &probe)
{
    cv::VideoCapture file(path.toStdString(), cv::CAP_ANY);
    if (!file.isOpened())
        return false;
    cv::Mat first;
    if (!file.read(first) || first.empty())
        return false;
    probe.size = first.size();
    probe.fps = usableRate(file.get(cv::CAP_PROP_FPS));
    return true;
}

VirtualVideoSource::VirtualVideoSource(const QString &path, const Probe &probe,
                                       std::shared_ptr<VirtualDeviceState> state)
    : VirtualSourceBase(std::move(state), probe.fps), path(path), size(probe.size)
{
}

bool VirtualVideoSource::openSource()
{
    return file.open(path.toStdString(), cv::CAP_ANY);
}

bool VirtualVideoSource::readSource(cv::Mat &frame)
{
    if (!file.read(frame) || frame.empty()) {
        // The end of the file: start it over.
        file.release();
        if (!file.open(path.toStdString(), cv::CAP_ANY) || !file.read(frame) || frame.empty()) {
            frame.release();
            return false;
        }
    }
    if (frame.size() != size) {
        // A camera delivers one size; a file that changes size mid-way is fitted to its first.
        cv::Mat fitted;
        cv::resize(frame, fitted, size, 0, 0, cv::INTER_AREA);
        frame = fitted;
    }
    if (frame.type() == CV_8UC1) {
        cv::Mat colour;
        cv::cvtColor(frame, colour, cv::COLOR_GRAY2BGR);
        frame = colour;
    }
    return true;
}

void VirtualVideoSource::releaseSource()
{
    file.release();
}

cv::Size VirtualVideoSource::frameSize() const
{
    return size;
}

bool VirtualVideoSource::requestSize(cv::Size)
{
    return false;   // a file keeps its size
}
