#pragma once

#include <QSize>
#include <QSizeF>

// Standard paper sizes recognised in a cut-out sheet's proportions, so that a
// photo can say how large the sheet really was (its resolution) and a
// document page can be that paper.
namespace paperresolution {

// Pixels per inch that make a cut-out sheet of `sheetPixels` the standard
// paper (A3, A4, A5, B5, Letter, Legal, identity card) its proportions match
// within 2 %, or 0 when none matches. Sizes of the same proportions (A3, A4,
// A5, B5) are told apart by the sheet's share of `framePixels`, the camera
// seeing about an A3 sheet's length across its frame.
double sheetPpi(QSize sheetPixels, QSize framePixels);

// The paper, in points and turned like the picture, that `pixels` at the
// given resolution make within 2 %; invalid when they make no standard paper.
QSizeF paperPoints(QSize pixels, double dpiX, double dpiY);

// Resolutions as QImage keeps them.
int dotsPerMeter(double ppi);
double ppiOf(int dotsPerMeter);

} // namespace paperresolution
