#include "extract.h"

#include "thinning.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <vector>

namespace qxfp {
namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int kOrientations = 16;
constexpr int kFilterRadius = 10;
constexpr int kFilterSide = 2 * kFilterRadius + 1;
constexpr float kRidgePeriod = 9.0f;  // pixels at 500 dpi
constexpr int kBorder = 12;           // minutiae closer to the finger's edge are dropped
constexpr int kTraceLength = 12;
constexpr int kShortRidge = 8;

// Even-symmetric oriented filters tuned to the ridge period, zero mean.
const std::array<cv::Mat, kOrientations> &ridge_filters() {
    static std::array<cv::Mat, kOrientations> bank;
    static std::once_flag once;
    std::call_once(once, [] {
        const int r = kFilterRadius;
        const float su = 3.2f, sv = 4.5f;
        for (int k = 0; k < kOrientations; ++k) {
            const float theta = k * kPi / kOrientations;  // ridge direction
            const float cu = std::cos(theta + kPi / 2), snu = std::sin(theta + kPi / 2);
            cv::Mat g(2 * r + 1, 2 * r + 1, CV_32F), env(2 * r + 1, 2 * r + 1, CV_32F);
            for (int y = -r; y <= r; ++y)
                for (int x = -r; x <= r; ++x) {
                    const float u = x * cu + y * snu, v = -x * snu + y * cu;
                    const float e = std::exp(-(u * u) / (2 * su * su) - (v * v) / (2 * sv * sv));
                    env.at<float>(y + r, x + r) = e;
                    g.at<float>(y + r, x + r) = e * std::cos(2 * kPi * u / kRidgePeriod);
                }
            g -= env * (cv::sum(g)[0] / cv::sum(env)[0]);
            bank[static_cast<size_t>(k)] = g;
        }
    });
    return bank;
}

float percentile(const cv::Mat &m, double q) {
    std::vector<float> v;
    v.reserve(m.total());
    for (int y = 0; y < m.rows; ++y) {
        const float *row = m.ptr<float>(y);
        v.insert(v.end(), row, row + m.cols);
    }
    auto it = v.begin() + static_cast<long>(q * (v.size() - 1));
    std::nth_element(v.begin(), it, v.end());
    return *it;
}

struct Field {
    cv::Mat theta;      // ridge direction 0..pi
    cv::Mat coherence;  // 0..1
};

Field orientation_field(const cv::Mat &norm) {
    cv::Mat smooth, gx, gy;
    cv::GaussianBlur(norm, smooth, cv::Size(0, 0), 1.0);
    cv::Sobel(smooth, gx, CV_32F, 1, 0, 3);
    cv::Sobel(smooth, gy, CV_32F, 0, 1, 3);
    cv::Mat gxx = gx.mul(gx), gyy = gy.mul(gy), gxy = gx.mul(gy);
    const double sigma = 6.0;
    cv::GaussianBlur(gxx, gxx, cv::Size(0, 0), sigma);
    cv::GaussianBlur(gyy, gyy, cv::Size(0, 0), sigma);
    cv::GaussianBlur(gxy, gxy, cv::Size(0, 0), sigma);
    Field f;
    f.theta.create(norm.size(), CV_32F);
    f.coherence.create(norm.size(), CV_32F);
    for (int y = 0; y < norm.rows; ++y)
        for (int x = 0; x < norm.cols; ++x) {
            const float a = gxx.at<float>(y, x), b = gyy.at<float>(y, x), c = gxy.at<float>(y, x);
            float t = 0.5f * std::atan2(2 * c, a - b) + kPi / 2;  // gradient is across ridges
            if (t >= kPi) t -= kPi;
            if (t < 0) t += kPi;
            f.theta.at<float>(y, x) = t;
            f.coherence.at<float>(y, x) = std::sqrt((a - b) * (a - b) + 4 * c * c) / (a + b + 1e-6f);
        }
    return f;
}

// Foreground: where the local grey deviation shows ridges that flow
// coherently; the largest blob.
cv::Mat segment(const cv::Mat &f, const cv::Mat &sd, const cv::Mat &coherence) {
    const float thr = std::max(6.0f, 0.3f * percentile(sd, 0.9));
    cv::Mat mask = (sd > thr) & (coherence > 0.3);
    cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_ELLIPSE, {15, 15}));
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, {15, 15}));
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    int best = 0, bestArea = 0;
    for (int i = 1; i < n; ++i)
        if (stats.at<int>(i, cv::CC_STAT_AREA) > bestArea) {
            bestArea = stats.at<int>(i, cv::CC_STAT_AREA);
            best = i;
        }
    cv::Mat out = cv::Mat::zeros(f.size(), CV_8U);
    if (best > 0) out.setTo(255, labels == best);
    return out;
}

