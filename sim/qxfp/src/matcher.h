// Alignment-tolerant minutiae matching: local neighbour structures propose
// alignments (rotation and shift), the best alignment is scored by the
// minutiae it pairs up inside the area both impressions cover.
#ifndef QXFP_MATCHER_H
#define QXFP_MATCHER_H

#include "minutia.h"
#include "template_codec.h"

#include <array>
#include <vector>

namespace qxfp {

constexpr int kNeighbours = 6;

// A neighbour seen from a minutia: distance, bearing relative to the
// minutia's direction and its own direction relative to it.
struct Neighbour {
    float distance = 0, bearing = 0, direction = 0;
};

// One impression ready for matching.
struct PreparedImpression {
    MinutiaSet minutiae;
    std::vector<std::array<Neighbour, kNeighbours>> neighbours;
    std::vector<int> neighbourCount;
    // Every neighbour relation sorted by length, as parallel arrays so the
    // comparisons run over contiguous memory.
    std::vector<float> relDistance, relBearing, relDirection;
    std::vector<int> relMinutia;
    std::vector<std::array<float, 2>> hull;  // convex hull of the minutiae, counter-clockwise
};

struct PreparedTemplate {
    std::vector<PreparedImpression> impressions;
};

PreparedImpression prepare_impression(const MinutiaSet &set);
PreparedTemplate prepare_template(const Template &t);

struct ImpressionMatch {
    int paired = 0;          // minutiae paired under the best alignment
    int coveredA = 0;        // minutiae of a inside the area of b (after alignment)
    int coveredB = 0;        // minutiae of b inside the area of a
    float rotation = 0;      // radians, a -> b
    float dx = 0, dy = 0;    // translation of the alignment (applied after rotation about the origin)
    float closeness = 0;     // sum over pairs of a closeness weight 0..1
    int score = 0;           // 0..100
};

ImpressionMatch match_impressions(const PreparedImpression &a, const PreparedImpression &b);
// 0..100: the best pairing of any impression of a with any impression of b.
int match_templates(const PreparedTemplate &a, const PreparedTemplate &b);

}  // namespace qxfp

#endif
