#pragma once

// The MJPG camera of the lab: what its producer writes into the loopback
// device, frame by frame, and what the tests rebuild to check the station's
// pictures against. Frame n of a size is always the same JPEG bytes.

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace labmjpg {

// The QR code on the scene's sheet.
extern const char kCodeText[];

enum class Hostile { Truncated, Garbage, Huge };

// The scene at `size` with `number` painted into its top-left corner as a
// stamp (docscene's time stamp cells), as JPEG bytes.
std::vector<uchar> goodFrame(cv::Size size, std::int64_t number);

// A frame no camera should send: the first half of a good one, bytes that
// are no JPEG, or a good one whose header claims 40000 x 40000 pixels.
std::vector<uchar> hostileFrame(Hostile kind, cv::Size size);

// The number a picture of a frame of `size`, at the picture's own scale,
// carries; -1 when it carries none.
std::int64_t numberIn(const cv::Mat &picture, cv::Size size);

} // namespace labmjpg