// Ridge pixels (1) from the filter of each pixel's own orientation, applied
// only there (a full bank of image-wide filters costs ten times more).
cv::Mat binarise(const cv::Mat &norm, const Field &field, const cv::Mat &mask) {
    const auto &bank = ridge_filters();
    const int r = kFilterRadius;
    cv::Mat padded;
    cv::copyMakeBorder(norm, padded, r, r, r, r, cv::BORDER_REFLECT);
    cv::Mat bin = cv::Mat::zeros(norm.size(), CV_8U);
    for (int y = 0; y < norm.rows; ++y)
        for (int x = 0; x < norm.cols; ++x) {
            if (!mask.at<uint8_t>(y, x)) continue;
            const int k =
                static_cast<int>(std::lround(field.theta.at<float>(y, x) / (kPi / kOrientations))) % kOrientations;
            const cv::Mat &g = bank[static_cast<size_t>(k)];
            // Column-wise partial sums keep the inner loop free of a serial
            // dependency, so it vectorises.
            float partial[kFilterSide] = {};
            for (int dy = 0; dy < kFilterSide; ++dy) {
                const float *img = padded.ptr<float>(y + dy) + x;
                const float *ker = g.ptr<float>(dy);
                for (int dx = 0; dx < kFilterSide; ++dx) partial[dx] += img[dx] * ker[dx];
            }
            float acc = 0;
            for (float v : partial) acc += v;
            // Dark ridges give a negative response.
            if (acc < 0) bin.at<uint8_t>(y, x) = 1;
        }
    return bin;
}

const int kDx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
const int kDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

int crossing_number(const cv::Mat &sk, int x, int y) {
    int cn = 0;
    for (int i = 0; i < 8; ++i) {
        const int a = sk.at<uint8_t>(y + kDy[i], x + kDx[i]);
        const int b = sk.at<uint8_t>(y + kDy[(i + 1) % 8], x + kDx[(i + 1) % 8]);
        cn += a != b;
    }
    return cn / 2;
}

int neighbours(const cv::Mat &sk, int x, int y) {
    int n = 0;
    for (int i = 0; i < 8; ++i) n += sk.at<uint8_t>(y + kDy[i], x + kDx[i]) != 0;
    return n;
}

struct Trace {
    cv::Point end;
    int steps = 0;
    bool hitPoint = false;  // stopped at an end or a junction
};

// Follows the skeleton from `from` through `first` for up to kTraceLength steps.
Trace follow(const cv::Mat &sk, cv::Point from, cv::Point first) {
    Trace t;
    cv::Point cur = first;
    std::vector<cv::Point> seen{from, first};
    t.steps = 1;
    while (t.steps < kTraceLength) {
        if (cur.x <= 0 || cur.y <= 0 || cur.x >= sk.cols - 1 || cur.y >= sk.rows - 1) break;
        const int n = neighbours(sk, cur.x, cur.y);
        if (n != 2 && crossing_number(sk, cur.x, cur.y) != 2) {
            t.hitPoint = true;
            break;
        }
        cv::Point next(-1, -1);
        // Prefer 4-connected steps so a staircase corner is not taken as a fork.
        for (int pass = 0; pass < 2 && next.x < 0; ++pass)
            for (int i = pass; i < 8; i += 2) {
                cv::Point q(cur.x + kDx[i], cur.y + kDy[i]);
                if (!sk.at<uint8_t>(q.y, q.x)) continue;
                if (std::find(seen.end() - std::min<long>(4, static_cast<long>(seen.size())), seen.end(), q) !=
                    seen.end())
                    continue;
                next = q;
                break;
            }
        if (next.x < 0) {
            t.hitPoint = true;
            break;
        }
        cur = next;
        seen.push_back(cur);
        ++t.steps;
    }
    t.end = cur;
    return t;
}

