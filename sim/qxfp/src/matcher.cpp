#include "matcher.h"

#include <algorithm>
#include <cmath>

namespace qxfp {
namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kNeighbourRadius = 130.0f;
constexpr int kCandidates = 12;
constexpr size_t kRefined = 3;
constexpr int kMinLocal = 1;

// Angles are kept in [0, 2pi), so one fold suffices.
float angle_diff(float a, float b) {
    const float d = std::fabs(a - b);
    return d > kPi ? 2 * kPi - d : d;
}

float wrap(float a) {
    if (a >= 0 && a < 2 * kPi) return a;
    a = std::fmod(a, 2 * kPi);
    return a < 0 ? a + 2 * kPi : a;
}

std::vector<std::array<float, 2>> convex_hull(const MinutiaSet &set) {
    std::vector<std::array<float, 2>> p;
    for (const Minutia &m : set) p.push_back({m.x, m.y});
    std::sort(p.begin(), p.end());
    if (p.size() < 3) return p;
    auto cross = [](const std::array<float, 2> &o, const std::array<float, 2> &a, const std::array<float, 2> &b) {
        return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
    };
    std::vector<std::array<float, 2>> h(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(h[k - 2], h[k - 1], p[i - 1]) <= 0) --k;
        h[k++] = p[i - 1];
    }
    h.resize(k - 1);
    return h;
}

// Inside the hull grown by `margin` pixels (approximately: distance to each edge line).
bool inside(const std::vector<std::array<float, 2>> &hull, float x, float y, float margin) {
    if (hull.size() < 3) return false;
    for (size_t i = 0; i < hull.size(); ++i) {
        const auto &a = hull[i], &b = hull[(i + 1) % hull.size()];
        const float ex = b[0] - a[0], ey = b[1] - a[1];
        const float len = std::sqrt(ex * ex + ey * ey);
        if (len <= 0) continue;
        const float side = (ex * (y - a[1]) - ey * (x - a[0])) / len;
        if (side < -margin) return false;
    }
    return true;
}

// Neighbours of a and b that agree; each neighbour of b is used once.
int local_similarity(const PreparedImpression &a, size_t i, const PreparedImpression &b, size_t j) {
    const auto &na = a.neighbours[i], &nb = b.neighbours[j];
    const int ca = a.neighbourCount[i], cb = b.neighbourCount[j];
    unsigned used = 0;
    int agree = 0;
    for (int p = 0; p < ca; ++p) {
        const Neighbour &x = na[static_cast<size_t>(p)];
        const float tol = 8.0f + 0.06f * x.distance;
        for (int q = 0; q < cb; ++q) {
            if (used & (1u << q)) continue;
            const Neighbour &y = nb[static_cast<size_t>(q)];
            if (std::fabs(x.distance - y.distance) > tol) continue;
            if (angle_diff(x.bearing, y.bearing) > 0.3f) continue;
            if (angle_diff(x.direction, y.direction) > 0.45f) continue;
            used |= 1u << q;
            ++agree;
            break;
        }
    }
    return agree;
}

struct Pair {
    float d;
    int i, j;
};

struct Alignment {
    float rot = 0, tx = 0, ty = 0;
};

struct Tolerance {
    float distance, angle;
};
constexpr Tolerance kCoarse{14.0f, 0.45f};  // single-pair alignment, about 26 degrees
constexpr Tolerance kFine{11.0f, 0.35f};    // after the least-squares fit, about 20 degrees

