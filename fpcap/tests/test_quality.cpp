// Quality scores, histogram helpers and the liveness verdict on synthetic
// 1600 x 1200 frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "correct/correct.h"
#include "quality/antifake.h"
#include "quality/fiq.h"
#include "quality/histogram.h"

namespace {

constexpr int FW = 1600, FH = 1200;

using Frame = std::vector<uint8_t>;

Frame uniform_frame(uint8_t v) { return Frame(size_t(FW) * FH, v); }

// Concentric ridges around a core with a period of about 9 pixels.
Frame ridge_frame(int cx, int cy)
{
    Frame f(size_t(FW) * FH);
    for (int y = 0; y < FH; ++y)
        for (int x = 0; x < FW; ++x) {
            const double r = std::hypot(x - cx, (y - cy) * 1.2);
            f[size_t(y) * FW + x] = uint8_t(128 + 100 * std::sin(r * 2 * M_PI / 9.0));
        }
    return f;
}

struct AntiFake {
    AntiFakeContext *c;
    AntiFake(int x, int y) : c(AntiFake_Init(x, y)) { EXPECT_NE(c, nullptr); }
    ~AntiFake() { AntiFake_Free(c); }
    operator AntiFakeContext *() { return c; }
};

} // namespace

TEST(LineScore, EdgesAndValues)
{
    const int W = 200, H = 100;
    std::vector<uint8_t> img(size_t(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            img[size_t(y) * W + x] = uint8_t(((x / 2) % 2) * 40 + ((y / 2) % 2) * 40);
    // Horizontal: samples at x = 100, 102, ... alternate 0 and 40 (row 0).
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H, 100, 0, 100, 1, 50), 20)
        << "ends exactly at the right edge";
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W - 1, H, 100, 0, 100, 1, 50), 0)
        << "one pixel past the edge";
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H, 0, 0, 100, 0, 50), 20)
        << "vertical, ends exactly at the bottom edge";
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H - 1, 0, 0, 100, 0, 50), 0);
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H, -2, 0, 20, 1, 50), 0);
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H, 0, -1, 20, 0, 50), 0);
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H, 10, H, 20, 1, 50), 0) << "row below image";
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H, 101, 1, 101, 1, 50), 20)
        << "odd start and length round down to even";
    EXPECT_EQ(ComputeFingerImageScore(img.data(), W, H, 100, 0, 100, 1, 7), 7) << "capped";

    // Four samples 10, 20, 30, 40: mean 25, sqrt(500 / 3) = 12.9 -> 12.
    const uint8_t line[8] = {10, 0, 20, 0, 30, 0, 40, 0};
    EXPECT_EQ(ComputeFingerImageScore(line, 8, 1, 0, 0, 8, 1, 50), 12);
}

TEST(MainQuality, UniformFrameScoresZeroSharpFingerPasses)
{
    AntiFake af(674, 468);
    const Frame grey = uniform_frame(128);
    EXPECT_EQ(ComputeMainFIQ(af, grey.data(), FW, FH), 0);
    const Frame finger = ridge_frame(700, 500);
    const int score = ComputeMainFIQ(af, finger.data(), FW, FH);
    EXPECT_GE(score, FIQ_ACCEPT);
    EXPECT_LE(score, 400);
    EXPECT_EQ(ComputeMainFIQ(nullptr, finger.data(), FW, FH), 0);
    EXPECT_EQ(ComputeMainFIQ(af, nullptr, FW, FH), 0);
    AntiFakeContext forged = *af.c;
    forged.magic = 0;
    EXPECT_EQ(ComputeMainFIQ(&forged, finger.data(), FW, FH), 0);
}

TEST(MainQuality, ErasedReferencePointFallsBackToDefault)
{
    // Texture only along the first inner row line from the default point.
    Frame f = uniform_frame(100);
    for (int x = 674 - 140; x < 674 - 140 + 134; ++x)
        f[size_t(468) * FW + x] = uint8_t((x / 2) % 2 ? 160 : 40);
    AntiFake erased(0, 0), atDefault(674, 468), elsewhere(900, 700), tooFar(1201, 299);
    const int expect = ComputeMainFIQ(atDefault, f.data(), FW, FH);
    EXPECT_GT(expect, 0);
    EXPECT_EQ(ComputeMainFIQ(erased, f.data(), FW, FH), expect);
    EXPECT_EQ(ComputeMainFIQ(tooFar, f.data(), FW, FH), expect);
    EXPECT_EQ(ComputeMainFIQ(elsewhere, f.data(), FW, FH), 0);
}

