#include "paperresolution.h"

#include <algorithm>
#include <cmath>

namespace paperresolution {

namespace {

struct Paper {
    double shortMm;
    double longMm;
};

const Paper kPapers[] = {
    {297.0, 420.0}, // A3
    {210.0, 297.0}, // A4
    {148.0, 210.0}, // A5
    {176.0, 250.0}, // B5
    {215.9, 279.4}, // Letter
    {215.9, 355.6}, // Legal
    {53.98, 85.6},  // identity card
};

constexpr double kTolerance = 0.02;
constexpr double kMmPerInch = 25.4;
constexpr double kPointsPerInch = 72.0;
// An overhead camera at its working height sees about the length of an A3
// sheet across the long side of its frame; only used to choose between
// papers of the same proportions.
constexpr double kFieldLongSideMm = 420.0;

bool within(double value, double expected)
{
    return std::abs(value - expected) <= kTolerance * expected;
}

double longOf(QSizeF size)
{
    return std::max(size.width(), size.height());
}
double shortOf(QSizeF size)
{
    return std::min(size.width(), size.height());
}

} // namespace

double sheetPpi(QSize sheetPixels, QSize framePixels)
{
    if (sheetPixels.isEmpty() || framePixels.isEmpty())
        return 0.0;
    const double sheetLong = longOf(sheetPixels);
    const double ratio = sheetLong / shortOf(sheetPixels);
    const double estimatedLongMm = sheetLong * kFieldLongSideMm / longOf(framePixels);
    const Paper *best = nullptr;
    double bestDistance = 0.0;
    for (const Paper &paper : kPapers) {
        if (!within(ratio, paper.longMm / paper.shortMm))
            continue;
        const double distance = std::abs(std::log(estimatedLongMm / paper.longMm));
        if (best == nullptr || distance < bestDistance) {
            best = &paper;
            bestDistance = distance;
        }
    }
    return best == nullptr ? 0.0 : sheetLong * kMmPerInch / best->longMm;
}

QSizeF paperPoints(QSize pixels, double dpiX, double dpiY)
{
    if (pixels.isEmpty() || dpiX <= 0.0 || dpiY <= 0.0)
        return QSizeF();
    const QSizeF inches(pixels.width() / dpiX, pixels.height() / dpiY);
    const double longMm = longOf(inches) * kMmPerInch;
    const double shortMm = shortOf(inches) * kMmPerInch;
    for (const Paper &paper : kPapers) {
        if (!within(longMm, paper.longMm) || !within(shortMm, paper.shortMm))
            continue;
        const double longPoints = paper.longMm / kMmPerInch * kPointsPerInch;
        const double shortPoints = paper.shortMm / kMmPerInch * kPointsPerInch;
        return pixels.width() > pixels.height() ? QSizeF(longPoints, shortPoints)
                                                : QSizeF(shortPoints, longPoints);
    }
    return QSizeF();
}

int dotsPerMeter(double ppi)
{
    return int(std::lround(ppi / 0.0254));
}

double ppiOf(int dotsPerMeter)
{
    return dotsPerMeter * 0.0254;
}

} // namespace paperresolution