// Starting pixels of the branches around a skeleton point: one per run of
// set neighbours in circular order.
std::vector<cv::Point> branch_starts(const cv::Mat &sk, int x, int y) {
    std::vector<cv::Point> starts;
    int first = -1;
    for (int i = 0; i < 8; ++i)
        if (!sk.at<uint8_t>(y + kDy[i], x + kDx[i])) {
            first = i;
            break;
        }
    if (first < 0) return starts;
    for (int k = 1; k <= 8; ++k) {
        const int i = (first + k) % 8;
        const bool on = sk.at<uint8_t>(y + kDy[i], x + kDx[i]) != 0;
        const int prevI = (i + 7) % 8;
        const bool prevOn = sk.at<uint8_t>(y + kDy[prevI], x + kDx[prevI]) != 0;
        if (on && !prevOn) {
            // Take the 4-connected pixel of the run when there is one.
            int pick = i, j = i;
            while (sk.at<uint8_t>(y + kDy[j], x + kDx[j])) {
                if (j % 2 == 0) {
                    pick = j;
                    break;
                }
                j = (j + 1) % 8;
                if (j == i) break;
            }
            starts.emplace_back(x + kDx[pick], y + kDy[pick]);
        }
    }
    return starts;
}

float angle_diff(float a, float b) {
    float d = std::fmod(std::fabs(a - b), 2 * kPi);
    return d > kPi ? 2 * kPi - d : d;
}

float wrap(float a) {
    a = std::fmod(a, 2 * kPi);
    return a < 0 ? a + 2 * kPi : a;
}

// The traced direction snapped to the (smoother) orientation field.
float refine_angle(float traced, float theta) {
    const float a = theta, b = theta + kPi;
    const float best = angle_diff(traced, a) < angle_diff(traced, b) ? a : b;
    return angle_diff(traced, best) < kPi / 4 ? wrap(best) : wrap(traced);
}

struct Candidate {
    Minutia m;
    bool keep = true;
};

void detect(const cv::Mat &sk, const cv::Mat &inner, const cv::Mat &dist, const Field &field,
            std::vector<Candidate> &out) {
    for (int y = 1; y < sk.rows - 1; ++y)
        for (int x = 1; x < sk.cols - 1; ++x) {
            if (!sk.at<uint8_t>(y, x) || !inner.at<uint8_t>(y, x)) continue;
            const int cn = crossing_number(sk, x, y);
            if (cn != 1 && cn != 3) continue;
            std::vector<cv::Point> starts = branch_starts(sk, x, y);
            if (static_cast<int>(starts.size()) != (cn == 1 ? 1 : 3)) continue;
            std::vector<Trace> traces;
            bool shortBranch = false;
            for (const cv::Point &s : starts) {
                traces.push_back(follow(sk, {x, y}, s));
                if (traces.back().hitPoint && traces.back().steps < kShortRidge) shortBranch = true;
            }
            if (shortBranch) continue;  // spur, short ridge or a bridge
            float traced;
            if (cn == 1) {
                traced = std::atan2(static_cast<float>(y - traces[0].end.y), static_cast<float>(x - traces[0].end.x));
            } else {
                float a[3];
                for (int i = 0; i < 3; ++i)
                    a[i] = std::atan2(static_cast<float>(traces[static_cast<size_t>(i)].end.y - y),
                                      static_cast<float>(traces[static_cast<size_t>(i)].end.x - x));
                // The stem is the branch farthest from the other two; the
                // minutia points from the stem into the fork.
                int stem = 0;
                float bestGap = -1;
                for (int i = 0; i < 3; ++i) {
                    const float gap =
                        std::min(angle_diff(a[i], a[(i + 1) % 3]), angle_diff(a[i], a[(i + 2) % 3]));
                    if (gap > bestGap) {
                        bestGap = gap;
                        stem = i;
                    }
                }
                traced = a[stem] + kPi;
            }
            Candidate c;
            c.m.x = static_cast<float>(x);
            c.m.y = static_cast<float>(y);
            c.m.type = cn == 1 ? kEnding : kBifurcation;
            c.m.angle = refine_angle(wrap(traced), field.theta.at<float>(y, x));
            const float coh = std::min(1.0f, field.coherence.at<float>(y, x));
            const float edge = std::min(1.0f, dist.at<float>(y, x) / 40.0f);
            c.m.quality = static_cast<uint8_t>(std::lround(63.0f * coh * edge));
            out.push_back(c);
        }
}

