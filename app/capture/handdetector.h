#pragma once

#include <opencv2/core.hpp>

struct PageSheet;

// Tells whether a hand is in the picture over the sheet, frame by frame:
// skin-coloured pixels over the sheet (colour frames), or anything moving
// within the sheet since the previous frame looked at (any frame, so grey
// and black-and-white previews are covered too).
class HandDetector
{
public:
    // Shares of the sheet's area (chosen on bench/autocapture's measurements:
    // pages with seals and JPEG noise show under 0.2 % skin and no motion; a
    // hand over the sheet covers several percent).
    static constexpr double kSkinShare = 0.015;
    static constexpr double kMotionShare = 0.01;

    bool look(const PageSheet &sheet);
    // The next look compares with nothing.
    void reset() { previous.release(); }

    // Share (0..1) of `area` covered by skin-coloured regions that reach the
    // picture's edge (a hand comes in on an arm; a beige sheet or a portrait
    // lying on the table does not touch the edge); 0 for a one-channel picture.
    static double skinShare(const cv::Mat &picture, const cv::Rect &area);
    // Share (0..1) of the pixels in `area` whose brightness changed clearly
    // between two smoothed grey pictures of the same size.
    static double motionShare(const cv::Mat &before, const cv::Mat &after, const cv::Rect &area);

private:
    cv::Mat previous;   // smoothed grey copy of the last frame looked at
};
