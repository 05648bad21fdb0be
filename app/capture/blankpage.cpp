#include "blankpage.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace blankpage {

namespace {

// Pages are judged at this long side: enough to keep a pen stroke, and
// averaging the pixels down already flattens JPEG and paper noise.
constexpr int kWorkingLongSide = 1600;
// Ink is at least this much darker than the brightest paper around it.
constexpr int kInkContrast = 60;
// Neighbourhood that always holds some paper, even inside a heading.
constexpr int kPaperWindow = 31;
// Edges of a cut-out may carry a sliver of table or shadow.
constexpr double kMarginShare = 0.04;
// Specks smaller than this (working pixels) are dust or noise, not ink.
constexpr int kMinMarkArea = 4;

cv::Mat greyOf(const QImage &page)
{
    const QImage grey = page.convertToFormat(QImage::Format_Grayscale8);
    const cv::Mat view(grey.height(), grey.width(), CV_8UC1, const_cast<uchar *>(grey.constBits()),
                       size_t(grey.bytesPerLine()));
    return view.clone();
}

double scaleFor(const cv::Size &size)
{
    const int longSide = std::max(size.width, size.height);
    return longSide > kWorkingLongSide ? double(kWorkingLongSide) / longSide : 1.0;
}

cv::Mat inkMask(const cv::Mat &grey)
{
    cv::Mat paper;
    cv::dilate(grey, paper,
               cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kPaperWindow, kPaperWindow)));
    cv::Mat contrast;
    cv::subtract(paper, grey, contrast);
    cv::Mat ink;
    cv::threshold(contrast, ink, kInkContrast, 255, cv::THRESH_BINARY);
    return ink;
}

// Ink pixels that belong to marks, not to isolated specks.
int markPixels(const cv::Mat &ink)
{
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    int pixels = 0;
    for (int label = 1; label < count; ++label) {
        const int area = stats.at<int>(label, cv::CC_STAT_AREA);
        if (area >= kMinMarkArea)
            pixels += area;
    }
    return pixels;
}

} // namespace

double inkShare(const QImage &page, const QRect &ignore)
{
    if (page.isNull())
        return 0.0;
    cv::Mat grey = greyOf(page);
    const double scale = scaleFor(grey.size());
    if (scale < 1.0)
        cv::resize(grey, grey, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::Mat ink = inkMask(grey);

    const int marginX = int(ink.cols * kMarginShare);
    const int marginY = int(ink.rows * kMarginShare);
    const cv::Rect inner(marginX, marginY, ink.cols - 2 * marginX, ink.rows - 2 * marginY);
    if (inner.area() <= 0)
        return 0.0;
    cv::Mat looked = cv::Mat::zeros(ink.size(), CV_8UC1);
    ink(inner).copyTo(looked(inner));
    int ignoredArea = 0;
    if (!ignore.isEmpty()) {
        const cv::Rect skipped =
            cv::Rect(int(ignore.x() * scale), int(ignore.y() * scale), int(ignore.width() * scale) + 1,
                     int(ignore.height() * scale) + 1) &
            inner;
        looked(skipped).setTo(0);
        ignoredArea = skipped.area();
    }
    const int area = inner.area() - ignoredArea;
    return area > 0 ? double(markPixels(looked)) / area : 0.0;
}

bool isBlank(const QImage &page)
{
    return !page.isNull() && inkShare(page) < kBlankInkShare;
}

bool isCodeOnly(const QImage &page, const QRect &code)
{
    if (page.isNull() || code.isEmpty())
        return false;
    // The quiet zone, and for a bar code (found as a thin band along its
    // bars) the bars' height and the digits printed under them.
    const int margin = std::max(code.width(), code.height()) * 15 / 100;
    QRect around = code.adjusted(-margin, -margin, margin, margin);
    if (code.height() < code.width() / 3) {
        const int reach = code.width() / 3;
        around.setTop(std::min(around.top(), code.center().y() - reach));
        around.setBottom(std::max(around.bottom(), code.center().y() + reach));
    }
    return inkShare(page, around) < kBlankInkShare;
}

} // namespace blankpage
