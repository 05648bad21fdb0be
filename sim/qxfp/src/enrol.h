// Enrolment: several impressions of one finger fused into one minutiae set.
#ifndef QXFP_ENROL_H
#define QXFP_ENROL_H

#include "minutia.h"

#include <vector>

namespace qxfp {

// The first impression is the frame of reference; each further impression is
// aligned to what has been fused so far and its minutiae merged in (seen
// again: position and direction averaged) or added (seen first). Each
// minutia's quality holds how many impressions showed it, times
// kSupportStep. False, with nothing fused, when an impression does not match
// what came before it (another finger).
constexpr int kSupportStep = 20;
bool fuse_impressions(const std::vector<MinutiaSet> &impressions, MinutiaSet *fusedOut);

}  // namespace qxfp

#endif
