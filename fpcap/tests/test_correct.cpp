// Geometry correction: setters, map rebuild, resampling, flips, background,
// flat-field, pre-filters, the three-plane variant and offset queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "correct/correct.h"

namespace {

struct Ctx {
    CorrectContext *c = nullptr;
    Ctx() { EXPECT_EQ(correct_init(&c), 0); }
    ~Ctx() { correct_free(c); }
    CorrectContext *operator->() { return c; }
    operator CorrectContext *() { return c; }
};

struct Geometry {
    int originW = 64, originH = 48;
    int grid[8] = {0, 0, 63, 0, 0, 47, 63, 47};
    int targetW = 64, targetH = 48;
    int quality = CORRECT_NEAREST;
    int uniform = 0, filter = 0, invert = 0, swap = 0, flipA = 0, flipB = 0;
};

void configure(CorrectContext *c, const Geometry &s)
{
    ASSERT_EQ(correct_quality(c, s.quality), s.quality == 0 ? 0 : -3); // no target yet
    correct_option(c, s.uniform, s.filter, s.invert, s.swap, s.flipA, s.flipB);
    correct_size_origin(c, s.originW, s.originH);
    correct_grid(c, s.grid[0], s.grid[1], s.grid[2], s.grid[3], s.grid[4], s.grid[5], s.grid[6],
                 s.grid[7]);
    ASSERT_EQ(correct_size_target(c, s.targetW, s.targetH), 0);
}

std::vector<uint8_t> pattern(int w, int h)
{
    std::vector<uint8_t> img(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[size_t(y) * w + x] = uint8_t((x * 7 + y * 13 + (x * y) % 11) & 0xFF);
    return img;
}

// Smooth content so that fixed-point fractions and truncations stay small.
std::vector<uint8_t> smooth_pattern(int w, int h)
{
    std::vector<uint8_t> img(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[size_t(y) * w + x] =
                uint8_t(128 + 90 * std::sin(x * 0.11) * std::cos(y * 0.07 + 0.3));
    return img;
}

std::vector<uint8_t> run(CorrectContext *c, std::vector<uint8_t> raw)
{
    int w = 0, h = 0;
    correct_output_size(c, &w, &h);
    std::vector<uint8_t> out(size_t(w) * h, 0xEE);
    EXPECT_EQ(correct_image(c, raw.data(), out.data()), 0);
    return out;
}

bool in_corner(int x, int y) { return x < 5 && y < 5; }

} // namespace

TEST(CorrectSetters, RejectInvalidValuesAndKeepContext)
{
    Ctx c;
    Geometry s;
    configure(c, s);
    struct Case {
        const char *what;
        int rc;
    } cases[] = {
        {"quality 3", correct_quality(c, 3)},
        {"quality -1", correct_quality(c, -1)},
        {"linear 64", correct_linear(c, 64)},
        {"linear -65", correct_linear(c, -65)},
        {"cut_in x >= w", correct_cut_in(c, 5, 0, 5, 10)},
        {"cut_in negative", correct_cut_in(c, -1, 0, 100, 100)},
        {"cut_in zero size", correct_cut_in(c, 0, 0, 0, 10)},
        {"origin zero", correct_size_origin(c, 0, 10)},
        {"grid negative", correct_grid(c, -1, 0, 63, 0, 0, 47, 63, 47)},
        {"grid x1 past origin", correct_grid(c, 0, 0, 65, 0, 0, 47, 63, 47)},
        {"grid y3 past origin", correct_grid(c, 0, 0, 63, 0, 0, 47, 63, 49)},
        {"target zero", correct_size_target(c, 10, 0)},
        {"cut_out y >= h", correct_cut_out(c, 0, 4, 10, 4)},
        {"cut_out past target", correct_cut_out(c, 10, 10, 60, 20)},
        {"invert 2", correct_option(c, 0, 0, 2, 0, 0, 0)},
        {"swap -1", correct_option(c, 0, 0, 0, -1, 0, 0)},
        {"flipA 2", correct_option(c, 0, 0, 0, 0, 2, 0)},
        {"flipB 5", correct_option(c, 0, 0, 0, 0, 0, 5)},
    };
    for (const Case &k : cases)
        EXPECT_EQ(k.rc, -3) << k.what;
    EXPECT_EQ(c->qualityType, 0);
    EXPECT_EQ(c->linear, 0);
    EXPECT_EQ(c->originW, 64);
    EXPECT_EQ(c->grid[2], 63);
    EXPECT_EQ(c->targetW, 64);
    EXPECT_EQ(c->cutW, 0);
    EXPECT_EQ(c->invert, 0);

    EXPECT_EQ(correct_linear(c, 63), 0);
    EXPECT_EQ(correct_linear(c, -64), 0);
    EXPECT_EQ(correct_option(c, 7, 9, 1, 1, 1, 1), 0) << "filterMode and uniform are not range-checked";
}

TEST(CorrectSetters, MissingContextAndBuffers)
{
    EXPECT_EQ(correct_init(nullptr), -1);
    EXPECT_EQ(correct_quality(nullptr, 0), -1);
    EXPECT_EQ(correct_linear(nullptr, 0), -1);
    EXPECT_EQ(correct_grid(nullptr, 0, 0, 0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(correct_image(nullptr, nullptr, nullptr), -1);
    int rx, ry;
    EXPECT_EQ(correct_get_ori_offset(nullptr, 0, 0, &rx, &ry), -1);

    Ctx c;
    configure(c, Geometry{});
    uint8_t b[4];
    EXPECT_EQ(correct_image(c, nullptr, b), -4);
    EXPECT_EQ(correct_image(c, b, nullptr), -4);
    EXPECT_EQ(correct_image_to_rgb(c, b, b, nullptr, b), -4);
}

TEST(CorrectSetters, NothingBuiltWithoutTarget)
{
    Ctx c;
    EXPECT_EQ(correct_size_origin(c, 64, 48), -3) << "rebuild needs a target size";
    EXPECT_EQ(c->originW, 64) << "the value is kept for the later rebuild";
    std::vector<uint8_t> raw(64 * 48), out(64 * 48);
    EXPECT_EQ(correct_image(c, raw.data(), out.data()), -3);
    EXPECT_EQ(correct_size_target(c, 32, 24), 0);
    EXPECT_EQ(correct_image(c, raw.data(), out.data()), 0);
}

TEST(CorrectSetters, RebuildOnlyWhenAValueChanges)
{
    Ctx c;
    configure(c, Geometry{});
    // A marker in the map survives unless the map is rebuilt.
    auto mark = [&] { c->offsetMap[0] = -12345; };
    auto rebuilt = [&] { return c->offsetMap[0] != -12345; };

    mark();
    EXPECT_EQ(correct_quality(c, 2), 0);
    EXPECT_TRUE(rebuilt());
    mark();
    EXPECT_EQ(correct_quality(c, 2), 0);
    EXPECT_FALSE(rebuilt()) << "same quality again must not rebuild";

    struct Step {
        const char *what;
        int (*apply)(CorrectContext *);
    } steps[] = {
        {"target", [](CorrectContext *k) { return correct_size_target(k, 64, 48); }},
        {"origin", [](CorrectContext *k) { return correct_size_origin(k, 64, 48); }},
        {"grid", [](CorrectContext *k) { return correct_grid(k, 0, 0, 63, 0, 0, 47, 63, 47); }},
        {"perspective", [](CorrectContext *k) { return correct_perspective(k, 0, 0, 0, 0); }},
        {"option", [](CorrectContext *k) { return correct_option(k, 0, 0, 0, 0, 0, 0); }},
        {"linear", [](CorrectContext *k) { return correct_linear(k, 0); }},
    };
    for (const Step &st : steps) {
        mark();
        EXPECT_EQ(st.apply(c), 0) << st.what;
        EXPECT_FALSE(rebuilt()) << st.what;
    }
    mark();
    EXPECT_EQ(correct_perspective(c, 2, 0, 0, 0), 0);
    EXPECT_TRUE(rebuilt());
    mark();
    EXPECT_EQ(correct_arc(c, 1, 2, 3, 4), 0);
    EXPECT_FALSE(rebuilt()) << "arc values do not change the map";
    mark();
    EXPECT_EQ(correct_cut_out(c, 0, 0, 10, 10), 0);
    EXPECT_FALSE(rebuilt()) << "the cut-out is stored without rebuilding";
}

TEST(CorrectNearest, IdentityGridGivesScaledCopy)
{
    const int W = 80, H = 60;
    const auto raw = pattern(W, H);
    for (int tw : {80, 40, 27}) {
        const int th = tw * 3 / 4;
        Ctx c;
        Geometry s;
        s.originW = W;
        s.originH = H;
        int g[8] = {0, 0, W - 1, 0, 0, H - 1, W - 1, H - 1};
        std::copy(g, g + 8, s.grid);
        s.targetW = tw;
        s.targetH = th;
        configure(c, s);
        const auto out = run(c, raw);
        for (int y = 0; y < th; ++y) {
            for (int x = 0; x < tw; ++x) {
                const double X = double(x) * (W - 1) / (tw - 1);
                const double Y = double(y) * (H - 1) / (th - 1);
                // Tolerate single-precision profiles landing just below an integer.
                const int X0 = int(X + 1e-4), Y0 = int(Y + 1e-4);
                const uint8_t expect = in_corner(X0, Y0) ? 10 : raw[size_t(Y0) * W + X0];
                ASSERT_EQ(out[size_t(y) * tw + x], expect) << tw << " at " << x << "," << y;
            }
        }
    }
}

namespace {

// Independent reference: the point a target pixel maps to, in double precision.
void reference_point(const Geometry &s, int x, int y, double &X, double &Y)
{
    const double fl = double(y) / (s.targetH - 1), u = double(x) / (s.targetW - 1);
    const double lx = s.grid[0] + (s.grid[4] - s.grid[0]) * fl;
    const double ly = s.grid[1] + (s.grid[5] - s.grid[1]) * fl;
    const double rx = s.grid[2] + (s.grid[6] - s.grid[2]) * fl;
    const double ry = s.grid[3] + (s.grid[7] - s.grid[3]) * fl;
    X = lx + (rx - lx) * u;
    Y = ly + (ry - ly) * u;
}

double kernel(double s)
{
    const double a = std::fabs(s);
    if (a <= 1)
        return 1.25 * a * a * a - 2.25 * a * a + 1;
    if (a <= 2)
        return -0.75 * a * a * a + 3.75 * a * a - 6 * a + 3;
    return 0;
}

double reference_sample(const std::vector<uint8_t> &raw, int W, double X, double Y, int quality)
{
    const int X0 = int(X), Y0 = int(Y);
    const double fx = X - X0, fy = Y - Y0;
    auto at = [&](int xx, int yy) { return double(raw[size_t(yy) * W + xx]); };
    if (quality == CORRECT_BILINEAR) {
        const double top = at(X0, Y0) + (at(X0 + 1, Y0) - at(X0, Y0)) * fx;
        const double bottom = at(X0, Y0 + 1) + (at(X0 + 1, Y0 + 1) - at(X0, Y0 + 1)) * fx;
        return top + (bottom - top) * fy;
    }
    double sum = 0;
    for (int j = -1; j <= 2; ++j)
        for (int i = -1; i <= 2; ++i)
            sum += at(X0 + i, Y0 + j) * kernel(i - fx) * kernel(j - fy);
    return std::min(255.0, std::max(0.0, sum));
}

} // namespace

TEST(CorrectInterpolation, MatchesDoublePrecisionReference)
{
    const int W = 160, H = 120;
    const auto raw = smooth_pattern(W, H);
    for (int quality : {CORRECT_BILINEAR, CORRECT_BICUBIC}) {
        Ctx c;
        Geometry s;
        s.originW = W;
        s.originH = H;
        int g[8] = {12, 9, 150, 14, 7, 110, 141, 104}; // a skewed quadrilateral
        std::copy(g, g + 8, s.grid);
        s.targetW = 97;
        s.targetH = 83;
        s.quality = quality;
        configure(c, s);
        const auto out = run(c, raw);
        double worst = 0;
        for (int y = 0; y < s.targetH; ++y) {
            for (int x = 0; x < s.targetW; ++x) {
                double X, Y;
                reference_point(s, x, y, X, Y);
                const double ref = reference_sample(raw, W, X, Y, quality);
                worst = std::max(worst, std::fabs(out[size_t(y) * s.targetW + x] - ref));
            }
        }
        EXPECT_LE(worst, 1.0) << "quality " << quality;
    }
}

TEST(CorrectBackground, UnmappedPointsAreBackground)
{
    for (int quality : {0, 1, 2}) {
        for (int invert : {0, 1}) {
            Ctx c;
            Geometry s;
            s.grid[3] = 400; // top-right corner far below the raw region
            s.quality = quality;
            s.invert = invert;
            configure(c, s);
            std::vector<uint8_t> raw(64 * 48, 200);
            const auto out = run(c, raw);
            const uint8_t bg = invert ? 245 : 10;
            EXPECT_EQ(out[63], bg) << quality << "/" << invert; // top-right pixel
            EXPECT_EQ(out[47 * 64], invert ? 55 : 200) << quality << "/" << invert; // bottom-left
        }
    }
}

TEST(CorrectBackground, HostileGeometryStaysInsideTheFrame)
{
    // Corners on the very edge, extreme angles and a tiny raw region: every
    // sample must still come from inside the raw buffer (checked under ASan).
    for (int quality : {0, 1, 2}) {
        for (int angle : {0, 89, 179, -300}) {
            Ctx c;
            Geometry s;
            s.originW = 6;
            s.originH = 5;
            int g[8] = {0, 0, 6, 0, 900, 5, 6, 5};
            std::copy(g, g + 8, s.grid);
            s.targetW = 33;
            s.targetH = 17;
            s.quality = quality;
            configure(c, s);
            correct_perspective(c, angle, -angle, angle, angle / 2);
            std::vector<uint8_t> raw(6 * 5, 77);
            run(c, raw);
        }
    }
}

TEST(CorrectLayout, FlipsAndSwap)
{
    const int W = 8, H = 6;
    const auto raw = pattern(W, H);
    auto make = [&](int swap, int flipA, int flipB, int &ow, int &oh) {
        Ctx c;
        Geometry s;
        s.originW = W;
        s.originH = H;
        int g[8] = {0, 0, W - 1, 0, 0, H - 1, W - 1, H - 1};
        std::copy(g, g + 8, s.grid);
        s.targetW = W;
        s.targetH = H;
        s.swap = swap;
        s.flipA = flipA;
        s.flipB = flipB;
        configure(c, s);
        correct_output_size(c, &ow, &oh);
        return run(c, raw);
    };
    auto rawAt = [&](int x, int y) { return in_corner(x, y) ? 10 : raw[size_t(y) * W + x]; };
    struct Case {
        int swap, flipA, flipB;
        // output (ox, oy) shows raw (fx(ox, oy), fy(ox, oy))
        int (*srcX)(int, int);
        int (*srcY)(int, int);
    } cases[] = {
        {0, 0, 0, [](int x, int) { return x; }, [](int, int y) { return y; }},
        {0, 1, 0, [](int x, int) { return 7 - x; }, [](int, int y) { return y; }},
        {0, 0, 1, [](int x, int) { return x; }, [](int, int y) { return 5 - y; }},
        {1, 0, 0, [](int, int y) { return y; }, [](int x, int) { return 5 - x; }},
        {1, 1, 0, [](int, int y) { return y; }, [](int x, int) { return x; }},
        {1, 1, 1, [](int, int y) { return 7 - y; }, [](int x, int) { return x; }},
    };
    for (const Case &k : cases) {
        int ow = 0, oh = 0;
        const auto out = make(k.swap, k.flipA, k.flipB, ow, oh);
        ASSERT_EQ(ow, k.swap ? H : W);
        ASSERT_EQ(oh, k.swap ? W : H);
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x)
                ASSERT_EQ(out[size_t(y) * ow + x], rawAt(k.srcX(x, y), k.srcY(x, y)))
                    << k.swap << k.flipA << k.flipB << " at " << x << "," << y;
    }
}

TEST(CorrectLayout, CutOutAndOriginOffsets)
{
    Ctx c;
    Geometry s;
    configure(c, s);
    ASSERT_EQ(correct_cut_out(c, 10, 8, 20, 12), 0);
    int w = 0, h = 0;
    EXPECT_EQ(correct_output_size(c, &w, &h), 240);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 12);
    const auto raw = pattern(64, 48);
    const auto out = run(c, raw);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 20; ++x) {
            int rx = -1, ry = -1;
            ASSERT_EQ(correct_get_ori_offset(c, x, y, &rx, &ry), 0);
            EXPECT_EQ(rx, x + 10);
            EXPECT_EQ(ry, y + 8);
            EXPECT_EQ(out[size_t(y) * 20 + x], raw[size_t(ry) * 64 + rx]);
        }
    }
    int rx, ry;
    EXPECT_EQ(correct_get_ori_offset(c, 54, 0, &rx, &ry), -3) << "outside the map";
    // A target shrunk after the cut-out: the window no longer fits.
    ASSERT_EQ(correct_size_target(c, 16, 16), 0);
    std::vector<uint8_t> r2 = raw, o2(240);
    EXPECT_EQ(correct_image(c, r2.data(), o2.data()), -3);
}

