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
// Genuine pairs land within a few pixels after the fit; chance pairs spread
// over the whole tolerance. Pairs count by closeness on this scale.
constexpr float kCloseSigma = 3.0f;
constexpr float kAccept = 0.14f;

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

// Agreeing neighbour relations of every minutia pair (i of a, j of b),
// counted into local[i * nb + j]: each relation of a is looked up among b's
// relations of about the same length, which are sorted by length.
void local_similarity(const PreparedImpression &a, const PreparedImpression &b, std::vector<uint8_t> &local) {
    const size_t nb = b.minutiae.size();
    local.assign(a.minutiae.size() * nb, 0);
    const float *dist = b.relDistance.data();
    const float *bear = b.relBearing.data();
    const float *dir = b.relDirection.data();
    const size_t count = b.relDistance.size();
    uint8_t agree[kNeighbours * kMaxMinutiae];
    for (size_t r = 0; r < a.relDistance.size(); ++r) {
        const float d = a.relDistance[r], tol = 8.0f + 0.06f * d;
        const size_t lo = static_cast<size_t>(std::lower_bound(dist, dist + count, d - tol) - dist);
        const size_t hi = static_cast<size_t>(std::upper_bound(dist + lo, dist + count, d + tol) - dist);
        const float be = a.relBearing[r], di = a.relDirection[r];
        // Branch-free so it vectorises.
        for (size_t k = lo; k < hi; ++k) {
            float db = std::fabs(be - bear[k]);
            db = std::min(db, 2 * kPi - db);
            float dd = std::fabs(di - dir[k]);
            dd = std::min(dd, 2 * kPi - dd);
            agree[k - lo] = static_cast<uint8_t>((db <= 0.3f) & (dd <= 0.45f));
        }
        uint8_t *row = &local[static_cast<size_t>(a.relMinutia[r]) * nb];
        for (size_t k = lo; k < hi; ++k) {
            uint8_t &cell = row[static_cast<size_t>(b.relMinutia[k])];
            if (agree[k - lo] && cell < kNeighbours) ++cell;
        }
    }
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
// Scratch space of one comparison, kept per thread so a database scan does
// not allocate for every entry.
struct Workspace {
    std::vector<uint8_t> local;            // na x nb agreeing neighbour relations
    std::vector<int> rowStart, partners;   // per minutia of a: the minutiae of b with local >= kMinLocal
    std::vector<std::array<int, 3>> cands;
    std::vector<std::array<float, 3>> moved;
    std::vector<Pair> pairs;
    std::vector<char> usedA, usedB;
    std::vector<std::array<float, 2>> hull;
};

// Only minutiae whose neighbourhoods agree (the partner lists) may pair:
// chance positions and the ridge flow shared by many fingers do not pair up
// on their own.
ImpressionMatch pair_under(const PreparedImpression &a, const PreparedImpression &b, const Alignment &al,
                           const Tolerance &tol, Workspace &w, std::vector<std::pair<int, int>> *paired,
                           bool coverage) {
    ImpressionMatch r;
    r.rotation = al.rot;
    r.dx = al.tx;
    r.dy = al.ty;
    const float c = std::cos(al.rot), s = std::sin(al.rot);
    const size_t na = a.minutiae.size(), nb = b.minutiae.size();
    std::vector<std::array<float, 3>> &moved = w.moved;
    moved.resize(na);
    for (size_t i = 0; i < na; ++i) {
        const Minutia &m = a.minutiae[i];
        moved[i] = {c * m.x - s * m.y + al.tx, s * m.x + c * m.y + al.ty, wrap(m.angle + al.rot)};
    }
    std::vector<Pair> &pairs = w.pairs;
    pairs.clear();
    for (size_t i = 0; i < na; ++i)
        for (int k = w.rowStart[i]; k < w.rowStart[i + 1]; ++k) {
            const int j = w.partners[static_cast<size_t>(k)];
            const Minutia &q = b.minutiae[static_cast<size_t>(j)];
            const float dx = moved[i][0] - q.x, dy = moved[i][1] - q.y;
            if (std::fabs(dx) > tol.distance || std::fabs(dy) > tol.distance) continue;
            const float d = std::sqrt(dx * dx + dy * dy);
            if (d > tol.distance || angle_diff(moved[i][2], q.angle) > tol.angle) continue;
            pairs.push_back({d, static_cast<int>(i), j});
        }
    std::sort(pairs.begin(), pairs.end(), [](const Pair &x, const Pair &y) { return x.d < y.d; });
    std::vector<char> &usedA = w.usedA, &usedB = w.usedB;
    usedA.assign(na, 0);
    usedB.assign(nb, 0);
    if (paired) paired->clear();
    for (const Pair &p : pairs) {
        if (usedA[static_cast<size_t>(p.i)] || usedB[static_cast<size_t>(p.j)]) continue;
        usedA[static_cast<size_t>(p.i)] = usedB[static_cast<size_t>(p.j)] = 1;
        ++r.paired;
        r.closeness += std::exp(-p.d * p.d / (2 * kCloseSigma * kCloseSigma));
        if (paired) paired->emplace_back(p.i, p.j);
    }
    if (!coverage) return r;
    // Area both cover: a's minutiae inside b's hull, b's inside a's moved hull.
    for (size_t i = 0; i < na; ++i)
        if (usedA[i] || inside(b.hull, moved[i][0], moved[i][1], 6.0f)) ++r.coveredA;
    std::vector<std::array<float, 2>> &hullA = w.hull;
    hullA.resize(a.hull.size());
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
    // The share of the minutiae both impressions cover that pair up closely,
    // damped while only a few pair up: a small overlap pairs up by chance.
    const float share = m.closeness / std::sqrt(static_cast<float>(m.coveredA + 2) * (m.coveredB + 2));
    const float support = std::max(0.0f, std::min(1.0f, (m.closeness - 3.0f) / 5.0f));
    const float raw = std::min(1.0f, 1.3f * share) * support;
    // Different simulated fingers stay below 0.11, impressions of one finger
    // mostly far above; kAccept is the acceptance score 50.
    const float score = raw < kAccept ? 50.0f * raw / kAccept : 50.0f + 50.0f * (raw - kAccept) / (1.0f - kAccept);
    return static_cast<int>(std::lround(std::min(100.0f, score)));
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
    std::vector<std::pair<float, std::pair<size_t, int>>> rel;
    for (size_t i = 0; i < n; ++i)
        for (int q = 0; q < p.neighbourCount[i]; ++q)
            rel.push_back({p.neighbours[i][static_cast<size_t>(q)].distance, {i, q}});
    std::sort(rel.begin(), rel.end());
    for (const auto &r : rel) {
        const Neighbour &nb = p.neighbours[r.second.first][static_cast<size_t>(r.second.second)];
        p.relDistance.push_back(nb.distance);
        p.relBearing.push_back(nb.bearing);
        p.relDirection.push_back(nb.direction);
        p.relMinutia.push_back(static_cast<int>(r.second.first));
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
    static thread_local Workspace w;
    local_similarity(a, b, w.local);
    std::vector<std::array<int, 3>> &cands = w.cands;  // similarity, i, j
    cands.clear();
    w.rowStart.assign(na + 1, 0);
    w.partners.clear();
    for (size_t i = 0; i < na; ++i) {
        w.rowStart[i] = static_cast<int>(w.partners.size());
        for (size_t j = 0; j < nb; ++j) {
            const int sim = w.local[i * nb + j];
            if (sim >= kMinLocal) w.partners.push_back(static_cast<int>(j));
            if (sim >= 2) cands.push_back({sim, static_cast<int>(i), static_cast<int>(j)});
        }
    }
    w.rowStart[na] = static_cast<int>(w.partners.size());
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
        p.paired = pair_under(a, b, p.al, kCoarse, w, &p.pairs, false).paired;
        proposals.push_back(std::move(p));
    }
    const size_t refine = std::min<size_t>(kRefined, proposals.size());
    std::partial_sort(proposals.begin(), proposals.begin() + static_cast<long>(refine), proposals.end(),
                      [](const Proposal &x, const Proposal &y) { return x.paired > y.paired; });
    for (size_t k = 0; k < refine; ++k) {
        Proposal &p = proposals[k];
        ImpressionMatch m;
        for (int round = 0; round < 2 && p.pairs.size() >= 3; ++round) {
            p.al = fit_rigid(a, b, p.pairs);
            m = pair_under(a, b, p.al, kFine, w, &p.pairs, round == 1);
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
