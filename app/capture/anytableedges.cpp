#include "anytableedges.h"

#include "anytablepieces.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace anytabledetection {

namespace {

// Edge strength on the corrected brightness (3x3 Sobel, |dx| + |dy|): a sharp
// step of 4 % of the table's light passes, and one of 8 % blurred over two
// work pixels; sensor noise and JPEG at the work scale stay well below.
constexpr int kEdgeStrength = 20;
// An area closed by edges must cover at least this share of the picture with
// its bounding box before it is looked at further; the pipeline's own area
// limit decides later.
constexpr double kMinBoxShare = 0.01;
// A closed area smaller than this share of the picture is a cloth's cell or
// a letter's inside, not a piece of a sheet's margin.
constexpr double kMinPieceShare = 0.0015;
// Pieces of one sheet's margin are joined across a short gap (text reaching
// the border) and, separately, across a wide one (a code or a seal on the
// border). The wide join alone now and then joins a sheet to a hand or a
// neighbour, an outline that then fails as a sheet; the short one still
// finds that sheet.
constexpr int kJoinNear = 3;
constexpr int kJoinFar = 6;
// The outline's hull must fill its smallest rectangle like a sheet (a corner
// cut off by a hand allowed). The hull, since a margin cut by text or a seal
// at the border is an open ring whose own area is small.
constexpr double kMinFill = 0.8;
// Paper is nearly colourless (mean over the area, the colour cue's measure).
constexpr double kMaxChroma = 36.0;
// Every side of the rectangle runs along an edge for at least this share of
// its length: a hand over a corner hides less, a table's own areas (a second
// material ending at the frame, a cloth cell) have sides without one.
constexpr double kMinSideSupport = 0.5;
// Paper is brighter than the table just outside its border, by this much on
// the corrected scale (about 3 % of the table's light).
constexpr int kMinBorderStep = 4;
// How far inside and outside a side the brightness is read, work pixels.
constexpr float kProbe = 2.5f;
// The area's outline runs through the centres of the pixels next to the
// edge line (two or three pixels wide, its middle on the step): the border
// lies this far further out.
constexpr float kEdgeInset = 2.0f;
// An outline round the edge line lies outside the step: by half the line's
// width, and by the outermost jags of the line that its hull runs through.
constexpr float kRingInset = -2.5f;

bool within(const cv::Point &p, const cv::Size &size)
{
    return p.x >= 0 && p.y >= 0 && p.x < size.width && p.y < size.height;
}

int medianOf(std::vector<uchar> &values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

bool touchesFrame(const cv::Rect &box, const cv::Size &size)
{
    return box.x <= 0 || box.y <= 0 || box.x + box.width >= size.width || box.y + box.height >= size.height;
}

} // namespace

cv::Mat1b edgesOf(const cv::Mat1b &level)
{
    // A threshold on the gradient, without thinning: the lines come out two
    // or three pixels wide, which closes the small gaps of a faint border.
    cv::Mat dx, dy;
    cv::spatialGradient(level, dx, dy);
    cv::Mat1b edges(level.size());
    for (int y = 0; y < level.rows; ++y) {
        const short *gx = dx.ptr<short>(y), *gy = dy.ptr<short>(y);
        uchar *edge = edges.ptr(y);
        int x = 0;
#if CV_SIMD
        // Many pixels at a time: the whole picture is visited.
        const int step = cv::v_int16::nlanes;
        const cv::v_uint16 strength = cv::vx_setall_u16(std::uint16_t(kEdgeStrength));
        for (; x + 2 * step <= level.cols; x += 2 * step) {
            const cv::v_uint16 first = cv::v_abs(cv::vx_load(gx + x)) + cv::v_abs(cv::vx_load(gy + x));
            const cv::v_uint16 second =
                cv::v_abs(cv::vx_load(gx + x + step)) + cv::v_abs(cv::vx_load(gy + x + step));
            cv::v_store(edge + x, cv::v_pack(first >= strength, second >= strength));
        }
        cv::vx_cleanup();
#endif
        for (; x < level.cols; ++x)
            edge[x] = std::abs(gx[x]) + std::abs(gy[x]) >= kEdgeStrength ? 255 : 0;
    }
    return edges;
}

BorderEvidence borderEvidence(const cv::Mat1b &edgesNear, const cv::Mat1b &level, const cv::RotatedRect &rect)
{
    cv::Point2f corners[4];
    rect.points(corners);
    BorderEvidence evidence;
    evidence.weakestSide = 1.0;
    std::vector<uchar> inside, outside;
    const cv::Size size = level.size();
    for (int side = 0; side < 4; ++side) {
        const cv::Point2f from = corners[side], to = corners[(side + 1) % 4];
        const float length = float(cv::norm(to - from));
        if (length < 2.0f) {
            evidence.weakestSide = 0;
            continue;
        }
        cv::Point2f normal(-(to.y - from.y) / length, (to.x - from.x) / length);
        if (normal.dot(0.5f * (from + to) - rect.center) < 0)
            normal = -normal;
        const int samples = std::max(8, int(length / 2));
        int seen = 0, onEdge = 0;
        for (int k = 0; k < samples; ++k) {
            // The ends are left out: that is where hands and clips lie.
            const float t = 0.05f + 0.9f * (float(k) + 0.5f) / float(samples);
            const cv::Point2f at = from + (to - from) * t;
            const cv::Point on(cvRound(at.x), cvRound(at.y));
            if (!within(on, size))
                continue;
            ++seen;
            onEdge += edgesNear(on) ? 1 : 0;
            const cv::Point in(cvRound(at.x - kProbe * normal.x), cvRound(at.y - kProbe * normal.y));
            const cv::Point out(cvRound(at.x + kProbe * normal.x), cvRound(at.y + kProbe * normal.y));
            if (within(in, size) && within(out, size)) {
                inside.push_back(level(in));
                outside.push_back(level(out));
            }
        }
        evidence.weakestSide = std::min(evidence.weakestSide, seen ? double(onEdge) / seen : 0.0);
    }
    evidence.inside = medianOf(inside);
    evidence.outside = medianOf(outside);
    return evidence;
}

namespace {

// The checks every outline found by edges must pass; the rectangle, moved
// out to the border, when it does.
bool passesAsSheet(const std::vector<cv::Point> &outline, const cv::Mat1b &edgesNear, const cv::Mat1b &level,
                   const cv::Mat1b &chroma, float inset, cv::RotatedRect &rect)
{
    // Most outlines on a patterned table are a cell's: cheap to turn away.
    const cv::Rect box = cv::boundingRect(outline);
    if (double(box.area()) < kMinBoxShare * double(level.total()) || touchesFrame(box, level.size()))
        return false;
    std::vector<cv::Point> hull;
    cv::convexHull(outline, hull);
    const cv::RotatedRect inner = cv::minAreaRect(hull);
    const double rectArea = double(inner.size.width) * inner.size.height;
    if (rectArea <= 0 || cv::contourArea(hull) < kMinFill * rectArea)
        return false;
    // The border is read at a few hundred points, the colour over the
    // whole inside: the border first.
    rect = cv::RotatedRect(inner.center, inner.size + cv::Size2f(2 * inset, 2 * inset), inner.angle);
    const BorderEvidence evidence = borderEvidence(edgesNear, level, rect);
    if (evidence.weakestSide < kMinSideSupport || evidence.inside < evidence.outside + kMinBorderStep)
        return false;
    cv::Mat1b area(box.size(), uchar(0));
    for (cv::Point &point : hull)
        point -= box.tl();
    cv::fillConvexPoly(area, hull, cv::Scalar(255));
    return cv::mean(chroma(box), area)[0] <= kMaxChroma;
}

} // namespace

std::vector<WorkSheet> sheetsInsideEdges(const cv::Mat1b &edgesNear, const cv::Mat1b &level,
                                         const cv::Mat1b &chroma, int minPieceLevel)
{
    // Pieces of paper: colourless closed areas brighter than the table,
    // larger than a cloth's cells (a patch of a dark table closed off by
    // edges is none). Edge lines are two or three pixels wide, and areas
    // meet only across a side: a thin gap in a sheet's border (a faint
    // stretch, a cloth cell touching it) must not join paper and table.
    // Text reaching the border can cut a sheet's margin into several; they
    // are joined again across the text.
    const int minPiece = std::max(16, int(kMinPieceShare * double(level.total())));
    const cv::Mat1b pieces = closedPieces(edgesNear, level, chroma, minPiece, kMaxChroma, minPieceLevel);
    std::vector<WorkSheet> found;
    for (const int joinAcross : {kJoinNear, kJoinFar}) {
        cv::Mat1b joined;
        cv::morphologyEx(pieces, joined, cv::MORPH_CLOSE, cv::Mat(), cv::Point(-1, -1), joinAcross);
        std::vector<std::vector<cv::Point>> outlines;
        cv::findContours(joined, outlines, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        for (std::vector<cv::Point> &outline : outlines) {
            cv::RotatedRect rect;
            if (passesAsSheet(outline, edgesNear, level, chroma, kEdgeInset, rect))
                found.push_back({rect, std::move(outline)});
        }
    }
    return found;
}

std::vector<WorkSheet> sheetsRingedByEdges(const cv::Mat1b &edgesNear, const cv::Mat1b &level,
                                           const cv::Mat1b &chroma)
{
    std::vector<WorkSheet> found;
    std::vector<std::vector<cv::Point>> outlines;
    // Only shapes large enough to pass are traced.
    cv::findContours(largeEdgeShapes(edgesNear, kMinBoxShare * double(level.total())), outlines,
                     cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    for (std::vector<cv::Point> &outline : outlines) {
        cv::RotatedRect rect;
        // The outline runs round the outside of the border's edge line.
        if (passesAsSheet(outline, edgesNear, level, chroma, kRingInset, rect))
            found.push_back({rect, std::move(outline)});
    }
    return found;
}

} // namespace anytabledetection
