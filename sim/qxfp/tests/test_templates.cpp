// Templates as bytes: lengths, bounded output buffers, images without a
// finger, and foreign or damaged bytes refused without harm.
#include "qxfp_test_support.h"

#include <cstring>
#include <random>

using namespace qxfp_test;

TEST_F(AlgorithmTest, TemplateLengthIsReportedAndFitsTheBuffer) {
    const Bytes img = image(90, placed(0, 0, 0));
    Bytes t(QXFP_MAX_TEMPLATE, 0xAB);
    const int n = VERIDO_EXTRACT(alg_, const_cast<unsigned char *>(img.data()), t.data(), 0);
    ASSERT_GT(n, 0);
    EXPECT_LE(n, QXFP_MAX_TEMPLATE);
    EXPECT_EQ(n, VERIDO_TEMPLATELEN(t.data()));
    for (int i = n; i < QXFP_MAX_TEMPLATE; ++i) ASSERT_EQ(0xAB, t[static_cast<size_t>(i)]) << "written past " << n;
    // Both extraction entry points give the same template for the handle's size.
    Bytes u(QXFP_MAX_TEMPLATE);
    EXPECT_EQ(n, VERIDO_EXTRACT_GRAYSCALEDATA(alg_, const_cast<unsigned char *>(img.data()), sensor_->width(),
                                              sensor_->height(), u.data(), QXFP_MAX_TEMPLATE, 0));
    EXPECT_EQ(0, std::memcmp(t.data(), u.data(), static_cast<size_t>(n)));
    EXPECT_GE(pVERIDO_GETLASTQUALITY(alg_), 50);
    EXPECT_LE(pVERIDO_GETLASTQUALITY(alg_), 100);

    const Bytes e = enrolFinger(90);
    ASSERT_FALSE(e.empty());
    EXPECT_LE(e.size(), static_cast<size_t>(QXFP_MAX_TEMPLATE));
    Bytes ec = e;
    ec.resize(QXFP_MAX_TEMPLATE);
    EXPECT_EQ(static_cast<int>(e.size()), VERIDO_TEMPLATELEN(ec.data()));
}

TEST_F(AlgorithmTest, OutputBufferSmallerThanTheTemplateIsRefused) {
    Bytes img = image(91, placed(0, 0, 0));
    Bytes t(QXFP_MAX_TEMPLATE);
    const int n = VERIDO_EXTRACT_GRAYSCALEDATA(alg_, img.data(), sensor_->width(), sensor_->height(), t.data(),
                                               QXFP_MAX_TEMPLATE, 0);
    ASSERT_GT(n, 0);
    Bytes small(static_cast<size_t>(n - 1), 0xCD);
    EXPECT_EQ(QXFP_ERR_CAPACITY, VERIDO_EXTRACT_GRAYSCALEDATA(alg_, img.data(), sensor_->width(), sensor_->height(),
                                                              small.data(), n - 1, 0));
    for (unsigned char v : small) ASSERT_EQ(0xCD, v) << "nothing written into a buffer that is too small";
    Bytes exact(static_cast<size_t>(n));
    EXPECT_EQ(n, VERIDO_EXTRACT_GRAYSCALEDATA(alg_, img.data(), sensor_->width(), sensor_->height(), exact.data(), n,
                                              0));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_EXTRACT_GRAYSCALEDATA(alg_, img.data(), sensor_->width(), sensor_->height(),
                                                              t.data(), 0, 0));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_EXTRACT_GRAYSCALEDATA(alg_, nullptr, sensor_->width(), sensor_->height(),
                                                              t.data(), QXFP_MAX_TEMPLATE, 0));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_EXTRACT_GRAYSCALEDATA(alg_, img.data(), sensor_->width(), sensor_->height(),
                                                              nullptr, QXFP_MAX_TEMPLATE, 0));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_EXTRACT_GRAYSCALEDATA(alg_, img.data(), 0, sensor_->height(), t.data(),
                                                              QXFP_MAX_TEMPLATE, 0));
}

TEST_F(AlgorithmTest, ImagesWithoutAFingerGiveNoTemplate) {
    const int w = sensor_->width(), h = sensor_->height();
    Bytes t(QXFP_MAX_TEMPLATE);
    Bytes blank(static_cast<size_t>(w * h), 200);
    EXPECT_LE(VERIDO_EXTRACT(alg_, blank.data(), t.data(), 0), 0);
    EXPECT_LE(pVERIDO_GETLASTQUALITY(alg_), 10);
    std::mt19937 rng(3);
    Bytes noise(static_cast<size_t>(w * h));
    for (auto &v : noise) v = static_cast<unsigned char>(rng() & 0xFF);
    EXPECT_LE(VERIDO_EXTRACT(alg_, noise.data(), t.data(), 0), 0);
    // The empty sensor window as the plug-in delivers it with the finger lifted.
    QXSimFinger none = qxsim_default_finger();
    none.present = 1;
    none.contrast = 0;
    qxsim_set_finger(sensor_->device(), &none);
    Bytes window(static_cast<size_t>(w * h));
    qxsim_render_upright(sensor_->device(), w, h, window.data());
    EXPECT_LE(VERIDO_EXTRACT(alg_, window.data(), t.data(), 0), 0);
}