TEST(CorrectLayout, OriginWindowInsideALargerFrame)
{
    const int FW = 100, FH = 80, X = 30, Y = 20, W = 40, H = 30;
    Ctx c;
    ASSERT_EQ(correct_cut_in(c, X, Y, FW, FH), -3) << "nothing to build yet";
    EXPECT_EQ(correct_size_origin(c, FW - X + 1, H), -3) << "origin must fit the frame";
    Geometry s;
    s.originW = W;
    s.originH = H;
    int g[8] = {0, 0, W - 1, 0, 0, H - 1, W - 1, H - 1};
    std::copy(g, g + 8, s.grid);
    s.targetW = W;
    s.targetH = H;
    configure(c, s);
    EXPECT_EQ(correct_input_size(c), FW * FH);
    const auto frame = pattern(FW, FH);
    const auto out = run(c, frame);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(out[size_t(y) * W + x], frame[size_t(y + Y) * FW + x + X]);
    int rx, ry;
    ASSERT_EQ(correct_get_ori_offset(c, 3, 4, &rx, &ry), 0);
    EXPECT_EQ(rx, X + 3);
    EXPECT_EQ(ry, Y + 4);
}

TEST(CorrectInput, FlatFieldToneAndBayerParity)
{
    const int W = 64, H = 48, N = W * H;
    std::vector<uint8_t> dark(N, 20), bright(N, 200), zero(N, 0);
    struct Case {
        const char *what;
        const uint8_t *dark, *bright;
        uint8_t p, expect;
    } cases[] = {
        {"both", dark.data(), bright.data(), 110, uint8_t((110 - 20) * 235 / 180)},
        {"both below dark", dark.data(), bright.data(), 5, 0},
        {"both, dark >= bright", bright.data(), dark.data(), 110, 0},
        {"dark only", dark.data(), nullptr, 110, uint8_t((110 - 20) * 235 / 225)},
        {"bright only", nullptr, bright.data(), 150, uint8_t(150 * 245 / 200)},
        {"bright only saturates", nullptr, bright.data(), 250, 255},
        {"bright zero", nullptr, zero.data(), 150, 0},
    };
    for (const Case &k : cases) {
        Ctx c;
        Geometry s;
        s.uniform = 1;
        configure(c, s);
        correct_uniform(c, k.dark, k.bright);
        const auto out = run(c, std::vector<uint8_t>(N, k.p));
        EXPECT_EQ(out[20 * W + 30], k.expect) << k.what;
    }
    {
        Ctx c;
        configure(c, Geometry{});
        correct_uniform(c, dark.data(), bright.data());
        EXPECT_EQ(run(c, std::vector<uint8_t>(N, 110))[20 * W + 30], 110) << "uniform off";
    }
    {
        Ctx c;
        configure(c, Geometry{});
        ASSERT_EQ(correct_linear(c, 40), 0);
        const int expect = int(128 + std::sin(128 * 3.14 / 255) * 40);
        EXPECT_EQ(run(c, std::vector<uint8_t>(N, 128))[20 * W + 30], expect);
    }
    {
        Ctx c;
        Geometry s;
        s.filter = 3;
        int g[8] = {3, 2, 60, 7, 1, 45, 62, 40};
        std::copy(g, g + 8, s.grid);
        s.targetW = 37;
        s.targetH = 29;
        configure(c, s);
        for (int y = 0; y < 29; ++y)
            for (int x = 0; x < 37; ++x) {
                int rx, ry;
                ASSERT_EQ(correct_get_ori_offset(c, x, y, &rx, &ry), 0);
                ASSERT_EQ(rx & 1, ry & 1) << x << "," << y;
            }
    }
}

