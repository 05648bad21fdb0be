#pragma once

#include <opencv2/core.hpp>

// Connected areas of the edge cue's pictures, told apart by rows of pixels
// rather than pixel by pixel: a sheet's margin or a table's smooth stretch is
// a few long runs per row, so joining runs is much cheaper than labelling
// every pixel, and gives the same areas.
namespace anytabledetection {

// 255 where a pixel lies in an area between edges (`edges` 255) that keeps
// off the picture's border, covers at least `minPixels`, and whose mean
// `chroma` is at most `maxChroma` and mean `level` at least `minLevel`.
// Areas meet across a side, not a corner.
cv::Mat1b closedPieces(const cv::Mat1b &edges, const cv::Mat1b &level, const cv::Mat1b &chroma, int minPixels,
                       double maxChroma, int minLevel);

// The connected edges (corners joining, as outlines follow them) whose
// bounding box keeps off the picture's border and covers at least
// `minBoxArea`; the rest is cleared. A noisy table's many specks of edge
// would otherwise each become an outline to be traced and turned away.
cv::Mat1b largeEdgeShapes(const cv::Mat1b &edges, double minBoxArea);

} // namespace anytabledetection
