#pragma once

#include "documentdetection.h"

#include <opencv2/core.hpp>

#include <vector>

// Finds sheets on tables of any kind (Config::anyTable): light desks, wood,
// laminate, cloth, two materials side by side, under uneven light. The table
// is learnt from the picture's border, which sheets rarely reach: every pixel
// whose light-corrected colour is not a table colour, is not darker than the
// table and is nearly colourless (paper, not skin or wood) belongs to a sheet.
// A hand or a clip over a corner cuts that corner off the region, and the
// smallest rectangle around the rest is still the whole sheet.
namespace anytabledetection {

// The same candidates as documentdetection::candidates gives for a dark
// base, in the picture's own pixels. `image` is 8-bit BGR or one channel.
std::vector<documentdetection::Candidate> candidates(const cv::Mat &image);

} // namespace anytabledetection