TEST(CorrectInput, FlatFieldWithABrightDarkReferenceNeverDividesByZero)
{
    // A dark reference at or above the white level (245) leaves no range to
    // stretch: those pixels become 0 instead of dividing by zero (245) or
    // flipping the scale (246..254). Both the grey and the plane variant.
    const int W = 64, H = 48, N = W * H;
    for (int d = 240; d <= 255; ++d) {
        std::vector<uint8_t> dark(N, uint8_t(d));
        for (int p : {0, 100, 245, 250, 255}) {
            const int expect =
                d >= 245 ? 0 : std::min(255, std::max(0, (p - d) * 235 / (245 - d)));
            Ctx c;
            Geometry s;
            s.uniform = 1;
            configure(c, s);
            correct_uniform(c, dark.data(), nullptr);
            EXPECT_EQ(run(c, std::vector<uint8_t>(N, uint8_t(p)))[20 * W + 30], expect)
                << "dark " << d << " pixel " << p;
            std::vector<uint8_t> raw(N, uint8_t(p)), p1(N), p2(N), p3(N);
            ASSERT_EQ(correct_image_to_rgb(c, raw.data(), p1.data(), p2.data(), p3.data()), 0);
            EXPECT_EQ(p3[20 * W + 30], expect) << "planes, dark " << d << " pixel " << p;
        }
    }
}

