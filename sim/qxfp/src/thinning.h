// One-pixel-wide skeleton of a binary ridge image.
#ifndef QXFP_THINNING_H
#define QXFP_THINNING_H

#include <opencv2/core.hpp>

namespace qxfp {

// img: CV_8U with 1 on ridges and 0 elsewhere; thinned in place. The outer
// one-pixel frame is cleared first.
void thin_ridges(cv::Mat &img);

}  // namespace qxfp

#endif
