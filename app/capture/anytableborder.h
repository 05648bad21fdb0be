#pragma once

#include <opencv2/core.hpp>

// The any-table detector finds a sheet in a coarse work picture, where one
// pixel is a few of the frame's. Each side of its rectangle is then moved to
// where the brightness steps from table to paper in the frame itself, so the
// corners are as exact as the frame allows, whatever the table.
namespace anytabledetection {

// `rect` in the pixels of `image` (8-bit BGR or one channel); each side is
// looked for within `reach` pixels of where it is. A side without a clear
// step along most of it (under a hand, off the picture) stays where it was.
cv::RotatedRect borderAtStep(const cv::Mat &image, const cv::RotatedRect &rect, float reach);

} // namespace anytabledetection
