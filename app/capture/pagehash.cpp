#include "pagehash.h"

#include "documentdetection.h"
#include "pagesheet.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>

namespace {

constexpr int kDctSide = 64;
constexpr int kKept = 16;   // kKept * kKept == kBits
constexpr double kTrim = 0.06;   // each side: the sheet's edge and the preview's outline

cv::Mat pageGrey(const PageSheet &sheet)
{
    cv::Mat page = sheet.found() ? documentdetection::cutOut(sheet.small, sheet.rect) : sheet.small;
    if (page.empty())
        return page;
    const int dx = int(page.cols * kTrim);
    const int dy = int(page.rows * kTrim);
    if (page.cols - 2 * dx >= kKept && page.rows - 2 * dy >= kKept)
        page = page(cv::Rect(dx, dy, page.cols - 2 * dx, page.rows - 2 * dy));
    cv::Mat grey;
    if (page.channels() == 1)
        grey = page;
    else
        cv::cvtColor(page, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

} // namespace

namespace pagehash {

Hash of(const PageSheet &sheet)
{
    static_assert(kKept * kKept == kBits, "one bit per kept frequency");
    Hash hash{};
    if (sheet.small.empty())
        return hash;
    const cv::Mat grey = pageGrey(sheet);
    if (grey.empty())
        return hash;
    cv::Mat small;
    cv::resize(grey, small, cv::Size(kDctSide, kDctSide), 0, 0, cv::INTER_AREA);
    cv::Mat real;
    small.convertTo(real, CV_32F);
    cv::Mat frequencies;
    cv::dct(real, frequencies);

    std::array<float, kKept * kKept> low{};
    for (int i = 0; i < kKept * kKept; ++i)
        low[size_t(i)] = frequencies.at<float>(i / kKept, i % kKept);
    // The mean brightness (first coefficient) says nothing about the page's
    // content; it is left out of the median.
    std::array<float, kKept * kKept - 1> ordered{};
    std::copy(low.begin() + 1, low.end(), ordered.begin());
    std::nth_element(ordered.begin(), ordered.begin() + ordered.size() / 2, ordered.end());
    const float median = ordered[ordered.size() / 2];

    for (int i = 1; i < kKept * kKept; ++i) {
        if (low[size_t(i)] > median)
            hash[size_t(i / 64)] |= quint64(1) << (i % 64);
    }
    return hash;
}

int distance(const Hash &a, const Hash &b)
{
    int bits = 0;
    for (size_t i = 0; i < a.size(); ++i)
        bits += __builtin_popcountll(a[i] ^ b[i]);
    return bits;
}

} // namespace pagehash