TEST(ArrayStd, Values)
{
    const uint8_t v[4] = {10, 20, 30, 41}; // mean 25 (truncated from 25.25)
    float s = -1;
    ASSERT_EQ(ComputeArrayStd(v, 4, &s), 0);
    EXPECT_NEAR(s, std::sqrt((225 + 25 + 25 + 256) / 3.0), 1e-4);
    EXPECT_NE(ComputeArrayStd(v, 1, &s), 0);
    EXPECT_NE(ComputeArrayStd(nullptr, 4, &s), 0);
}

TEST(PatchQuality, ThroughTheCorrectionMap)
{
    CorrectContext *c = nullptr;
    ASSERT_EQ(correct_init(&c), 0);
    correct_option(c, 0, 3, 1, 0, 0, 0);
    correct_size_origin(c, FW, FH);
    correct_grid(c, 300, 200, 1300, 180, 320, 1000, 1280, 1020);
    ASSERT_EQ(correct_size_target(c, 256, 360), 0);
    int out[4] = {-1, -1, -1, -1};
    const Frame grey = uniform_frame(90);
    EXPECT_EQ(ComputeMainFIQEx(c, grey.data(), FW, FH, 256, 360, out), 0);
    for (int v : out)
        EXPECT_EQ(v, 0);
    const Frame finger = ridge_frame(800, 600);
    const int sum = ComputeMainFIQEx(c, finger.data(), FW, FH, 256, 360, out);
    EXPECT_EQ(sum, out[0] + out[1] + out[2] + out[3]);
    for (int v : out)
        EXPECT_GE(v, 10);

    // The left patch alone textured: only out[0] moves.
    Frame partial = uniform_frame(90);
    for (int y = 360 / 2 - 10; y < 360 / 2 + 10; ++y)
        for (int x = 256 / 4 - 20; x < 256 / 4 + 20; ++x) {
            int rx, ry;
            ASSERT_EQ(correct_get_ori_offset(c, x, y, &rx, &ry), 0);
            partial[size_t(ry) * FW + rx] = uint8_t(((x + y) & 1) ? 150 : 30);
        }
    ComputeMainFIQEx(c, partial.data(), FW, FH, 256, 360, out);
    EXPECT_GT(out[0], 10);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);

    EXPECT_EQ(ComputeMainFIQEx(nullptr, finger.data(), FW, FH, 256, 360, out), -1);
    EXPECT_EQ(ComputeMainFIQEx(c, finger.data(), FW, FH, 40, 40, out), -3)
        << "patches do not fit such a small target";
    correct_free(c);
}

TEST(PatchQuality, ShrinksWithSmallImages)
{
    CorrectContext *c = nullptr;
    ASSERT_EQ(correct_init(&c), 0);
    correct_option(c, 0, 3, 1, 0, 0, 0);
    correct_size_origin(c, FW, FH);
    correct_grid(c, 300, 200, 1300, 180, 320, 1000, 1280, 1020);
    const Frame grey = uniform_frame(90);
    const Frame finger = ridge_frame(800, 600);
    int out[4] = {-1, -1, -1, -1}, full[4] = {-1, -1, -1, -1};

    // From 80 x 80 up the layout is the fixed one.
    ASSERT_EQ(correct_size_target(c, 256, 360), 0);
    EXPECT_EQ(ComputePatchDeviations(c, finger.data(), FW, FH, 256, 360, out),
              ComputeMainFIQEx(c, finger.data(), FW, FH, 256, 360, full));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(out[i], full[i]);

    // The lowest resolution offered (100 dpi of a 256 x 360 sensor) and the
    // smallest image still judged.
    for (const auto &size : {std::make_pair(51, 72), std::make_pair(79, 110), std::make_pair(16, 22)}) {
        const int w = size.first, h = size.second;
        ASSERT_EQ(correct_size_target(c, w, h), 0);
        ASSERT_TRUE(PatchDeviationsFit(w, h)) << w << "x" << h;
        EXPECT_EQ(ComputeMainFIQEx(c, finger.data(), FW, FH, w, h, out), -3);
        EXPECT_EQ(ComputePatchDeviations(c, grey.data(), FW, FH, w, h, out), 0) << w << "x" << h;
        for (int v : out)
            EXPECT_EQ(v, 0);
        const int sum = ComputePatchDeviations(c, finger.data(), FW, FH, w, h, out);
        EXPECT_EQ(sum, out[0] + out[1] + out[2] + out[3]);
        for (int v : out)
            EXPECT_GE(v, 10) << w << "x" << h;
    }

    // 51 x 72: the left patch is the 25 x 12 block at (0, 30), the top one
    // 12 x 25 at (19, 6); texture in the part of the left patch that the top
    // one does not share moves out[0] alone.
    ASSERT_EQ(correct_size_target(c, 51, 72), 0);
    Frame partial = uniform_frame(90);
    for (int y = 30; y < 42; ++y)
        for (int x = 0; x < 19; ++x) {
            int rx, ry;
            ASSERT_EQ(correct_get_ori_offset(c, x, y, &rx, &ry), 0);
            partial[size_t(ry) * FW + rx] = uint8_t(((x + y) & 1) ? 150 : 30);
        }
    ComputePatchDeviations(c, partial.data(), FW, FH, 51, 72, out);
    EXPECT_GT(out[0], 10);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);

    EXPECT_FALSE(PatchDeviationsFit(15, 200)) << "too small to say anything about texture";
    ASSERT_EQ(correct_size_target(c, 15, 200), 0);
    EXPECT_EQ(ComputePatchDeviations(c, finger.data(), FW, FH, 15, 200, out), -3);
    EXPECT_EQ(ComputePatchDeviations(nullptr, finger.data(), FW, FH, 51, 72, out), -1);
    EXPECT_EQ(ComputePatchDeviations(c, nullptr, FW, FH, 51, 72, out), -4);
    correct_free(c);
}

