#include "docscene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace docscene {
namespace {

// Light skin in BGR, with a darker edge so the shape reads as a hand.
const cv::Scalar kSkin(118, 158, 212);
const cv::Scalar kSkinEdge(92, 126, 178);

// How far in the hand is: 0 outside the frame, 1 at the sheet's centre.
// In over the first 40 % of the sweep, resting for 20 %, out over the rest.
double reach(double progress)
{
    if (progress <= 0.0 || progress >= 1.0)
        return 0.0;
    if (progress < 0.4)
        return progress / 0.4;
    if (progress < 0.6)
        return 1.0;
    return (1.0 - progress) / 0.4;
}

} // namespace

bool paintHand(cv::Mat &frame, const Geometry &geometry, double progress)
{
    const double inside = reach(progress);
    if (inside <= 0.0 || frame.empty())
        return false;
    const cv::Point2f target = geometry.sheets.empty()
                                   ? cv::Point2f(frame.cols / 2.0f, frame.rows / 2.0f)
                                   : geometry.sheets.front().rect.center;
    const float unit = float(std::min(frame.cols, frame.rows)) / 10.0f;   // palm half-width
    // It comes in from the right edge, a little below the target, wrist first out.
    const cv::Point2f start(float(frame.cols) + 3.0f * unit, target.y + unit);
    const cv::Point2f palm = start + (target - start) * float(inside);

    const cv::Scalar colour = frame.channels() == 1 ? cv::Scalar(160) : kSkin;
    const cv::Scalar edge = frame.channels() == 1 ? cv::Scalar(130) : kSkinEdge;
    // Forearm out to the right edge, palm, four fingers pointing left, a thumb.
    // The forearm always reaches out of the picture, as a real one does.
    const float armLength = std::max(6.0f * unit, float(frame.cols) - palm.x + unit);
    cv::line(frame, palm, palm + cv::Point2f(armLength, 0.1f * armLength), colour, int(1.6f * unit), cv::LINE_AA);
    cv::ellipse(frame, palm, cv::Size(int(unit), int(0.9f * unit)), 0, 0, 360, colour, cv::FILLED, cv::LINE_AA);
    for (int finger = 0; finger < 4; ++finger) {
        const cv::Point2f root = palm + cv::Point2f(-0.7f * unit, (-0.65f + 0.43f * finger) * unit);
        const float length = (finger == 0 || finger == 3 ? 1.2f : 1.5f) * unit;
        cv::line(frame, root, root - cv::Point2f(length, 0), colour, int(0.34f * unit), cv::LINE_AA);
    }
    cv::line(frame, palm + cv::Point2f(-0.2f * unit, -0.8f * unit), palm + cv::Point2f(-1.0f * unit, -1.4f * unit),
             colour, int(0.36f * unit), cv::LINE_AA);
    cv::ellipse(frame, palm, cv::Size(int(unit), int(0.9f * unit)), 0, 0, 360, edge, 2, cv::LINE_AA);
    return true;
}

} // namespace docscene
