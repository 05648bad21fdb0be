// The simulated sensor presents the same finger in different placements:
// shifted, turned, pressed harder or lighter, partly lifted; and different
// fingers differently. Checked on the sensor's upright rendering and through
// the plug-in's capture.
#include "qxfp_test_support.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

using namespace qxfp_test;

namespace {

double correlation(const cv::Mat &a, const cv::Mat &b) {
    cv::Mat fa, fb;
    a.convertTo(fa, CV_64F);
    b.convertTo(fb, CV_64F);
    fa -= cv::mean(fa)[0];
    fb -= cv::mean(fb)[0];
    const double ab = fa.dot(fb), aa = fa.dot(fa), bb = fb.dot(fb);
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

class Placement : public AlgorithmTest {
protected:
    cv::Mat render(int finger, const QXSimImpression *p, int contrast = 110) {
        QXSimFinger f = qxsim_default_finger();
        f.present = 1;
        f.finger_id = finger;
        f.contrast = contrast;
        qxsim_set_finger(sensor_->device(), &f);
        qxsim_set_impression(sensor_->device(), p);
        cv::Mat out(sensor_->height(), sensor_->width(), CV_8U);
        qxsim_render_upright(sensor_->device(), out.cols, out.rows, out.data);
        return out;
    }
    cv::Rect centre() const { return {60, 80, sensor_->width() - 120, sensor_->height() - 160}; }
};

TEST_F(Placement, ReferencePlacementIsRestoredExactly) {
    const cv::Mat before = render(1, nullptr);
    QXSimImpression moved = qxsim_random_impression(5);
    const cv::Mat changed = render(1, &moved);
    EXPECT_GT(cv::norm(before, changed, cv::NORM_L1), 0.0);
    const cv::Mat after = render(1, nullptr);
    EXPECT_EQ(0.0, cv::norm(before, after, cv::NORM_INF));
    QXSimImpression identity = qxsim_identity_impression();
    EXPECT_EQ(0.0, cv::norm(before, render(1, &identity), cv::NORM_INF));
}

TEST_F(Placement, ShiftMovesTheFingerAcrossTheWindow) {
    const cv::Mat ref = render(2, nullptr);
    QXSimImpression p = placed(30, -20, 0);
    const cv::Mat moved = render(2, &p);
    const cv::Rect r = centre();
    // What the reference shows at (x, y) is now at (x + 30, y - 20).
    EXPECT_GT(correlation(moved(r), ref(r - cv::Point(30, -20))), 0.95);
    EXPECT_LT(correlation(moved(r), ref(r)), 0.5);
}

TEST_F(Placement, RotationTurnsTheFingerClockwiseAboutTheCentre) {
    const cv::Mat ref = render(3, nullptr);
    QXSimImpression p = placed(0, 0, 12);
    const cv::Mat turned = render(3, &p);
    const cv::Point2f c((ref.cols - 1) / 2.0f, (ref.rows - 1) / 2.0f);
    cv::Mat clockwise, anticlockwise;
    cv::warpAffine(ref, clockwise, cv::getRotationMatrix2D(c, -12, 1), ref.size(), cv::INTER_LINEAR);
    cv::warpAffine(ref, anticlockwise, cv::getRotationMatrix2D(c, 12, 1), ref.size(), cv::INTER_LINEAR);
    const cv::Rect r = centre();
    EXPECT_GT(correlation(turned(r), clockwise(r)), 0.85);
    EXPECT_LT(correlation(turned(r), anticlockwise(r)), 0.5);
}

TEST_F(Placement, PressureChangesRidgeWidthAndContrast) {
    QXSimImpression light = placed(0, 0, 0, 0.7), heavy = placed(0, 0, 0, 1.4);
    const cv::Mat l = render(4, &light), n = render(4, nullptr), h = render(4, &heavy);
    const cv::Rect r = centre();
    auto ridgeShare = [&](const cv::Mat &m) { return cv::countNonZero(m(r) < 150) / static_cast<double>(r.area()); };
    EXPECT_LT(ridgeShare(l), ridgeShare(n));
    EXPECT_LT(ridgeShare(n), ridgeShare(h));
    cv::Scalar ml, sl, mh, sh;
    cv::meanStdDev(l(r), ml, sl);
    cv::meanStdDev(h(r), mh, sh);
    EXPECT_GT(ml[0], mh[0]) << "a light touch is paler";
    // The same ridges all the same.
    EXPECT_GT(correlation(l(r), h(r)), 0.6);
}

TEST_F(Placement, PartlyLiftedFingerLeavesThatSideEmpty) {
    QXSimImpression p = qxsim_identity_impression();
    p.contact_cut = 0.3;
    p.cut_angle_deg = 0;  // the right side is lifted
    const cv::Mat m = render(5, &p);
    cv::Scalar mean, dev;
    cv::meanStdDev(m(cv::Rect(m.cols - 60, 60, 50, m.rows - 120)), mean, dev);
    EXPECT_LT(dev[0], 1.0) << "no ridges where the finger is off the glass";
    cv::meanStdDev(m(cv::Rect(20, 60, 80, m.rows - 120)), mean, dev);
    EXPECT_GT(dev[0], 15.0) << "ridges where it still touches";
}

TEST_F(Placement, RandomPlacementsAreRepeatableAndWithinTheirRanges) {
    int lifted = 0, left = 0;
    for (unsigned seed = 0; seed < 300; ++seed) {
        const QXSimImpression a = qxsim_random_impression(seed), b = qxsim_random_impression(seed);
        EXPECT_EQ(a.shift_x, b.shift_x);
        EXPECT_EQ(a.rotation_deg, b.rotation_deg);
        EXPECT_LE(std::fabs(a.shift_x), 40.0);
        EXPECT_LE(std::fabs(a.shift_y), 40.0);
        EXPECT_LE(std::fabs(a.rotation_deg), 15.0);
        EXPECT_GE(a.pressure, 0.7);
        EXPECT_LE(a.pressure, 1.4);
        EXPECT_GE(a.distortion, 0.0);
        EXPECT_LE(a.distortion, 4.0);
        if (a.contact_cut > 0) ++lifted;
        if (a.rotation_deg < 0) ++left;
    }
    EXPECT_GT(lifted, 60);
    EXPECT_LT(lifted, 140);
    EXPECT_GT(left, 100);
    EXPECT_LT(left, 200);
    EXPECT_NE(qxsim_random_impression(1).shift_x, qxsim_random_impression(2).shift_x);
}

TEST_F(Placement, DifferentFingersLookDifferent) {
    const cv::Rect r = centre();
    const cv::Mat a = render(10, nullptr), again = render(10, nullptr);
    EXPECT_EQ(0.0, cv::norm(a, again, cv::NORM_INF));
    for (int other = 11; other < 15; ++other) EXPECT_LT(correlation(a(r), render(other, nullptr)(r)), 0.4) << other;
}

TEST_F(Placement, PluginAcceptsVariedPlacements) {
    // The quality gate of the capture passes for placements across the ranges.
    for (unsigned seed = 0; seed < 8; ++seed) {
        const Bytes img = sensor_->capture(12, qxsim_random_impression(seed), 75);
        EXPECT_EQ(static_cast<size_t>(sensor_->width() * sensor_->height()), img.size()) << "placement " << seed;
    }
    // The captured image follows the placement: turned impressions differ.
    const Bytes a = sensor_->capture(12, placed(0, 0, 0)), b = sensor_->capture(12, placed(0, 0, 15));
    ASSERT_EQ(a.size(), b.size());
    const cv::Mat ma(sensor_->height(), sensor_->width(), CV_8U, const_cast<unsigned char *>(a.data()));
    const cv::Mat mb(sensor_->height(), sensor_->width(), CV_8U, const_cast<unsigned char *>(b.data()));
    EXPECT_LT(correlation(ma(centre()), mb(centre())), 0.5);
}
