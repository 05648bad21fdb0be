#pragma once

#include <opencv2/core.hpp>

#include <vector>

// The edge cue of the any-table detector. Paper on a white desk differs from
// the desk by a faint step in brightness, and a cloth's light squares are as
// bright as paper: colour alone cannot tell them apart. What sets a sheet
// apart is its outline: a large smooth area closed by long straight borders,
// brighter inside than just outside. A cloth's pattern closes only small
// cells, wood grain runs off the picture, and a second material's border has
// no edge along the frame's side.
namespace anytabledetection {

// A sheet in the work picture's pixels.
struct WorkSheet {
    cv::RotatedRect rect;
    std::vector<cv::Point> outline;
};

// Edges (255) of the brightness corrected for the table's light (the table
// near 128), so that one step threshold fits dark and light tables.
cv::Mat1b edgesOf(const cv::Mat1b &level);

// How well a rectangle's outline is borne out by the picture: the share of
// its weakest side that runs along an edge, and the brightness just inside
// and just outside its sides (medians).
struct BorderEvidence {
    double weakestSide = 0;
    int inside = 0;
    int outside = 0;
};
BorderEvidence borderEvidence(const cv::Mat1b &edgesNear, const cv::Mat1b &level,
                              const cv::RotatedRect &rect);

// Areas closed by edges that look like a sheet: sheet-shaped, nearly
// colourless (`chroma`), every side along an edge, brighter than the table
// just outside; their pieces average at least `minPieceLevel`. Rectangles
// are in work pixels, on the sheet's border. This
// finds sheets on a patterned table, whose edges join the sheet's border;
// it misses a small sheet whose text comes close to the border.
std::vector<WorkSheet> sheetsInsideEdges(const cv::Mat1b &edgesNear, const cv::Mat1b &level,
                                         const cv::Mat1b &chroma, int minPieceLevel);

// The same checks on the outer outlines of connected edges: on a smooth
// table, a sheet's border and the text inside it form one shape whatever
// the margins, but on a patterned one everything joins the pattern.
std::vector<WorkSheet> sheetsRingedByEdges(const cv::Mat1b &edgesNear, const cv::Mat1b &level,
                                           const cv::Mat1b &chroma);

} // namespace anytabledetection