// Pairs minutiae of a (moved by the alignment) with those of b, nearest
// first, each minutia used once.
// Only minutiae whose neighbourhoods agree at least `minLocal` times (the
// local similarity table, na x nb) may pair: chance positions and the ridge
// flow shared by many fingers do not pair up on their own.
ImpressionMatch pair_under(const PreparedImpression &a, const PreparedImpression &b, const Alignment &al,
                           const Tolerance &tol, const std::vector<uint8_t> &local, int minLocal,
                           std::vector<std::pair<int, int>> *paired) {
    ImpressionMatch r;
    r.rotation = al.rot;
    r.dx = al.tx;
    r.dy = al.ty;
    const float c = std::cos(al.rot), s = std::sin(al.rot);
    const size_t na = a.minutiae.size(), nb = b.minutiae.size();
    std::vector<std::array<float, 3>> moved(na);
    for (size_t i = 0; i < na; ++i) {
        const Minutia &m = a.minutiae[i];
        moved[i] = {c * m.x - s * m.y + al.tx, s * m.x + c * m.y + al.ty, wrap(m.angle + al.rot)};
    }
    std::vector<Pair> pairs;
    for (size_t i = 0; i < na; ++i)
        for (size_t j = 0; j < nb; ++j) {
            if (local[i * nb + j] < minLocal) continue;
            const Minutia &q = b.minutiae[j];
            const float dx = moved[i][0] - q.x, dy = moved[i][1] - q.y;
            if (std::fabs(dx) > tol.distance || std::fabs(dy) > tol.distance) continue;
            const float d = std::sqrt(dx * dx + dy * dy);
            if (d > tol.distance || angle_diff(moved[i][2], q.angle) > tol.angle) continue;
            pairs.push_back({d, static_cast<int>(i), static_cast<int>(j)});
        }
    std::sort(pairs.begin(), pairs.end(), [](const Pair &x, const Pair &y) { return x.d < y.d; });
    std::vector<char> usedA(na, 0), usedB(nb, 0);
    if (paired) paired->clear();
    for (const Pair &p : pairs) {
        if (usedA[static_cast<size_t>(p.i)] || usedB[static_cast<size_t>(p.j)]) continue;
        usedA[static_cast<size_t>(p.i)] = usedB[static_cast<size_t>(p.j)] = 1;
        ++r.paired;
        if (paired) paired->emplace_back(p.i, p.j);
    }
    // Area both cover: a's minutiae inside b's hull, b's inside a's moved hull.
    for (size_t i = 0; i < na; ++i)
        if (usedA[i] || inside(b.hull, moved[i][0], moved[i][1], 6.0f)) ++r.coveredA;
    std::vector<std::array<float, 2>> hullA(a.hull.size());
    for (size_t k = 0; k < a.hull.size(); ++k)
        hullA[k] = {c * a.hull[k][0] - s * a.hull[k][1] + al.tx, s * a.hull[k][0] + c * a.hull[k][1] + al.ty};
    for (size_t j = 0; j < nb; ++j)
        if (usedB[j] || inside(hullA, b.minutiae[j].x, b.minutiae[j].y, 6.0f)) ++r.coveredB;
    return r;
}

// Least-squares rotation and shift taking the paired minutiae of a onto b.
Alignment fit_rigid(const PreparedImpression &a, const PreparedImpression &b,
                    const std::vector<std::pair<int, int>> &pairs) {
    double ax = 0, ay = 0, bx = 0, by = 0;
    for (const auto &p : pairs) {
        ax += a.minutiae[static_cast<size_t>(p.first)].x;
        ay += a.minutiae[static_cast<size_t>(p.first)].y;
        bx += b.minutiae[static_cast<size_t>(p.second)].x;
        by += b.minutiae[static_cast<size_t>(p.second)].y;
    }
    const double n = static_cast<double>(pairs.size());
    ax /= n;
    ay /= n;
    bx /= n;
    by /= n;
    double sdot = 0, scross = 0;
    for (const auto &p : pairs) {
        const double x1 = a.minutiae[static_cast<size_t>(p.first)].x - ax;
        const double y1 = a.minutiae[static_cast<size_t>(p.first)].y - ay;
        const double x2 = b.minutiae[static_cast<size_t>(p.second)].x - bx;
        const double y2 = b.minutiae[static_cast<size_t>(p.second)].y - by;
        sdot += x1 * x2 + y1 * y2;
        scross += x1 * y2 - y1 * x2;
    }
    Alignment al;
    const double rot = std::atan2(scross, sdot);
    al.rot = wrap(static_cast<float>(rot));
    al.tx = static_cast<float>(bx - (std::cos(rot) * ax - std::sin(rot) * ay));
    al.ty = static_cast<float>(by - (std::sin(rot) * ax + std::cos(rot) * ay));
    return al;
}

int score_of(const ImpressionMatch &m) {
    if (m.paired < 3) return 0;
    // Share of the commonly covered minutiae that pair up, damped when only a
    // few minutiae are involved (a small overlap pairs up by chance).
    const float share = static_cast<float>(m.paired) / std::sqrt(static_cast<float>(m.coveredA + 2) * (m.coveredB + 2));
    const float support = std::min(1.0f, (m.paired - 2) / 8.0f);
    const float s = 100.0f * std::min(1.0f, share * 1.25f) * support;
    return static_cast<int>(std::lround(std::max(0.0f, std::min(100.0f, s))));
}

}  // namespace

