#pragma once

#include "documentdetection.h"

#include <opencv2/core.hpp>

#include <vector>

// Finds sheets on tables of any kind (Config::anyTable): light desks, wood,
// laminate, cloth, two materials side by side, under uneven light. The table
// is learnt from the picture's border, which sheets rarely reach. A sheet is
// found by colour (nearly colourless paper, not a table colour, not darker
// than the table) or by its outline (anytableedges.h), whichever finds the
// larger sheet, and its sides are then set on the brightness step in the
// frame (anytableborder.h). A hand or a clip over a corner cuts that corner
// off, and the smallest rectangle around the rest is still the whole sheet.
namespace anytabledetection {

// The same candidates as documentdetection::candidates gives for a dark
// base, in the picture's own pixels. `image` is 8-bit BGR or one channel.
std::vector<documentdetection::Candidate> candidates(const cv::Mat &image);

} // namespace anytabledetection
