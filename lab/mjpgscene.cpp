#include "mjpgscene.h"

#include "docscene.h"
#include "timestamp.h"

#include <opencv2/imgcodecs.hpp>

#include <map>
#include <mutex>
#include <utility>

namespace labmjpg {

const char kCodeText[] = "DOCSTATION LAB MJPG";

namespace {

constexpr int kQuality = 80;

cv::Mat sceneOf(cv::Size size)
{
    static std::mutex mutex;
    static std::map<std::pair<int, int>, cv::Mat> scenes;
    std::lock_guard<std::mutex> lock(mutex);
    cv::Mat &scene = scenes[{size.width, size.height}];
    if (scene.empty()) {
        docscene::Options options;
        options.size = size;
        options.qr = kCodeText;
        options.fixedAngle = true;
        scene = docscene::render(options).image;
    }
    return scene;
}

} // namespace

std::vector<uchar> goodFrame(cv::Size size, std::int64_t number)
{
    cv::Mat picture = sceneOf(size).clone();
    docscene::paintTimestamp(picture, number);
    std::vector<uchar> bytes;
    cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, kQuality});
    return bytes;
}

std::vector<uchar> hostileFrame(Hostile kind, cv::Size size)
{
    std::vector<uchar> bytes = goodFrame(size, 0);
    switch (kind) {
    case Hostile::Truncated:
        bytes.resize(bytes.size() / 2);
        break;
    case Hostile::Garbage:
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uchar((i * 7919u) >> 3);
        break;
    case Hostile::Huge:
        // The baseline frame header (SOF0) carries height and width.
        for (size_t at = 2; at + 9 < bytes.size(); ++at) {
            if (bytes[at] == 0xFF && bytes[at + 1] == 0xC0) {
                bytes[at + 5] = bytes[at + 7] = uchar(40000 >> 8);
                bytes[at + 6] = bytes[at + 8] = uchar(40000 & 0xFF);
                break;
            }
        }
        break;
    }
    return bytes;
}

std::int64_t numberIn(const cv::Mat &picture, cv::Size size)
{
    if (picture.empty() || size.width <= 0)
        return -1;
    const cv::Rect area = docscene::stampArea(size);
    const double scale = double(picture.cols) / size.width;
    const cv::Rect2d scaled(area.x * scale, area.y * scale, area.width * scale, area.height * scale);
    std::int64_t number = -1;
    return docscene::readTimestamp(picture, scaled, &number) ? number : -1;
}

} // namespace labmjpg