PreparedImpression prepare_impression(const MinutiaSet &set) {
    PreparedImpression p;
    p.minutiae = set;
    const size_t n = set.size();
    p.neighbours.resize(n);
    p.neighbourCount.assign(n, 0);
    std::vector<std::pair<float, size_t>> near;
    for (size_t i = 0; i < n; ++i) {
        near.clear();
        for (size_t j = 0; j < n; ++j) {
            if (j == i) continue;
            const float dx = set[j].x - set[i].x, dy = set[j].y - set[i].y;
            const float d = std::sqrt(dx * dx + dy * dy);
            if (d <= kNeighbourRadius) near.emplace_back(d, j);
        }
        std::sort(near.begin(), near.end());
        const int k = std::min<int>(kNeighbours, static_cast<int>(near.size()));
        for (int q = 0; q < k; ++q) {
            const Minutia &o = set[near[static_cast<size_t>(q)].second];
            Neighbour &nb = p.neighbours[i][static_cast<size_t>(q)];
            nb.distance = near[static_cast<size_t>(q)].first;
            nb.bearing = wrap(std::atan2(o.y - set[i].y, o.x - set[i].x) - set[i].angle);
            nb.direction = wrap(o.angle - set[i].angle);
        }
        p.neighbourCount[i] = k;
    }
    p.hull = convex_hull(set);
    return p;
}

PreparedTemplate prepare_template(const Template &t) {
    PreparedTemplate p;
    for (const MinutiaSet &set : t.impressions) p.impressions.push_back(prepare_impression(set));
    return p;
}

ImpressionMatch match_impressions(const PreparedImpression &a, const PreparedImpression &b) {
    ImpressionMatch best;
    const size_t na = a.minutiae.size(), nb = b.minutiae.size();
    if (na < 3 || nb < 3) return best;
    std::vector<std::array<int, 3>> cands;  // similarity, i, j
    std::vector<uint8_t> local(na * nb);
    for (size_t i = 0; i < na; ++i)
        for (size_t j = 0; j < nb; ++j) {
            const int sim = local_similarity(a, i, b, j);
            local[i * nb + j] = static_cast<uint8_t>(sim);
            if (sim >= 2) cands.push_back({sim, static_cast<int>(i), static_cast<int>(j)});
        }
    const size_t keep = std::min<size_t>(kCandidates, cands.size());
    std::partial_sort(cands.begin(), cands.begin() + static_cast<long>(keep), cands.end(),
                      [](const std::array<int, 3> &x, const std::array<int, 3> &y) { return x[0] > y[0]; });
    // Each proposal aligns by one minutia pair; the best few are refined by a
    // least-squares fit on what they pair up, twice.
    struct Proposal {
        int paired;
        Alignment al;
        std::vector<std::pair<int, int>> pairs;
    };
    std::vector<Proposal> proposals;
    for (size_t k = 0; k < keep; ++k) {
        const Minutia &ma = a.minutiae[static_cast<size_t>(cands[k][1])];
        const Minutia &mb = b.minutiae[static_cast<size_t>(cands[k][2])];
        Proposal p;
        p.al.rot = wrap(mb.angle - ma.angle);
        const float c = std::cos(p.al.rot), s = std::sin(p.al.rot);
        p.al.tx = mb.x - (c * ma.x - s * ma.y);
        p.al.ty = mb.y - (s * ma.x + c * ma.y);
        p.paired = pair_under(a, b, p.al, kCoarse, local, kMinLocal, &p.pairs).paired;
        proposals.push_back(std::move(p));
    }
    const size_t refine = std::min<size_t>(kRefined, proposals.size());
    std::partial_sort(proposals.begin(), proposals.begin() + static_cast<long>(refine), proposals.end(),
                      [](const Proposal &x, const Proposal &y) { return x.paired > y.paired; });
    for (size_t k = 0; k < refine; ++k) {
        Proposal &p = proposals[k];
        ImpressionMatch m;
        for (int round = 0; round < 2; ++round) {
            if (p.pairs.size() < 3) break;
            p.al = fit_rigid(a, b, p.pairs);
            m = pair_under(a, b, p.al, kFine, local, kMinLocal, &p.pairs);
        }
        m.score = score_of(m);
        if (m.score > best.score || (m.score == best.score && m.paired > best.paired)) best = m;
    }
    return best;
}

int match_templates(const PreparedTemplate &a, const PreparedTemplate &b) {
    int best = 0;
    for (const PreparedImpression &x : a.impressions)
        for (const PreparedImpression &y : b.impressions) best = std::max(best, match_impressions(x, y).score);
    return best;
}

}  // namespace qxfp
