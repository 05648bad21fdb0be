#include "enrol.h"

#include "matcher.h"

#include <algorithm>
#include <cmath>

namespace qxfp {
namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kMergeDistance = 9.0f;
constexpr float kMergeAngle = 0.5f;
constexpr int kSameFinger = 50;  // the acceptance score

float angle_diff(float a, float b) {
    float d = std::fabs(a - b);
    return d > kPi ? 2 * kPi - d : d;
}

struct Fused {
    Minutia m;
    int support = 1;
    float cx = 0, cy = 0;  // summed unit direction vectors
};

}  // namespace

bool fuse_impressions(const std::vector<MinutiaSet> &impressions, MinutiaSet *fusedOut) {
    fusedOut->clear();
    if (impressions.empty()) return false;
    std::vector<Fused> fused;
    for (const Minutia &m : impressions.front()) fused.push_back({m, 1, std::cos(m.angle), std::sin(m.angle)});
    for (size_t k = 1; k < impressions.size(); ++k) {
        MinutiaSet current;
        for (const Fused &f : fused) current.push_back(f.m);
        const ImpressionMatch al = match_impressions(prepare_impression(impressions[k]), prepare_impression(current));
        if (al.score < kSameFinger) return false;
        const float c = std::cos(al.rotation), s = std::sin(al.rotation);
        std::vector<char> merged(fused.size(), 0);
        for (const Minutia &m : impressions[k]) {
            Minutia t = m;
            t.x = c * m.x - s * m.y + al.dx;
            t.y = s * m.x + c * m.y + al.dy;
            t.angle = std::fmod(m.angle + al.rotation, 2 * kPi);
            size_t best = fused.size();
            float bestD = kMergeDistance;
            for (size_t i = 0; i < fused.size(); ++i) {
                if (merged[i]) continue;
                const float d = std::hypot(fused[i].m.x - t.x, fused[i].m.y - t.y);
                if (d <= bestD && angle_diff(fused[i].m.angle, t.angle) <= kMergeAngle) {
                    bestD = d;
                    best = i;
                }
            }
            if (best == fused.size()) {
                fused.push_back({t, 1, std::cos(t.angle), std::sin(t.angle)});
                merged.push_back(1);  // one impression shows a minutia once
                continue;
            }
            Fused &f = fused[best];
            merged[best] = 1;
            f.m.x = (f.m.x * f.support + t.x) / (f.support + 1);
            f.m.y = (f.m.y * f.support + t.y) / (f.support + 1);
            f.cx += std::cos(t.angle);
            f.cy += std::sin(t.angle);
            f.m.angle = std::atan2(f.cy, f.cx);
            if (f.m.angle < 0) f.m.angle += 2 * kPi;
            ++f.support;
        }
    }
    // Keep the best supported when there are too many.
    std::stable_sort(fused.begin(), fused.end(), [](const Fused &a, const Fused &b) {
        return a.support != b.support ? a.support > b.support : a.m.quality > b.m.quality;
    });
    if (fused.size() > static_cast<size_t>(kMaxMinutiae)) fused.resize(kMaxMinutiae);
    for (Fused &f : fused) {
        f.m.quality = static_cast<uint8_t>(std::min(63, f.support * kSupportStep));
        fusedOut->push_back(f.m);
    }
    return true;
}

}  // namespace qxfp