TEST_F(AlgorithmTest, InvalidSizesGiveNoHandle) {
    EXPECT_EQ(nullptr, VERIDO_INIT_SIMPLE(0, 0, 360, 0));
    EXPECT_EQ(nullptr, VERIDO_INIT_SIMPLE(0, 256, -1, 0));
    EXPECT_EQ(nullptr, VERIDO_INIT_SIMPLE(0, 100000, 360, 0));
    void *h = VERIDO_INIT_SIMPLE(0, 256, 360, 0);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, pVERIDO_GETLASTQUALITY(h)) << "nothing extracted yet";
    EXPECT_EQ(0, VERIDO_CLOSE(h));
}

TEST_F(AlgorithmTest, ForeignAndDamagedBytesAreRefusedEverywhere) {
    Bytes good = probe(92, placed(0, 0, 0));
    const int n = static_cast<int>(good.size());
    good.resize(QXFP_MAX_TEMPLATE);
    Bytes enrolled = enrolFinger(92);
    enrolled.resize(QXFP_MAX_TEMPLATE);
    int id = 0, score = 0;
    ASSERT_EQ(1, VERIDO_DB_ADD(alg_, 1, static_cast<int>(VERIDO_TEMPLATELEN(enrolled.data())), enrolled.data()));

    auto refusedEverywhere = [&](Bytes bad, const std::string &what) {
        bad.resize(QXFP_MAX_TEMPLATE);
        EXPECT_LT(VERIDO_TEMPLATELEN(bad.data()), 0) << what;
        EXPECT_LT(VERIDO_VERIFY(alg_, bad.data(), good.data()), 0) << what;
        EXPECT_LT(VERIDO_VERIFY(alg_, good.data(), bad.data()), 0) << what;
        EXPECT_LT(VERIDO_IDENTIFYTEMP(alg_, bad.data(), &id, &score), 0) << what;
        EXPECT_LT(VERIDO_DB_ADD(alg_, 2, n, bad.data()), 0) << what;
        unsigned char *three[3] = {good.data(), bad.data(), good.data()};
        Bytes out(QXFP_MAX_TEMPLATE);
        EXPECT_LT(VERIDO_GENTEMPLATE(alg_, three, 3, out.data()), 0) << what;
    };

    // Every single flipped byte of a real template is noticed.
    for (int i = 0; i < n; ++i) {
        Bytes bad(good.begin(), good.begin() + n);
        bad[static_cast<size_t>(i)] ^= 0x5A;
        ASSERT_LT(VERIDO_TEMPLATELEN(bad.data()), 0) << "byte " << i;
    }
    Bytes flipped(good.begin(), good.begin() + n);
    flipped[static_cast<size_t>(n / 2)] ^= 0x01;
    refusedEverywhere(flipped, "one bit flipped");
    refusedEverywhere(Bytes(QXFP_MAX_TEMPLATE, 0), "zeros");
    refusedEverywhere(Bytes(QXFP_MAX_TEMPLATE, 0xFF), "0xFF");
    // A header that claims more than the largest template.
    Bytes longer(good.begin(), good.begin() + n);
    longer[6] = 0xFF;
    longer[7] = 0x7F;
    refusedEverywhere(longer, "claimed length 32767");
    std::mt19937 rng(11);
    for (int k = 0; k < 200; ++k) {
        Bytes random(QXFP_MAX_TEMPLATE);
        for (auto &v : random) v = static_cast<unsigned char>(rng() & 0xFF);
        // Half of them with a real header in front, so the body is parsed.
        if (k % 2) std::memcpy(random.data(), good.data(), 16);
        refusedEverywhere(random, "random bytes " + std::to_string(k));
    }
    EXPECT_EQ(1, VERIDO_DB_COUNT(alg_)) << "nothing foreign was added";
    EXPECT_LT(VERIDO_TEMPLATELEN(nullptr), 0);
    EXPECT_LT(VERIDO_VERIFY(alg_, nullptr, good.data()), 0);
    EXPECT_LT(VERIDO_IDENTIFYTEMP(alg_, good.data(), nullptr, &score), 0);
    EXPECT_LT(VERIDO_GENTEMPLATE(alg_, nullptr, 3, good.data()), 0);
    unsigned char *four[4] = {good.data(), good.data(), good.data(), good.data()};
    Bytes out(QXFP_MAX_TEMPLATE);
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_GENTEMPLATE(alg_, four, 4, out.data()));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_GENTEMPLATE(alg_, four, 0, out.data()));
    // An enrolment template is not an impression to enrol from.
    unsigned char *withEnrolled[3] = {good.data(), enrolled.data(), good.data()};
    EXPECT_EQ(QXFP_ERR_TEMPLATE, VERIDO_GENTEMPLATE(alg_, withEnrolled, 3, out.data()));
}
