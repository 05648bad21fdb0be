#include "docscene.h"

#include <opencv2/imgproc.hpp>

namespace docscene {
namespace {

// The letterhead band of an upright page, as fractions of the page's width
// and height, shrunk a little so that a cut-out a few pixels off still hits it.
const cv::Rect2d kHeadingFraction(0.10, 0.064, 0.36, 0.040);

double inkShare(const cv::Mat1b &ink, const cv::Rect2d &fraction)
{
    const cv::Rect area = cv::Rect(int(fraction.x * ink.cols), int(fraction.y * ink.rows),
                                   std::max(1, int(fraction.width * ink.cols)),
                                   std::max(1, int(fraction.height * ink.rows)))
                          & cv::Rect(0, 0, ink.cols, ink.rows);
    return area.empty() ? 0.0 : cv::mean(ink(area))[0] / 255.0;
}

} // namespace

int quarterTurns(const cv::Mat &cutOut)
{
    if (cutOut.empty())
        return 0;
    cv::Mat grey;
    if (cutOut.channels() == 1)
        grey = cutOut;
    else if (cutOut.channels() == 4)
        cv::cvtColor(cutOut, grey, cv::COLOR_BGRA2GRAY);
    else
        cv::cvtColor(cutOut, grey, cv::COLOR_BGR2GRAY);
    cv::Mat1b ink;
    cv::threshold(grey, ink, 100, 255, cv::THRESH_BINARY_INV);

    int best = 0;
    double bestShare = -1;
    cv::Mat1b turned = ink;
    for (int turns = 0; turns < 4; ++turns) {
        // `turned` is the cut-out rotated back by `turns` quarter turns.
        const double share = inkShare(turned, kHeadingFraction);
        if (share > bestShare) {
            bestShare = share;
            best = turns;
        }
        cv::Mat1b next;
        cv::rotate(turned, next, cv::ROTATE_90_COUNTERCLOCKWISE);
        turned = next;
    }
    return best;
}

} // namespace docscene
