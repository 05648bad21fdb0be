// Minutiae of a grey fingerprint image: segmentation, orientation field,
// oriented ridge filtering, thinning, minutiae with false-minutiae removal.
#ifndef QXFP_EXTRACT_H
#define QXFP_EXTRACT_H

#include "minutia.h"

#include <cstdint>

namespace qxfp {

struct Extraction {
    MinutiaSet minutiae;
    int quality = 0;  // 0..100: finger area and ridge clarity
};

// Fewer minutiae than this and the image holds no usable finger.
constexpr int kMinMinutiae = 6;

// img: width x height bytes, dark ridges on a lighter background.
Extraction extract_minutiae(const uint8_t *img, int width, int height);

}  // namespace qxfp

#endif
