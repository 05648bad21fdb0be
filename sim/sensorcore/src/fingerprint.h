// Synthetic fingerprints: a phase model with a core, a few minutiae and a
// smooth warp, rendered as a ridge-darkness texture over the finger window.
#ifndef QXSIM_FINGERPRINT_H
#define QXSIM_FINGERPRINT_H

#include "qxsensorcore_sim.h"

#include <cstdint>
#include <vector>

namespace qxsim {

// Ridge texture covering the finger window of a sensor whose nominal image is
// windowW x windowH pixels at 500 dpi, sampled `scale` times per pixel.
// Each value is ridge darkness times contact (0 = valley or no contact, 255 = ridge centre).
struct FingerTexture {
    int width = 0, height = 0, scale = 1;
    std::vector<uint8_t> darkness;
};

// Returns the shared texture (built once per parameter set and placement;
// the reference placement gives the upright, centred finger).
const FingerTexture &finger_texture(int finger_id, bool dry_patch, int windowW, int windowH,
                                    const QXSimImpression &placement);

}  // namespace qxsim

#endif
