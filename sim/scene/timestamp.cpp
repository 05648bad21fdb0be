#include "timestamp.h"

#include <opencv2/imgproc.hpp>

#include <chrono>

namespace docscene {

namespace {

constexpr int kTimeBits = 40;
constexpr std::int64_t kTimeMask = (std::int64_t(1) << kTimeBits) - 1;

int checkOf(std::int64_t value)
{
    int check = 0x5a;
    for (int byte = 0; byte < kTimeBits / 8; ++byte)
        check ^= int((value >> (8 * byte)) & 0xff) * (byte + 1);
    return check & 0xff;
}

} // namespace

int stampCell(int frameWidth)
{
    return std::max(4, frameWidth / (2 * kStampColumns));
}

cv::Rect stampArea(cv::Size frameSize)
{
    const int cell = stampCell(frameSize.width);
    return cv::Rect(0, 0, cell * kStampColumns, cell * kStampRows);
}

void paintTimestamp(cv::Mat &frame, std::int64_t milliseconds)
{
    const int cell = stampCell(frame.cols);
    const std::int64_t value = milliseconds & kTimeMask;
    const std::int64_t bits = value | (std::int64_t(checkOf(value)) << kTimeBits);
    for (int i = 0; i < kStampColumns * kStampRows; ++i) {
        const bool one = (bits >> i) & 1;
        const cv::Rect square((i % kStampColumns) * cell, (i / kStampColumns) * cell, cell, cell);
        cv::rectangle(frame, square & cv::Rect(0, 0, frame.cols, frame.rows),
                      one ? cv::Scalar::all(255) : cv::Scalar::all(0), cv::FILLED);
    }
}

bool readTimestamp(const cv::Mat &picture, const cv::Rect2d &area, std::int64_t *milliseconds)
{
    if (picture.empty() || area.width <= 0 || area.height <= 0)
        return false;
    cv::Mat grey;
    if (picture.channels() == 1)
        grey = picture;
    else
        cv::cvtColor(picture, grey, picture.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    const double cellW = area.width / kStampColumns;
    const double cellH = area.height / kStampRows;
    std::int64_t bits = 0;
    for (int i = 0; i < kStampColumns * kStampRows; ++i) {
        // The middle half of each cell: edges blur in scaling and JPEG.
        const double x = area.x + (i % kStampColumns + 0.25) * cellW;
        const double y = area.y + (i / kStampColumns + 0.25) * cellH;
        const cv::Rect inner = cv::Rect(int(x), int(y), std::max(1, int(cellW / 2)), std::max(1, int(cellH / 2)))
                               & cv::Rect(0, 0, grey.cols, grey.rows);
        if (inner.empty())
            return false;
        if (cv::mean(grey(inner))[0] > 127)
            bits |= std::int64_t(1) << i;
    }
    const std::int64_t value = bits & kTimeMask;
    if (int((bits >> kTimeBits) & 0xff) != checkOf(value))
        return false;
    *milliseconds = value;
    return true;
}

std::int64_t stampClock()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count() & kTimeMask;
}

std::int64_t stampAge(std::int64_t stamp, std::int64_t now)
{
    return (now - stamp) & kTimeMask;
}

} // namespace docscene
