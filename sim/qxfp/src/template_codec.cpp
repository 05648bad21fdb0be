#include "template_codec.h"

#include "qxfp.h"

#include <cmath>
#include <cstring>

namespace qxfp {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'X', 'M', 'T'};
constexpr uint8_t kVersion = 1;
constexpr double kTwoPi = 6.283185307179586;

uint16_t get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void put16(uint8_t *p, unsigned v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// FNV-1a over the header (without the checksum field) and the body.
uint32_t checksum(const uint8_t *p, int length) {
    uint32_t h = 2166136261u;
    for (int i = 0; i < length; ++i) {
        if (i >= 8 && i < 12) continue;
        h = (h ^ p[i]) * 16777619u;
    }
    return h;
}

uint8_t angle_byte(float a) {
    double t = a / kTwoPi;
    t -= std::floor(t);
    return static_cast<uint8_t>(static_cast<int>(std::lround(t * 256.0)) & 0xFF);
}

}  // namespace

int encoded_size(const Template &t) {
    int n = kHeaderSize;
    for (const MinutiaSet &m : t.impressions) n += kBlockHeaderSize + kMinutiaSize * static_cast<int>(m.size());
    return n;
}

int encode_template(const Template &t, uint8_t *out, int capacity) {
    if (t.impressions.empty() || t.impressions.size() > static_cast<size_t>(kMaxImpressions))
        return QXFP_ERR_ARGUMENT;
    for (const MinutiaSet &m : t.impressions)
        if (m.size() > static_cast<size_t>(kMaxMinutiae)) return QXFP_ERR_ARGUMENT;
    const int length = encoded_size(t);
    if (length > capacity || length > kTemplateCapacity) return QXFP_ERR_CAPACITY;
    uint8_t *p = out;
    std::memcpy(p, kMagic, 4);
    p[4] = kVersion;
    p[5] = t.kind;
    put16(p + 6, static_cast<unsigned>(length));
    std::memset(p + 8, 0, 8);
    p[12] = static_cast<uint8_t>(t.quality < 0 ? 0 : (t.quality > 100 ? 100 : t.quality));
    p[13] = static_cast<uint8_t>(t.impressions.size());
    uint8_t *q = p + kHeaderSize;
    for (const MinutiaSet &set : t.impressions) {
        q[0] = static_cast<uint8_t>(set.size());
        q[1] = 0;
        q += kBlockHeaderSize;
        for (const Minutia &m : set) {
            // Signed: an enrolment built around its first impression reaches
            // past that image's edges.
            put16(q, static_cast<unsigned>(static_cast<int16_t>(std::lround(m.x))) & 0xFFFF);
            put16(q + 2, static_cast<unsigned>(static_cast<int16_t>(std::lround(m.y))) & 0xFFFF);
            q[4] = angle_byte(m.angle);
            q[5] = static_cast<uint8_t>((m.type & 0x3) | ((m.quality & 0x3F) << 2));
            q += kMinutiaSize;
        }
    }
    uint32_t sum = checksum(p, length);
    std::memcpy(p + 8, &sum, 4);
    return length;
}

int template_length(const uint8_t *p) {
    if (!p) return QXFP_ERR_ARGUMENT;
    if (std::memcmp(p, kMagic, 4) != 0 || p[4] != kVersion) return QXFP_ERR_TEMPLATE;
    if (p[5] != kProbeTemplate && p[5] != kEnrolTemplate) return QXFP_ERR_TEMPLATE;
    const int length = get16(p + 6);
    if (length < kHeaderSize || length > kTemplateCapacity) return QXFP_ERR_TEMPLATE;
    const int blocks = p[13];
    if (blocks < 1 || blocks > kMaxImpressions) return QXFP_ERR_TEMPLATE;
    // Walk the blocks before trusting the checksum so nothing past the
    // declared length is read.
    int pos = kHeaderSize;
    for (int b = 0; b < blocks; ++b) {
        if (pos + kBlockHeaderSize > length) return QXFP_ERR_TEMPLATE;
        const int n = p[pos];
        if (n > kMaxMinutiae) return QXFP_ERR_TEMPLATE;
        pos += kBlockHeaderSize + kMinutiaSize * n;
    }
    if (pos != length) return QXFP_ERR_TEMPLATE;
    uint32_t stored;
    std::memcpy(&stored, p + 8, 4);
    if (stored != checksum(p, length)) return QXFP_ERR_TEMPLATE;
    return length;
}

bool decode_template(const uint8_t *p, int available, Template *t) {
    if (!p || available < kHeaderSize) return false;
    const int length = template_length(p);
    if (length <= 0 || length > available) return false;
    t->kind = static_cast<TemplateKind>(p[5]);
    t->quality = p[12];
    t->impressions.assign(p[13], MinutiaSet{});
    const uint8_t *q = p + kHeaderSize;
    for (MinutiaSet &set : t->impressions) {
        const int n = q[0];
        q += kBlockHeaderSize;
        set.resize(static_cast<size_t>(n));
        for (Minutia &m : set) {
            m.x = static_cast<int16_t>(get16(q));
            m.y = static_cast<int16_t>(get16(q + 2));
            m.angle = static_cast<float>(q[4] * kTwoPi / 256.0);
            m.type = q[5] & 0x3;
            m.quality = q[5] >> 2;
            q += kMinutiaSize;
        }
    }
    return true;
}

}  // namespace qxfp
