#pragma once

#include "docscene.h"

namespace docscene::detail {

// The code's modules at one pixel per module (0 black, 255 white; a 1-D code
// is one row), without quiet zone; empty when the text cannot be encoded or
// no barcode writer is available.
cv::Mat1b encodeModules(CodeKind kind, const std::string &text);

// Draws the modules into `symbol` of `sheet` at `modulePixels` per module,
// with a white quiet zone around them.
void paintCode(cv::Mat &sheet, const cv::Mat1b &modules, const cv::Rect &symbol, int modulePixels,
               CodeKind kind);

} // namespace docscene::detail
