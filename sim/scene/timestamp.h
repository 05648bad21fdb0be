#pragma once

// A time stamp painted into a camera frame that a client can read back from
// a scaled, JPEG-compressed copy of it: 48 black-or-white cells in two rows
// of 24 at the frame's top-left corner, 40 bits of milliseconds (the
// Unix time modulo 2^40) and an 8-bit check.

#include <opencv2/core.hpp>

#include <cstdint>

namespace docscene {

constexpr int kStampColumns = 24;
constexpr int kStampRows = 2;

// Cell side for a frame of this width (1920 -> 40 pixels).
int stampCell(int frameWidth);
// The frame area the stamp covers.
cv::Rect stampArea(cv::Size frameSize);

void paintTimestamp(cv::Mat &frame, std::int64_t milliseconds);
// `area` is where the stamp area ended up in `picture` (after scaling and
// placing). False when the cells do not carry a valid stamp.
bool readTimestamp(const cv::Mat &picture, const cv::Rect2d &area, std::int64_t *milliseconds);

// Milliseconds of the Unix time modulo 2^40, as stamps carry them.
std::int64_t stampClock();
// Milliseconds from a stamp to `now` (both from stampClock), across a wrap.
std::int64_t stampAge(std::int64_t stamp, std::int64_t now);

} // namespace docscene
