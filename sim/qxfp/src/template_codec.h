// Byte layout of templates: a checked header followed by one block of
// minutiae per impression (one for a probe, up to three for an enrolment).
#ifndef QXFP_TEMPLATE_CODEC_H
#define QXFP_TEMPLATE_CODEC_H

#include "minutia.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qxfp {

constexpr int kTemplateCapacity = 2048;
constexpr int kHeaderSize = 16;
constexpr int kBlockHeaderSize = 2;
constexpr int kMinutiaSize = 6;

enum TemplateKind : uint8_t { kProbeTemplate = 1, kEnrolTemplate = 2 };

struct Template {
    TemplateKind kind = kProbeTemplate;
    int quality = 0;
    std::vector<MinutiaSet> impressions;
};

// Bytes needed for a template.
int encoded_size(const Template &t);
// Writes t into out (capacity bytes); returns the length or a negative code
// when the template does not fit.
int encode_template(const Template &t, uint8_t *out, int capacity);
// Length of a valid template at p (reads at most kTemplateCapacity bytes), or
// a negative code.
int template_length(const uint8_t *p);
// Decodes a valid template; false for anything else.
bool decode_template(const uint8_t *p, int available, Template *t);

}  // namespace qxfp

#endif
