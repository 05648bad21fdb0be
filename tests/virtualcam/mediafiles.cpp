#include "mediafiles.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

namespace mediafiles {

int levelOfFrame(int i)
{
    return 40 * i + 20;
}

bool writeVideo(const QString &path, int frames, double fps, cv::Size size)
{
    cv::VideoWriter writer(path.toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size);
    if (!writer.isOpened())
        return false;
    for (int i = 0; i < frames; ++i)
        writer.write(cv::Mat(size, CV_8UC3, cv::Scalar::all(levelOfFrame(i))));
    writer.release();
    return true;
}

bool writeImage(const QString &path, int level, cv::Size size)
{
    return cv::imwrite(path.toStdString(), cv::Mat(size, CV_8UC3, cv::Scalar::all(level)));
}

double meanLevel(const cv::Mat &frame)
{
    const cv::Scalar mean = cv::mean(frame);
    return (mean[0] + mean[1] + mean[2]) / 3.0;
}

} // namespace mediafiles
