#include "mjpgframe.h"

#include <opencv2/imgcodecs.hpp>

#include <vector>

bool decodeMjpgFrame(const cv::Mat &compressed, cv::OutputArray image)
{
    if (compressed.empty() || compressed.depth() != CV_8U) {
        image.release();
        return false;
    }
    // Same call the Video4Linux backend makes for MJPG: full size, three channels.
    cv::Mat picture = cv::imdecode(compressed.reshape(1, 1), cv::IMREAD_COLOR);
    if (picture.empty()) {
        image.release();
        return false;
    }
    image.assign(picture);
    return true;
}

bool encodeMjpgFrame(const cv::Mat &picture, int quality, cv::Mat &compressed)
{
    compressed.release();
    std::vector<uchar> bytes;
    if (picture.empty()
        || !cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, quality})
        || bytes.empty())
        return false;
    compressed = cv::Mat(bytes, true).reshape(1, 1);
    return true;
}
