#pragma once

#include <opencv2/core.hpp>

// The closed areas of an edge picture, told apart by rows of pixels rather
// than pixel by pixel: a sheet's margin or a table's smooth stretch is a few
// long runs per row, so joining runs is much cheaper than labelling every
// pixel, and gives the same areas (neighbours across a side, not a corner).
namespace anytabledetection {

// 255 where a pixel lies in an area between edges (`edges` 255) that keeps
// off the picture's border, covers at least `minPixels`, and whose mean
// `chroma` is at most `maxChroma` and mean `level` at least `minLevel`.
cv::Mat1b closedPieces(const cv::Mat1b &edges, const cv::Mat1b &level, const cv::Mat1b &chroma, int minPixels,
                       double maxChroma, int minLevel);

} // namespace anytabledetection