TEST(CorrectInput, PreFilters)
{
    const int W = 64, H = 48, N = W * H;
    std::vector<uint8_t> raw(N, 100);
    raw[20 * W + 30] = 200; // one outlier
    {
        Ctx c;
        Geometry s;
        s.filter = 2;
        configure(c, s);
        const auto out = run(c, raw);
        EXPECT_EQ(out[20 * W + 30], 100) << "outlier replaced by its neighbours' mean";
        EXPECT_EQ(out[20 * W + 31], 100) << "a neighbour 12 from its mean stays";
    }
    {
        Ctx c;
        Geometry s;
        s.filter = 1;
        configure(c, s);
        const auto out = run(c, raw);
        // Weighted 3 x 3 sum / 16 around the impulse: centre gets 4/16 of it.
        EXPECT_EQ(out[20 * W + 30], (100 * 12 + 200 * 4) / 16);
        EXPECT_EQ(out[20 * W + 31], (100 * 14 + 200 * 2) / 16);
        EXPECT_EQ(out[21 * W + 31], (100 * 15 + 200 * 1) / 16);
        EXPECT_EQ(out[20 * W + 33], 100);
    }
}

TEST(CorrectRgb, SplitsTheBayerCell)
{
    const int W = 64, H = 48;
    std::vector<uint8_t> raw(size_t(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            raw[size_t(y) * W + x] = uint8_t((y & 1) ? ((x & 1) ? 90 : 30) : ((x & 1) ? 60 : 10));
    for (int invert : {0, 1}) {
        Ctx c;
        Geometry s;
        s.invert = invert;
        s.targetW = 20;
        s.targetH = 15;
        configure(c, s);
        std::vector<uint8_t> p1(300), p2(300), p3(300);
        auto copy = raw;
        ASSERT_EQ(correct_image_to_rgb(c, copy.data(), p1.data(), p2.data(), p3.data()), 0);
        const uint8_t inv = invert ? 0xFF : 0;
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(p1[i], 60 ^ inv);
            ASSERT_EQ(p2[i], ((10 + 90) / 2) ^ inv);
            ASSERT_EQ(p3[i], 30 ^ inv);
        }
    }
    Ctx c;
    Geometry s;
    s.quality = CORRECT_BILINEAR;
    configure(c, s);
    std::vector<uint8_t> p(64 * 48, 0xAB);
    auto copy = raw;
    EXPECT_EQ(correct_image_to_rgb(c, copy.data(), p.data(), p.data(), p.data()), 0);
    EXPECT_EQ(p[100], 0xAB) << "only nearest sampling produces planes";
}

TEST(CorrectBackground, RandomParametersNeverLeaveTheBuffers)
{
    // Any accepted combination of setters must keep resampling, the plane
    // split and the offset query inside their buffers (checked under ASan).
    uint32_t seed = 12345;
    auto next = [&](int lo, int hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + int((seed >> 8) % uint32_t(hi - lo + 1));
    };
    for (int iter = 0; iter < 400; ++iter) {
        Ctx c;
        const bool framed = next(0, 3) == 0;
        if (framed)
            correct_cut_in(c, next(0, 20), next(0, 20), next(21, 90), next(21, 70));
        correct_quality(c, next(0, 2));
        correct_linear(c, next(-64, 63));
        correct_option(c, next(0, 1), next(0, 4), next(0, 1), next(0, 1), next(0, 1), next(0, 1));
        correct_perspective(c, next(-120, 120), next(-120, 120), next(-120, 120), next(-120, 120));
        correct_size_origin(c, next(1, 70), next(1, 60));
        correct_grid(c, next(0, 200), next(0, 200), next(0, 70), next(0, 200), next(0, 200),
                     next(0, 60), next(0, 70), next(0, 60));
        correct_size_target(c, next(1, 40), next(1, 40));
        if (next(0, 2) == 0)
            correct_cut_out(c, next(0, 10), next(0, 10), next(11, 40), next(11, 40));
        const int n = correct_input_size(c);
        int w = 0, h = 0;
        const int outN = correct_output_size(c, &w, &h);
        std::vector<uint8_t> raw(size_t(std::max(n, 1)), 90), dark(raw.size(), 20),
            bright(raw.size(), 220);
        correct_uniform(c, next(0, 1) ? dark.data() : nullptr, next(0, 1) ? bright.data() : nullptr);
        std::vector<uint8_t> out(size_t(std::max(outN, 1))), p2(out.size()), p3(out.size());
        if (n > 0 && outN > 0) {
            EXPECT_EQ(correct_image(c, raw.data(), out.data()), 0) << iter;
            const int rc = correct_image_to_rgb(c, raw.data(), out.data(), p2.data(), p3.data());
            EXPECT_TRUE(rc == 0 || rc == -3) << iter; // -3: too small for a Bayer cell
            int rx, ry;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    ASSERT_EQ(correct_get_ori_offset(c, x, y, &rx, &ry), 0);
                    ASSERT_LT(size_t(ry) * c->inStride + rx, raw.size());
                }
        }
    }
}

