#include "pagesheet.h"

#include "documentdetection.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinSheetShare = 0.05;   // smaller bright things are not a page

// The frame's pixels without a copy, and how to turn them into BGR.
cv::Mat wrap(const QImage &frame, int &toBgr)
{
    uchar *bits = const_cast<uchar *>(frame.constBits());
    const size_t step = size_t(frame.bytesPerLine());
    switch (frame.format()) {
    case QImage::Format_Indexed8:   // the preview's grey frames carry a grey palette
    case QImage::Format_Grayscale8:
        toBgr = -1;
        return cv::Mat(frame.height(), frame.width(), CV_8UC1, bits, step);
    case QImage::Format_RGB888:
        toBgr = cv::COLOR_RGB2BGR;
        return cv::Mat(frame.height(), frame.width(), CV_8UC3, bits, step);
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        toBgr = cv::COLOR_BGRA2BGR;
        return cv::Mat(frame.height(), frame.width(), CV_8UC4, bits, step);
    default:
        return cv::Mat();
    }
}

cv::Mat scaledDown(const QImage &frame)
{
    if (frame.isNull())
        return cv::Mat();
    QImage converted;
    int toBgr = -1;
    cv::Mat pixels = wrap(frame, toBgr);
    if (pixels.empty()) {
        converted = frame.convertToFormat(QImage::Format_RGB888);
        pixels = wrap(converted, toBgr);
    }
    const double scale = std::min(1.0, double(PageSheet::kWorkingWidth) / pixels.cols);
    const cv::Size size(std::max(1, int(std::lround(pixels.cols * scale))),
                        std::max(1, int(std::lround(pixels.rows * scale))));
    cv::Mat small;
    cv::resize(pixels, small, size, 0, 0, cv::INTER_AREA);
    if (toBgr >= 0)
        cv::cvtColor(small, small, toBgr);
    return small;
}

} // namespace

cv::Rect PageSheet::area(double margin) const
{
    const cv::Rect whole(0, 0, small.cols, small.rows);
    if (!found())
        return whole;
    const cv::Rect box = rect.boundingRect();
    const int dx = int(std::lround(box.width * margin));
    const int dy = int(std::lround(box.height * margin));
    const cv::Rect widened = cv::Rect(box.x - dx, box.y - dy, box.width + 2 * dx, box.height + 2 * dy) & whole;
    return widened.empty() ? whole : widened;
}

PageSheet PageSheet::of(const QImage &frame)
{
    PageSheet sheet;
    sheet.small = scaledDown(frame);
    if (sheet.small.empty())
        return sheet;
    const double minArea = kMinSheetShare * sheet.small.total();
    double largest = 0;
    for (const documentdetection::Candidate &candidate : documentdetection::candidates(sheet.small)) {
        const double area = double(candidate.rect.size.area());
        if (area >= minArea && area > largest) {
            largest = area;
            sheet.rect = candidate.rect;
        }
    }
    return sheet;
}
