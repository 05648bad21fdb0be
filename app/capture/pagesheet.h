#pragma once

#include <QImage>

#include <opencv2/core.hpp>

// The sheet under the camera in one preview frame, found on a small copy of
// the frame: page recognition and hand watching need no more detail, and a
// small copy keeps the checks cheap on slow cores.
struct PageSheet
{
    static constexpr int kWorkingWidth = 320;

    cv::Mat small;                                                    // 8-bit BGR or one channel; empty for a null frame
    cv::RotatedRect rect{cv::Point2f(0, 0), cv::Size2f(0, 0), 0};    // in `small`; zero size when no sheet was found

    bool found() const { return rect.size.area() > 0; }
    // Where the sheet lies in `small`, widened by `margin` of its size on
    // each side and clipped; the whole picture when no sheet was found.
    cv::Rect area(double margin = 0.0) const;

    // Scales the frame down (colour or grey; the colour order becomes BGR)
    // and finds the largest bright sheet covering at least a twentieth of it.
    static PageSheet of(const QImage &frame);
};
