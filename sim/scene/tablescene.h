#pragma once

// Sheets of the document scene laid on tables other than the dark base:
// light and dark surfaces, wood grain, a patterned cloth, two materials side by
// side, under uneven light, vignetting, a soft shadow, a slight perspective,
// a hand or a clip over a corner, sensor noise and JPEG. The true corners of
// every sheet, after the perspective, come with the picture.

#include "docscene.h"

#include <array>
#include <vector>

namespace docscene {

enum class Surface { DarkMat, WhiteDesk, LightWood, DarkWood, GreyLaminate, PatternedCloth, Mixed };
constexpr int kSurfaceCount = 7;

enum class Occluder { None, Hand, Clip };

struct TableOptions {
    Options scene; // size, sheets (0: an empty table), seal, codes, seed
    Surface surface = Surface::WhiteDesk;
    Occluder occluder = Occluder::None; // over one corner of the first sheet
    bool unevenLight = true;            // vignetting, a light gradient and a soft shadow
    double perspective = 0.02;          // largest shift of a frame corner, share of the frame's side
    double noise = 3.0;                 // standard deviation of the sensor noise, grey levels
    int jpegQuality = 85;               // 0: no compression
};

struct TableFrame {
    cv::Mat image;                                   // 8-bit BGR
    std::vector<std::array<cv::Point2f, 4>> corners; // per sheet, in frame pixels
};

TableFrame renderOnTable(const TableOptions &options, int page = 0);

// Largest distance of a found rectangle's corner from the sheet's true
// corner, for the best pairing (any starting corner, either direction).
double cornerError(const cv::RotatedRect &rect, const std::array<cv::Point2f, 4> &sheet);

const char *surfaceName(Surface surface);

} // namespace docscene
