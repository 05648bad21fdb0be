#include "fingerprint.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace qxsim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMmPerPixel = 25.4 / 500.0;  // nominal 500 dpi

struct Minutia {
    double x, y;  // mm from the window centre
    int sign;     // +1 / -1: direction of the phase residue
};

// Parameters of one finger, derived deterministically from its id.
struct FingerModel {
    int kind;                 // 0 concentric whorl, 1 spiral whorl, 2 loop-like
    double coreX, coreY;      // mm from the window centre
    double axisX, axisY;      // ellipse stretch of the ridge rings
    double period;            // ridge period in mm
    double flatten;           // widening of the rings below the core (loop-like)
    double warpA[2], warpK[2], warpP[2];
    double contactX, contactY, contactRx, contactRy;
    std::vector<Minutia> minutiae;
};

// Small deterministic generator so every build draws the same fingers.
struct Lcg {
    uint64_t state;
    explicit Lcg(uint64_t seed) : state(seed * 6364136223846793005ULL + 1442695040888963407ULL) {}
    double next() {  // [0, 1)
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
    double range(double lo, double hi) { return lo + (hi - lo) * next(); }
};

FingerModel make_model(int finger_id) {
    Lcg rng(static_cast<uint64_t>(finger_id) + 17);
    FingerModel m;
    m.kind = static_cast<int>(static_cast<unsigned>(finger_id) % 3u);
    m.coreX = rng.range(-1.5, 1.5);
    m.coreY = rng.range(-2.5, 0.5);
    m.axisX = rng.range(0.8, 1.0);
    m.axisY = rng.range(1.05, 1.35);
    m.period = rng.range(0.44, 0.50);
    m.flatten = m.kind == 2 ? rng.range(0.25, 0.45) : 0.0;
    for (int i = 0; i < 2; ++i) {
        m.warpA[i] = rng.range(0.3, 0.8);
        m.warpK[i] = rng.range(0.18, 0.35);
        m.warpP[i] = rng.range(0.0, 2 * kPi);
    }
    m.contactX = rng.range(-0.5, 0.5);
    m.contactY = rng.range(-0.5, 0.5);
    m.contactRx = rng.range(7.6, 8.4);
    m.contactRy = rng.range(10.5, 11.5);
    // Minutiae come in close pairs of opposite sign: each pair adds a ridge
    // ending and a bifurcation without twisting the far ridge flow.
    // A real fingertip shows thirty to sixty minutiae in this window; the
    // finger reaches past the window so a shifted placement shows new ones.
    const int pairs = 22 + static_cast<int>(rng.next() * 9);
    for (int i = 0; i < pairs; ++i) {
        double x = rng.range(-7.5, 7.5), y = rng.range(-10.0, 10.0);
        double angle = rng.range(0.0, 2 * kPi), dist = rng.range(0.9, 2.2);
        m.minutiae.push_back({x, y, +1});
        m.minutiae.push_back({x + dist * std::cos(angle), y + dist * std::sin(angle), -1});
    }
    return m;
}

// atan2 to about 1e-5 rad: plenty for a ridge phase, and several times
// faster than the library call, which dominated texture building. Written
// without branches so the loops over a row of texels vectorise.
template <typename T>
inline T fast_atan2(T y, T x) {
    const T pi = static_cast<T>(kPi);
    const T ax = std::fabs(x), ay = std::fabs(y);
    const bool steep = ay > ax;
    const T hi = steep ? ay : ax, lo = steep ? ax : ay;
    const T t = lo / (hi > T(0) ? hi : T(1)), t2 = t * t;
    T r = ((((((T(-0.0040540580) * t2 + T(0.0218612288)) * t2 - T(0.0559098861)) * t2 + T(0.0964200441)) * t2 -
             T(0.1390853351)) * t2 + T(0.1994653599)) * t2 - T(0.3332985605)) * t2 * t + t;
    r = steep ? pi / 2 - r : r;
    r = x < T(0) ? pi - r : r;
    return y < T(0) ? -r : r;
}

// Ridge phase (in ridge periods) along one row of texels at finger points
// (x, y), mm from the window centre; wx, wy are the warped coordinates. The
// rings first, then each minutia pair adds arg((z - a) / (z - b)) / 2pi, in
// single precision (a phase error of 1e-5 periods is invisible).
void phase_row(const FingerModel &m, const float *__restrict x, const float *__restrict y,
               const double *__restrict wx, const double *__restrict wy, int n, float *__restrict out) {
    for (int k = 0; k < n; ++k) {
        double dx = (wx[k] - m.coreX) / m.axisX;
        const double dy = (wy[k] - m.coreY) / m.axisY;
        // Rings widen below the core; the smooth ramp keeps the ridge flow free of kinks.
        if (m.flatten > 0) dx /= std::sqrt(1.0 + m.flatten * 0.5 * (dy + std::sqrt(dy * dy + 0.5)));
        double p = std::sqrt(dx * dx + dy * dy) / m.period;
        if (m.kind == 1) p += fast_atan2(dy, dx) / (2 * kPi);
        out[k] = static_cast<float>(p);
    }
    const float inv2Pi = static_cast<float>(1.0 / (2 * kPi));
    for (size_t i = 0; i + 1 < m.minutiae.size(); i += 2) {
        const float pax = static_cast<float>(m.minutiae[i].x), pay = static_cast<float>(m.minutiae[i].y);
        const float pbx = static_cast<float>(m.minutiae[i + 1].x), pby = static_cast<float>(m.minutiae[i + 1].y);
        for (int k = 0; k < n; ++k) {
            const float ax = x[k] - pax, ay = y[k] - pay, bx = x[k] - pbx, by = y[k] - pby;
            out[k] += fast_atan2(ay * bx - ax * by, ax * bx + ay * by) * inv2Pi;
        }
    }
}

double contact(const FingerModel &m, double x, double y) {
    double ex = (x - m.contactX) / m.contactRx, ey = (y - m.contactY) / m.contactRy;
    double r = std::sqrt(ex * ex + ey * ey);
    // Soft edge: full contact inside 0.9, none beyond 1.0.
    if (r <= 0.9) return 1.0;
    if (r >= 1.0) return 0.0;
    return (1.0 - r) / 0.1;
}

// Where a window pixel lies on the finger for a placement: the inverse of
// the placement's shift and rotation, plus a smooth elastic stretch.
struct Placement {
    double cx, cy, sx, sy, cosA, sinA, distortion, halfW, halfH;
    Placement(const QXSimImpression &p, int windowW, int windowH)
        : cx((windowW - 1) / 2.0), cy((windowH - 1) / 2.0), sx(p.shift_x), sy(p.shift_y),
          cosA(std::cos(p.rotation_deg * kPi / 180.0)), sinA(std::sin(p.rotation_deg * kPi / 180.0)),
          distortion(p.distortion), halfW(windowW / 2.0), halfH(windowH / 2.0) {}
    // Offset from the window centre, in finger pixels, of window point (px, py).
    void finger_offset(double px, double py, double *fx, double *fy) const {
        const double dx = px - cx - sx, dy = py - cy - sy;
        *fx = cosA * dx + sinA * dy;
        *fy = -sinA * dx + cosA * dy;
        if (distortion != 0.0) {
            const double u = (px - cx) / halfW, v = (py - cy) / halfH;
            *fx += distortion * std::sin(0.5 * kPi * u) * std::cos(0.5 * kPi * v);
            *fy += distortion * std::cos(0.5 * kPi * u) * std::sin(0.5 * kPi * v);
        }
    }
};

// Share of contact left where part of the finger is lifted off the glass.
double cut_contact(const QXSimImpression &p, double px, double py, int windowW, int windowH) {
    if (p.contact_cut <= 0.0) return 1.0;
    const double a = p.cut_angle_deg * kPi / 180.0, ca = std::cos(a), sa = std::sin(a);
    const double extent = 0.5 * (std::fabs(windowW * ca) + std::fabs(windowH * sa));
    const double proj = ((px - (windowW - 1) / 2.0) * ca + (py - (windowH - 1) / 2.0) * sa) / extent;
    const double edge = 1.0 - 2.0 * std::min(0.5, p.contact_cut);
    if (proj <= edge - 0.08) return 1.0;
    if (proj >= edge) return 0.0;
    return (edge - proj) / 0.08;
}

std::unique_ptr<FingerTexture> build(int finger_id, bool dry_patch, int windowW, int windowH,
                                     const QXSimImpression &placement) {
    auto tex = std::make_unique<FingerTexture>();
    const int scale = 2;
    tex->scale = scale;
    tex->width = windowW * scale;
    tex->height = windowH * scale;
    tex->darkness.resize(static_cast<size_t>(tex->width) * tex->height);
    FingerModel m = make_model(finger_id);
    // Pressure widens or thins the ridges, the contact area and the contrast.
    const double pressure = std::max(0.3, std::min(2.0, placement.pressure));
    m.contactRx *= 0.75 + 0.25 * pressure;
    m.contactRy *= 0.75 + 0.25 * pressure;
    const double amplitude = std::min(1.0, 0.55 + 0.45 * pressure);
    const double exponent = 0.8 / std::pow(pressure, 1.5);
    const Placement place(placement, windowW, windowH);
    // The dry patch sits where the left quarter of the image is judged.
    const double dryX = windowW / 4.0, dryY = windowH / 2.0, dryR = 34.0;
    // Ridge profile over one period.
    std::vector<double> profile(1024);
    for (size_t i = 0; i < profile.size(); ++i)
        profile[i] = std::pow(0.5 * (1.0 + std::cos(2 * kPi * i / profile.size())), exponent);
    const int W = tex->width;
    std::vector<float> xs(static_cast<size_t>(W)), ys(xs), ph(xs);
    std::vector<double> wxs(static_cast<size_t>(W)), wys(wxs), xd(wxs), yd(wxs);
    for (int ty = 0; ty < tex->height; ++ty) {
        const double py = static_cast<double>(ty) / scale;
        for (int tx = 0; tx < W; ++tx) {
            const double px = static_cast<double>(tx) / scale;
            double fx, fy;
            place.finger_offset(px, py, &fx, &fy);
            const double x = fx * kMmPerPixel, y = fy * kMmPerPixel;
            xd[static_cast<size_t>(tx)] = x;
            yd[static_cast<size_t>(tx)] = y;
            xs[static_cast<size_t>(tx)] = static_cast<float>(x);
            ys[static_cast<size_t>(tx)] = static_cast<float>(y);
            wxs[static_cast<size_t>(tx)] = x + m.warpA[0] * std::sin(m.warpK[0] * y + m.warpP[0]);
            wys[static_cast<size_t>(tx)] = y + m.warpA[1] * std::sin(m.warpK[1] * x + m.warpP[1]);
        }
        phase_row(m, xs.data(), ys.data(), wxs.data(), wys.data(), W, ph.data());
        for (int tx = 0; tx < W; ++tx) {
            const double px = static_cast<double>(tx) / scale;
            const double x = xd[static_cast<size_t>(tx)], y = yd[static_cast<size_t>(tx)];
            const double phase = ph[static_cast<size_t>(tx)];
            double frac = phase - std::floor(phase);
            double ridge = profile[std::min(profile.size() - 1, static_cast<size_t>(frac * profile.size()))];
            double value = ridge * contact(m, x, y) * amplitude * cut_contact(placement, px, py, windowW, windowH);
            if (dry_patch && std::fabs(px - dryX) < dryR && std::fabs(py - dryY) < dryR) value *= 0.06;
            tex->darkness[static_cast<size_t>(ty) * W + tx] = static_cast<uint8_t>(std::lround(value * 255.0));
        }
    }
    return tex;
}

}  // namespace

const FingerTexture &finger_texture(int finger_id, bool dry_patch, int windowW, int windowH,
                                    const QXSimImpression &placement) {
    using Key = std::tuple<int, bool, int, int, std::vector<double>>;
    static std::mutex lock;
    static std::map<Key, std::unique_ptr<FingerTexture>> cache;
    std::lock_guard<std::mutex> guard(lock);
    Key key{finger_id, dry_patch, windowW, windowH,
            {placement.shift_x, placement.shift_y, placement.rotation_deg, placement.pressure,
             placement.contact_cut, placement.cut_angle_deg, placement.distortion}};
    auto it = cache.find(key);
    if (it == cache.end()) {
        // Many placements of many fingers (a benchmark) would pile up; the
        // renderers use one texture at a time under the library lock.
        if (cache.size() >= 64) cache.clear();
        it = cache.emplace(key, build(finger_id, dry_patch, windowW, windowH, placement)).first;
    }
    return *it->second;
}

}  // namespace qxsim
