#pragma once

#include "virtualsourcebase.h"

#include <QString>

#include <opencv2/videoio.hpp>

// A camera that plays a video file in a loop at the file's own frame rate and
// size.
class VirtualVideoSource : public VirtualSourceBase
{
public:
    struct Probe
    {
        cv::Size size;
        double fps = 0;
    };
    // Size and rate of the file; false when it cannot be played.
    static bool probe(const QString &path, Probe &probe);

    VirtualVideoSource(const QString &path, const Probe &probe, std::shared_ptr<VirtualDeviceState> state);

protected:
    bool openSource() override;
    bool readSource(cv::Mat &frame) override;
    void releaseSource() override;
    cv::Size frameSize() const override;
    bool requestSize(cv::Size wanted) override;

private:
    QString path;
    cv::Size size;
    cv::VideoCapture file;
};