TEST(CorrectMap, PerspectiveProfilesBendTheEdges)
{
    // Angle a bends an edge so that position t lands at
    // sin(atan t) / sin(90 - a/2 - atan t) * sin(45 - a/2) / sin 45 of the way.
    auto profile = [](double angle, double t) {
        const double d = M_PI / 180, a = angle / 2, at = std::atan(t);
        return std::sin(at) / std::sin((90 - a) * d - at) * std::sin((45 - a) * d) / std::sin(45 * d);
    };
    Ctx c;
    Geometry s;
    s.originW = 200;
    s.originH = 1100;
    int g[8] = {10, 0, 190, 0, 10, 1000, 190, 1000};
    std::copy(g, g + 8, s.grid);
    s.targetW = 51;
    s.targetH = 101;
    configure(c, s);
    ASSERT_EQ(correct_perspective(c, 20, 30, 0, 0), 0); // left, top, right, bottom
    int rx, ry;
    ASSERT_EQ(correct_get_ori_offset(c, 0, 50, &rx, &ry), 0);
    EXPECT_EQ(rx, 10);
    EXPECT_NEAR(ry, 1000 * profile(20, 0.5), 1.0) << "left edge bent";
    ASSERT_EQ(correct_get_ori_offset(c, 50, 50, &rx, &ry), 0);
    EXPECT_NEAR(ry, 500, 1) << "right edge straight";
    ASSERT_EQ(correct_get_ori_offset(c, 25, 0, &rx, &ry), 0);
    EXPECT_NEAR(rx, 10 + 180 * profile(30, 0.5), 1.0) << "top edge bent";
    ASSERT_EQ(correct_get_ori_offset(c, 25, 100, &rx, &ry), 0);
    EXPECT_NEAR(rx, 100, 1) << "bottom edge straight";
    for (int corner = 0; corner < 4; ++corner) {
        const int x = (corner & 1) ? 50 : 0, y = (corner & 2) ? 100 : 0;
        ASSERT_EQ(correct_get_ori_offset(c, x, y, &rx, &ry), 0);
        EXPECT_NEAR(rx, g[corner * 2], 1) << corner;
        EXPECT_NEAR(ry, g[corner * 2 + 1], 1) << corner;
    }
}
