// A minutia and the set extracted from one impression.
#ifndef QXFP_MINUTIA_H
#define QXFP_MINUTIA_H

#include <cstdint>
#include <vector>

namespace qxfp {

enum MinutiaType : uint8_t { kEnding = 1, kBifurcation = 2 };

struct Minutia {
    float x = 0, y = 0;  // pixels
    float angle = 0;     // radians, 0..2pi, direction the ridge runs out of the point
    uint8_t type = kEnding;
    uint8_t quality = 0;  // 0..63
};

using MinutiaSet = std::vector<Minutia>;

// At most this many minutiae are kept per impression; three impressions and
// the headers then fit the 2048-byte template.
constexpr int kMaxMinutiae = 100;
constexpr int kMaxImpressions = 3;

}  // namespace qxfp

#endif
