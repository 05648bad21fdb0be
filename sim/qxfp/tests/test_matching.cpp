// Matching seen from outside: impressions of one finger captured through the
// plug-in with different placements score 50 or more, different fingers less.
#include "qxfp_test_support.h"

using namespace qxfp_test;

TEST_F(AlgorithmTest, SameFingerMovedTurnedAndPressedDifferentlyIsAccepted) {
    for (int finger : {3, 4}) {
        const Bytes reference = probe(finger, placed(0, 0, 0));
        ASSERT_FALSE(reference.empty());
        const QXSimImpression placements[] = {
            placed(40, -40, 15), placed(-40, 40, -15), placed(25, 30, -10, 0.75), placed(-30, -20, 12, 1.35),
            placed(0, 40, 0), placed(-40, 0, 8)};
        for (const QXSimImpression &p : placements) {
            const Bytes other = probe(finger, p);
            ASSERT_FALSE(other.empty());
            EXPECT_GE(verify(reference, other), 50)
                << "finger " << finger << " shift " << p.shift_x << "," << p.shift_y << " rotation " << p.rotation_deg;
        }
    }
}

TEST_F(AlgorithmTest, PartlyLiftedFingerIsStillAccepted) {
    const Bytes reference = probe(6, placed(0, 0, 0));
    for (double angle : {0.0, 90.0, 200.0}) {
        QXSimImpression p = placed(10, -10, 5);
        p.contact_cut = 0.25;
        p.cut_angle_deg = angle;
        EXPECT_GE(verify(reference, probe(6, p)), 50) << "lifted towards " << angle;
    }
}

TEST_F(AlgorithmTest, DifferentFingersAreRejected) {
    std::vector<Bytes> templates;
    for (int finger = 20; finger < 26; ++finger) {
        templates.push_back(probe(finger, placed(0, 0, 0)));
        templates.push_back(probe(finger, qxsim_random_impression(static_cast<unsigned>(finger))));
    }
    for (size_t i = 0; i < templates.size(); ++i)
        for (size_t j = i + 1; j < templates.size(); ++j) {
            if (i / 2 == j / 2) continue;  // same finger
            const int s = verify(templates[i], templates[j]);
            EXPECT_GE(s, 0);
            EXPECT_LT(s, 50) << "fingers " << 20 + i / 2 << " and " << 20 + j / 2;
        }
}

TEST_F(AlgorithmTest, EnrolmentFromThreePressesMatchesLaterRandomPlacements) {
    for (int finger : {30, 31}) {
        const Bytes enrolled = enrolFinger(finger);
        ASSERT_FALSE(enrolled.empty());
        for (unsigned seed = 0; seed < 4; ++seed) {
            const Bytes later = probe(finger, qxsim_random_impression(100 * finger + seed), 80 + 10 * seed);
            EXPECT_GE(verify(later, enrolled), 50) << "finger " << finger << " placement " << seed;
            EXPECT_GE(verify(enrolled, later), 50) << "either order";
        }
        const Bytes stranger = probe(finger + 10, qxsim_random_impression(7));
        EXPECT_LT(verify(stranger, enrolled), 50);
    }
}

TEST_F(AlgorithmTest, FaintLightlyPressedFingerStillMatchesItsEnrolment) {
    const Bytes enrolled = enrolFinger(40);
    EXPECT_GE(verify(probe(40, placed(12, 20, -9, 0.7), 70), enrolled), 50);
}

TEST_F(AlgorithmTest, ScoresStayWithinZeroToHundred) {
    const Bytes a = probe(50, placed(0, 0, 0));
    EXPECT_GE(verify(a, a), 90) << "a template against itself";
    const Bytes b = probe(51, placed(0, 0, 0));
    const int s = verify(a, b);
    EXPECT_GE(s, 0);
    EXPECT_LE(s, 100);
}

TEST_F(AlgorithmTest, EnrolmentRefusesPressesOfDifferentFingers) {
    const Bytes a = probe(45, placed(0, 0, 0)), b = probe(45, placed(10, 5, 4)), other = probe(46, placed(0, 0, 0));
    Bytes ca = a, cb = b, co = other;
    ca.resize(QXFP_MAX_TEMPLATE);
    cb.resize(QXFP_MAX_TEMPLATE);
    co.resize(QXFP_MAX_TEMPLATE);
    Bytes out(QXFP_MAX_TEMPLATE);
    unsigned char *mixed[3] = {ca.data(), cb.data(), co.data()};
    EXPECT_EQ(QXFP_ERR_MISMATCH, VERIDO_GENTEMPLATE(alg_, mixed, 3, out.data()));
    unsigned char *otherFirst[3] = {co.data(), ca.data(), cb.data()};
    EXPECT_EQ(QXFP_ERR_MISMATCH, VERIDO_GENTEMPLATE(alg_, otherFirst, 3, out.data()));
    unsigned char *same[3] = {ca.data(), cb.data(), ca.data()};
    EXPECT_GT(VERIDO_GENTEMPLATE(alg_, same, 3, out.data()), 0);
    unsigned char *one[1] = {cb.data()};
    EXPECT_GT(VERIDO_GENTEMPLATE(alg_, one, 1, out.data()), 0) << "a single press enrols too";
}

TEST(DeviceProcessingSensor, ImagesCorrectedOnTheSensorMatchToo) {
    qxfp_sim::SimulatedSensor sensor(5, 1);
    ASSERT_TRUE(sensor.ok());
    void *alg = VERIDO_INIT_SIMPLE(0, sensor.width(), sensor.height(), 0);
    ASSERT_NE(nullptr, alg);
    auto templ = [&](int finger, const QXSimImpression &p) {
        Bytes img = sensor.capture(finger, p);
        Bytes t(QXFP_MAX_TEMPLATE);
        EXPECT_FALSE(img.empty());
        if (img.empty()) return t;
        EXPECT_GT(VERIDO_EXTRACT(alg, img.data(), t.data(), 0), 0);
        return t;
    };
    Bytes a = templ(47, placed(0, 0, 0)), b = templ(47, placed(-25, 20, -9)), c = templ(48, placed(0, 0, 0));
    EXPECT_GE(VERIDO_VERIFY(alg, a.data(), b.data()), 50);
    EXPECT_LT(VERIDO_VERIFY(alg, a.data(), c.data()), 50);
    VERIDO_CLOSE(alg);
}