TEST(Histogram, Helpers)
{
    std::vector<uint8_t> img(20 * 10, 50);
    for (int x = 0; x < 20; ++x)
        img[size_t(5) * 20 + x] = 200;
    int hist[256];
    EXPECT_EQ(ComputeHistogram(img.data(), 20, 10, 15, 8, 6, 2, hist), -3) << "past the right edge";
    EXPECT_EQ(ComputeHistogram(img.data(), 20, 10, 0, 9, 5, 2, hist), -3) << "past the bottom";
    ASSERT_EQ(ComputeHistogram(img.data(), 20, 10, 0, 4, 20, 2, hist), 0);
    EXPECT_EQ(hist[50], 20);
    EXPECT_EQ(hist[200], 20);
    float mean = 0;
    ASSERT_EQ(ComputeAverageFromHistogram(hist, &mean), 0);
    EXPECT_FLOAT_EQ(mean, 125.0f);
    int peak = -1;
    ASSERT_EQ(GetPeakFromHistogramWithFilter(hist, 80, &peak), 0);
    EXPECT_EQ(peak, 200) << "bins below the filter are ignored";
    ASSERT_EQ(GetPeakFromHistogramWithFilter(hist, 0, &peak), 0);
    EXPECT_EQ(peak, 50) << "first of equal bins";

    std::vector<uint8_t> ref(100, 128), cur(100, 128), other(100, 60);
    float c = 0;
    ASSERT_EQ(ComputeImageContrast(ref.data(), cur.data(), 10, 10, &c), 0);
    EXPECT_FLOAT_EQ(c, (128 * 128 * 100 >> 8) / 100.0f);
    ASSERT_EQ(ComputeImageContrastEx(ref.data(), cur.data(), other.data(), 10, 10, &c, 6.0f), 0);
    EXPECT_NEAR(c, (long long)(128 * (128 - 10.0) * 100) / 256 / 100.0, 0.01);
    std::vector<uint8_t> dim(100, 5);
    ASSERT_EQ(ComputeImageContrastEx(ref.data(), dim.data(), other.data(), 10, 10, &c, 6.0f), 0);
    EXPECT_EQ(c, 0.0f) << "negative differences do not contribute";
}

TEST(Rotation, BlockCorners)
{
    int g[8];
    ComputeRotatingCoordinate(690, 393, 100, 75, Fake_Block_Angle, g);
    // theta = -10 degrees: cos 0.9848, sin -0.1736
    const int expect[8] = {690, 393, 690 + 98, 393 + 17, 690 - 13, 393 + 73, 690 + 85, 393 + 91};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(g[i], expect[i]) << i;
}