// Drops clusters (noise), facing ending pairs (a broken ridge) and minutiae
// where the ridge flow is unclear.
void remove_false(std::vector<Candidate> &cs, const Field &field) {
    for (size_t i = 0; i < cs.size(); ++i) {
        const Minutia &a = cs[i].m;
        if (field.coherence.at<float>(static_cast<int>(a.y), static_cast<int>(a.x)) < 0.2f) cs[i].keep = false;
        for (size_t j = i + 1; j < cs.size(); ++j) {
            const Minutia &b = cs[j].m;
            const float dx = b.x - a.x, dy = b.y - a.y, d = std::sqrt(dx * dx + dy * dy);
            if (d < 7.0f) {
                cs[i].keep = cs[j].keep = false;
                continue;
            }
            if (d < 20.0f && a.type == kEnding && b.type == kEnding && angle_diff(a.angle, b.angle) > kPi * 0.7f) {
                // Facing each other across a gap: one ridge broken in two.
                const float along = std::atan2(dy, dx);
                if (angle_diff(along, a.angle) < kPi / 4) cs[i].keep = cs[j].keep = false;
            }
            if (d < 12.0f && a.type != b.type) cs[i].keep = cs[j].keep = false;  // ending next to a fork: a bridge
        }
    }
}

}  // namespace

Extraction extract_minutiae(const uint8_t *img, int width, int height) {
    Extraction ex;
    if (!img || width < 32 || height < 32) return ex;
    cv::Mat src(height, width, CV_8U, const_cast<uint8_t *>(img)), f;
    src.convertTo(f, CV_32F);
    cv::Mat mean, sq, sd;
    cv::blur(f, mean, cv::Size(17, 17), cv::Point(-1, -1), cv::BORDER_REFLECT);
    cv::blur(f.mul(f), sq, cv::Size(17, 17), cv::Point(-1, -1), cv::BORDER_REFLECT);
    cv::Mat var = sq - mean.mul(mean);
    var = cv::max(var, 0.0);
    cv::sqrt(var, sd);
    cv::Mat norm = (f - mean) / cv::max(sd, 4.0);
    Field field = orientation_field(norm);
    // Foreground needs grey contrast and a clear ridge flow: noise and
    // smudges have the one without the other.
    cv::Mat mask = segment(f, sd, field.coherence);
    const double area = cv::countNonZero(mask) / static_cast<double>(width * height);
    if (area < 0.08) return ex;
    norm.setTo(0, mask == 0);
    cv::Mat bin = binarise(norm, field, mask);
    thin_ridges(bin);

    cv::Mat dist;
    cv::Mat framed = mask.clone();
    framed.row(0).setTo(0);
    framed.row(height - 1).setTo(0);
    framed.col(0).setTo(0);
    framed.col(width - 1).setTo(0);
    cv::distanceTransform(framed, dist, cv::DIST_L2, 3);
    cv::Mat inner = dist > kBorder;

    std::vector<Candidate> cands;
    detect(bin, inner, dist, field, cands);
    remove_false(cands, field);
    for (const Candidate &c : cands)
        if (c.keep) ex.minutiae.push_back(c.m);
    if (ex.minutiae.size() > static_cast<size_t>(kMaxMinutiae)) {
        std::stable_sort(ex.minutiae.begin(), ex.minutiae.end(),
                         [](const Minutia &a, const Minutia &b) { return a.quality > b.quality; });
        ex.minutiae.resize(kMaxMinutiae);
    }
    const double coh = cv::mean(field.coherence, mask)[0];
    ex.quality = static_cast<int>(std::lround(100.0 * std::min(1.0, area / 0.6) * std::min(1.0, coh / 0.7)));
    return ex;
}

}  // namespace qxfp
