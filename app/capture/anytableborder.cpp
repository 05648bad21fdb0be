#include "anytableborder.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace anytabledetection {

namespace {

// Points read along each side, a share of its length in pixels, bounded.
constexpr int kMinSamples = 8;
constexpr int kMaxSamples = 48;
// A point counts when paper and table differ by this share of the brighter
// of the two, and by a few grey levels at least (noise, JPEG).
constexpr double kMinStepShare = 0.06;
constexpr double kMinStep = 8.0;
// A side moves only when this share of its points found a step.
constexpr double kMinFoundShare = 0.35;

struct Side {
    cv::Point2f from, to, outward;
};

double levelAt(const cv::Mat &image, bool grey, int x, int y)
{
    const uchar *pixel = image.ptr(y);
    if (grey)
        return pixel[x];
    pixel += 3 * x;
    return (pixel[0] + 2 * pixel[1] + pixel[2]) / 4.0;
}

// Where, along the outward normal through `at`, brightness crosses half way
// between paper (inside end) and table (outside end); the crossing nearest
// the side wins. False when there is no clear step.
bool stepOffset(const cv::Mat &image, const cv::Point2f &at, const cv::Point2f &outward, int reach,
                std::vector<double> &profile, double &offset)
{
    profile.clear();
    const bool grey = image.channels() == 1;
    for (int j = -reach; j <= reach; ++j) {
        const int x = cvRound(at.x + outward.x * float(j)), y = cvRound(at.y + outward.y * float(j));
        if (x < 0 || y < 0 || x >= image.cols || y >= image.rows)
            return false;
        profile.push_back(levelAt(image, grey, x, y));
    }
    const double inside = 0.5 * (profile[0] + profile[1]);
    const double outside = 0.5 * (profile[profile.size() - 1] + profile[profile.size() - 2]);
    if (std::abs(inside - outside) < std::max(kMinStep, kMinStepShare * std::max(inside, outside)))
        return false;
    const double half = 0.5 * (inside + outside);
    bool found = false;
    for (size_t j = 0; j + 1 < profile.size(); ++j) {
        const double a = profile[j] - half, b = profile[j + 1] - half;
        if (a == b || a * b > 0)
            continue;
        const double position = double(j) - reach + a / (a - b);
        if (!found || std::abs(position) < std::abs(offset))
            offset = position;
        found = true;
    }
    return found;
}

double sideShift(const cv::Mat &image, const Side &side, int reach)
{
    const float length = float(cv::norm(side.to - side.from));
    const int samples = std::clamp(int(length / 4), kMinSamples, kMaxSamples);
    std::vector<double> offsets, profile;
    for (int k = 0; k < samples; ++k) {
        const float t = 0.05f + 0.9f * (float(k) + 0.5f) / float(samples);
        double offset = 0;
        if (stepOffset(image, side.from + (side.to - side.from) * t, side.outward, reach, profile, offset))
            offsets.push_back(offset);
    }
    if (offsets.size() < kMinFoundShare * samples)
        return 0;
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    return offsets[offsets.size() / 2];
}

} // namespace

cv::RotatedRect borderAtStep(const cv::Mat &image, const cv::RotatedRect &rect, float reach)
{
    cv::Point2f corners[4];
    rect.points(corners);
    Side sides[4];
    double shifts[4];
    for (int i = 0; i < 4; ++i) {
        Side &side = sides[i];
        side.from = corners[i];
        side.to = corners[(i + 1) % 4];
        const float length = float(cv::norm(side.to - side.from));
        if (length < 1.0f)
            return rect;
        side.outward = cv::Point2f(-(side.to.y - side.from.y) / length, (side.to.x - side.from.x) / length);
        if (side.outward.dot(0.5f * (side.from + side.to) - rect.center) < 0)
            side.outward = -side.outward;
        shifts[i] = sideShift(image, side, std::max(2, int(std::lround(reach))));
    }
    // Sides 0 and 2 face each other, so do 1 and 3; moving both of a pair
    // outward widens the rectangle across them and moves its centre by half
    // the difference.
    const float angle = rect.angle * float(CV_PI / 180.0);
    const cv::Point2f widthDirection(std::cos(angle), std::sin(angle));
    const cv::Point2f firstDirection =
        (sides[0].to - sides[0].from) * (1.0f / float(cv::norm(sides[0].to - sides[0].from)));
    const bool firstAlongWidth = std::abs(firstDirection.dot(widthDirection)) > 0.7f;
    const float acrossFirst = float(shifts[0] + shifts[2]), acrossSecond = float(shifts[1] + shifts[3]);
    cv::Size2f size = rect.size;
    if (firstAlongWidth) {
        size.height += acrossFirst;
        size.width += acrossSecond;
    } else {
        size.width += acrossFirst;
        size.height += acrossSecond;
    }
    const cv::Point2f center = rect.center + sides[0].outward * float(0.5 * (shifts[0] - shifts[2])) +
                               sides[1].outward * float(0.5 * (shifts[1] - shifts[3]));
    if (size.width <= 1.0f || size.height <= 1.0f)
        return rect;
    return cv::RotatedRect(center, size, rect.angle);
}

} // namespace anytabledetection