namespace {

// Bayer frame: plane 3 sits at (odd row, even column), plane 1 at (even row,
// odd column). Each test block gets its own plane values by horizontal band
// (the rotated blocks do not share rows).
struct BlockValues {
    uint8_t p3, p1;
};

Frame liveness_frame(int refY, BlockValues a, BlockValues b, BlockValues c)
{
    Frame f(size_t(FW) * FH, 0);
    for (int y = 0; y < FH; ++y) {
        const BlockValues &v = y < refY + 18 ? a : y < refY + 88 ? b : c;
        for (int x = 0; x < FW; ++x) {
            uint8_t p = 0;
            if ((y & 1) && !(x & 1))
                p = v.p3;
            else if (!(y & 1) && (x & 1))
                p = v.p1;
            f[size_t(y) * FW + x] = p;
        }
    }
    return f;
}

uint32_t verdict(AntiFakeContext *af, Frame test, int level = 0)
{
    EXPECT_EQ(AntiFake_SetImage(af, test.data(), FW, FH, 0), 1);
    uint32_t status = 0x5A5A5A5A;
    EXPECT_EQ(AntiFake_GetStatus(af, &status, level), 1);
    return status;
}

} // namespace

TEST(Liveness, VerdictBits)
{
    const int refX = 674, refY = 468;
    AntiFake af(refX, refY);
    Frame reference = liveness_frame(refY, {200, 200}, {200, 200}, {200, 200});
    ASSERT_EQ(AntiFake_SetImage(af, reference.data(), FW, FH, 1), 1);

    struct Case {
        const char *what;
        BlockValues a, b, c;
        int32_t status;
    } cases[] = {
        // cB / cA = 0.5, block C dark against its plane 1: live.
        {"live", {200, 0}, {100, 0}, {10, 120}, -1},
        // cC / cA = 0.75 > D1.
        {"first test fails", {200, 0}, {100, 0}, {150, 0}, -17},
        // cB / cA = 0.025 < D2.
        {"second test fails", {200, 0}, {5, 0}, {10, 120}, -9},
        {"both fail", {200, 0}, {5, 0}, {150, 0}, -25},
        {"no signal in block A", {0, 0}, {100, 0}, {10, 120}, -25},
    };
    for (const Case &k : cases)
        for (int level : {0, 1, 2})
            EXPECT_EQ(int32_t(verdict(af, liveness_frame(refY, k.a, k.b, k.c), level)), k.status)
                << k.what << " level " << level;
}

TEST(Liveness, RefusesBadInput)
{
    AntiFake af(674, 468);
    Frame f = uniform_frame(100);
    EXPECT_EQ(AntiFake_SetImage(af, nullptr, FW, FH, 1), 0);
    EXPECT_EQ(AntiFake_SetImage(af, f.data(), 1280, FH, 1), 0);
    EXPECT_EQ(AntiFake_SetImage(af, f.data(), FW, 1199, 0), 0);
    EXPECT_EQ(AntiFake_SetImage(nullptr, f.data(), FW, FH, 0), 0);
    AntiFakeContext forged = *af.c;
    forged.magic = 0x12121213;
    EXPECT_EQ(AntiFake_SetImage(&forged, f.data(), FW, FH, 0), 0);

    uint32_t status = 77;
    EXPECT_EQ(AntiFake_GetStatus(af, &status, 3), 0);
    EXPECT_EQ(status, 0u) << "level 3 is refused";
    status = 77;
    EXPECT_EQ(AntiFake_GetStatus(af, &status, -1), 0);
    EXPECT_EQ(status, 0u);
    status = 77;
    EXPECT_EQ(AntiFake_GetStatus(&forged, &status, 0), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(LoadParameter(af, 1), 0);
    EXPECT_FLOAT_EQ(af.c->C1, 0.85f);
    EXPECT_EQ(af.c->R1, 1);
    EXPECT_EQ(LoadParameter(af, 3), -3);
}

TEST(Liveness, ReferencePointsNearTheEdgesAreSafe)
{
    // Blocks that leave the frame must not read outside it (checked under ASan).
    for (int ref : {300, 1200}) {
        AntiFake af(ref, ref);
        Frame f = ridge_frame(800, 600);
        EXPECT_EQ(AntiFake_SetImage(af, f.data(), FW, FH, 1), 1);
        EXPECT_EQ(AntiFake_SetImage(af, f.data(), FW, FH, 0), 1);
        uint32_t status = 0;
        EXPECT_EQ(AntiFake_GetStatus(af, &status, 2), 1);
        EXPECT_EQ(ComputeMainFIQ(af, f.data(), FW, FH) >= 0, true);
    }
}
