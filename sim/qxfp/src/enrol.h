// Enrolment: several impressions of one finger fused into one minutiae set.
#ifndef QXFP_ENROL_H
#define QXFP_ENROL_H

#include "minutia.h"

#include <vector>

namespace qxfp {

// The first impression is the frame of reference; each further impression is
// aligned to what has been fused so far and its minutiae merged in (seen
// again: position and direction averaged) or added (seen first). An
// impression that does not align is left out. Each minutia's quality holds
// how many impressions showed it, times kSupportStep.
constexpr int kSupportStep = 20;
MinutiaSet fuse_impressions(const std::vector<MinutiaSet> &impressions);

}  // namespace qxfp

#endif
