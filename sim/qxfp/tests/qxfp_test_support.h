// Shared set-up for the algorithm library tests: one simulated sensor opened
// through the plug-in, and an algorithm handle for its image size.
#ifndef QXFP_TEST_SUPPORT_H
#define QXFP_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include "qxfp.h"
#include "sim_capture.h"

#include <memory>
#include <vector>

namespace qxfp_test {

using Bytes = std::vector<unsigned char>;

inline QXSimImpression placed(double dx, double dy, double degrees, double pressure = 1.0) {
    QXSimImpression p = qxsim_identity_impression();
    p.shift_x = dx;
    p.shift_y = dy;
    p.rotation_deg = degrees;
    p.pressure = pressure;
    return p;
}

class AlgorithmTest : public ::testing::Test {
protected:
    void SetUp() override {
        sensor_ = std::make_unique<qxfp_sim::SimulatedSensor>();
        ASSERT_TRUE(sensor_->ok());
        alg_ = VERIDO_INIT_SIMPLE(0, sensor_->width(), sensor_->height(), 0);
        ASSERT_NE(nullptr, alg_);
    }
    void TearDown() override {
        if (alg_) VERIDO_CLOSE(alg_);
        sensor_.reset();
    }

    Bytes image(int finger, const QXSimImpression &p, int contrast = 110) {
        Bytes img = sensor_->capture(finger, p, contrast);
        EXPECT_FALSE(img.empty()) << "no capture of finger " << finger;
        return img;
    }

    // Template of one impression, trimmed to its length.
    Bytes probe(int finger, const QXSimImpression &p, int contrast = 110) {
        Bytes img = image(finger, p, contrast);
        Bytes t(QXFP_MAX_TEMPLATE);
        if (img.empty()) return {};
        const int n = VERIDO_EXTRACT(alg_, img.data(), t.data(), 0);
        EXPECT_GT(n, 0) << "no template of finger " << finger;
        t.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return t;
    }

    Bytes enrol(const Bytes &a, const Bytes &b, const Bytes &c) {
        Bytes ca = a, cb = b, cc = c;
        unsigned char *three[3] = {ca.data(), cb.data(), cc.data()};
        Bytes out(QXFP_MAX_TEMPLATE);
        const int n = VERIDO_GENTEMPLATE(alg_, three, 3, out.data());
        EXPECT_GT(n, 0);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }

    // Enrolment from three varied impressions of a finger.
    Bytes enrolFinger(int finger) {
        return enrol(probe(finger, placed(0, 0, 0)), probe(finger, placed(18, -12, 6, 1.2)),
                     probe(finger, placed(-15, 14, -7, 0.85)));
    }

    int verify(Bytes a, Bytes b) {
        a.resize(QXFP_MAX_TEMPLATE);
        b.resize(QXFP_MAX_TEMPLATE);
        return VERIDO_VERIFY(alg_, a.data(), b.data());
    }

    std::unique_ptr<qxfp_sim::SimulatedSensor> sensor_;
    void *alg_ = nullptr;
};

}  // namespace qxfp_test

#endif
