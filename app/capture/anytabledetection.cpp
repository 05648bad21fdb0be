#include "anytabledetection.h"

#include "anytableborder.h"
#include "anytableedges.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace anytabledetection {

namespace {

// The work picture's longer side: coarse enough to keep up with live frames,
// fine enough that a pixel is well under 1 % of a sheet's diagonal.
constexpr int kWorkSide = 400;
// How far, in work pixels, a sheet's side may lie from where the work
// picture put it: its outline is a pixel or two off, and the step itself is
// blurred over a pixel when the picture is made smaller.
constexpr float kBorderReach = 3.0f;
// The ring along the picture's border the table is learnt from.
constexpr double kRingShare = 0.04;
// Brightness after light correction: the table's mean sits at this level.
constexpr double kTableLevel = 128.0;
// Histogram of the table's colours: brightness in steps of 4, the two colour
// differences in steps of 16; a bin seen often enough is table, and so are
// its neighbours (noise, JPEG, light the correction missed).
constexpr int kLevelStep = 4;
constexpr int kHueStep = 16;
constexpr int kLevelBins = 256 / kLevelStep;
constexpr int kHueBins = 256 / kHueStep;
constexpr int kLevelReach = 2;
constexpr int kHueReach = 1;
constexpr double kTableBinShare = 0.003;
// A sheet reaching into the border ring must not teach paper as a table
// colour: paper-like colours, brighter than most of the ring, are table only
// when together they are a good part of it (the light squares of a cloth).
constexpr double kPaperLikeRingShare = 0.08;
constexpr double kPaperLikeLevelOverRing = 1.1;
// Paper is nearly colourless; skin, wood and most cloth are not.
constexpr int kPaperMaxChroma = 36;
// Paper is not darker than the table around it (shadows are).
constexpr int kPaperMinLevel = int(kTableLevel * 0.9);
// Pieces of paper closed off by edges average at least this level: brighter
// than the table, as paper is.
constexpr int kPaperOverTable = int(kTableLevel) + 4;
// A region must fill its rectangle like a sheet (a cut corner allowed).
constexpr double kMinFill = 0.75;
// A region reaching this share of the frame both ways is the table itself.
constexpr double kWholeFrameShare = 0.92;

struct Planes {
    cv::Mat1b level;  // brightness
    cv::Mat1b red;    // 128 + red - green
    cv::Mat1b yellow; // 128 + (red + green) / 2 - blue
    cv::Mat1b chroma; // |red - 128| + |yellow - 128|: how far from grey
};

// The column sums of `count` rows of 8-bit values, many at a time where the
// processor allows: reading the frame is most of the detector's work, so
// each sum is kept in a register over the rows and stored once.
void columnSums(const uchar *const *rows, int count, std::uint16_t *sums, int length)
{
    int i = 0;
#if CV_SIMD
    const int step = cv::v_uint8::nlanes;
    for (; i + step <= length; i += step) {
        cv::v_uint16 low, high;
        cv::v_expand(cv::vx_load(rows[0] + i), low, high);
        for (int row = 1; row < count; ++row) {
            cv::v_uint16 rowLow, rowHigh;
            cv::v_expand(cv::vx_load(rows[row] + i), rowLow, rowHigh);
            low += rowLow;
            high += rowHigh;
        }
        cv::v_store(sums + i, low);
        cv::v_store(sums + i + step / 2, high);
    }
    cv::vx_cleanup();
#endif
    for (; i < length; ++i) {
        int sum = 0;
        for (int row = 0; row < count; ++row)
            sum += rows[row][i];
        sums[i] = std::uint16_t(sum);
    }
}

// The colour planes of one work row from its block means, many pixels at a
// time where the processor allows.
void colourRow(const uchar *b, const uchar *g, const uchar *r, uchar *level, uchar *red, uchar *yellow,
               uchar *chroma, int length)
{
    int x = 0;
#if CV_SIMD
    const int step = cv::v_int16::nlanes;
    const cv::v_int16 mid = cv::vx_setall_s16(128), top = cv::vx_setall_s16(255), zero = cv::vx_setzero_s16();
    for (; x + step <= length; x += step) {
        const cv::v_int16 vb = cv::v_reinterpret_as_s16(cv::vx_load_expand(b + x));
        const cv::v_int16 vg = cv::v_reinterpret_as_s16(cv::vx_load_expand(g + x));
        const cv::v_int16 vr = cv::v_reinterpret_as_s16(cv::vx_load_expand(r + x));
        cv::v_pack_u_store(level + x, (vb + vg + vg + vr) >> 2);
        const cv::v_int16 vred = cv::v_max(zero, cv::v_min(top, mid + vr - vg));
        const cv::v_int16 vyellow = cv::v_max(zero, cv::v_min(top, mid + ((vr + vg) >> 1) - vb));
        cv::v_pack_u_store(red + x, vred);
        cv::v_pack_u_store(yellow + x, vyellow);
        cv::v_pack_store(chroma + x, cv::v_abs(vred - mid) + cv::v_abs(vyellow - mid));
    }
    cv::vx_cleanup();
#endif
    for (; x < length; ++x) {
        level[x] = uchar((b[x] + 2 * g[x] + r[x]) >> 2);
        red[x] = cv::saturate_cast<uchar>(128 + r[x] - g[x]);
        yellow[x] = cv::saturate_cast<uchar>(128 + ((r[x] + g[x]) >> 1) - b[x]);
        chroma[x] = cv::saturate_cast<uchar>(std::abs(red[x] - 128) + std::abs(yellow[x] - 128));
    }
}

// Each channel's block means of one work row from its column sums, for any
// reduction: `means` holds one row of `length` per channel.
void blockMeansOfRow(const std::uint16_t *column, int channels, int scale, uchar *means, int length)
{
    const int area = scale * scale;
    for (int x = 0; x < length; ++x, column += scale * channels)
        for (int channel = 0; channel < channels; ++channel) {
            int sum = area / 2;
            for (int k = 0; k < scale; ++k)
                sum += column[k * channels + channel];
            means[channel * length + x] = uchar(sum / area);
        }
}

#if CV_SIMD
// The usual reductions, 2 to 4 frame pixels a work pixel, quicker: the
// block sums are gathered with the block width known to the compiler, and
// their rounded means taken many at a time as a multiply by the block's
// reciprocal, which equals the division for every sum such a block can have.
template <int Channels, int Scale>
void blockMeansOfRow(const std::uint16_t *column, std::uint16_t *sums, uchar *means, int length)
{
    constexpr int area = Scale * Scale, half = area / 2, multiplier = (65536 + area - 1) / area;
    static_assert(255 * area + half <= 65535, "block sums fit 16 bits");
    for (int x = 0; x < length; ++x, column += Scale * Channels)
        for (int channel = 0; channel < Channels; ++channel) {
            int sum = 0;
            for (int k = 0; k < Scale; ++k)
                sum += column[k * Channels + channel];
            sums[channel * length + x] = std::uint16_t(sum);
        }
    const int step = cv::v_uint16::nlanes;
    const cv::v_uint16 halves = cv::vx_setall_u16(half), multipliers = cv::vx_setall_u16(multiplier);
    for (int channel = 0; channel < Channels; ++channel) {
        const std::uint16_t *channelSums = sums + channel * length;
        uchar *channelMeans = means + channel * length;
        int x = 0;
        for (; x + step <= length; x += step)
            cv::v_pack_store(channelMeans + x,
                             cv::v_mul_hi(cv::vx_load(channelSums + x) + halves, multipliers));
        for (; x < length; ++x)
            channelMeans[x] = uchar((channelSums[x] + half) / area);
    }
    cv::vx_cleanup();
}
#endif

void blockMeansOfRow(const std::uint16_t *column, int channels, int scale, std::uint16_t *sums, uchar *means,
                     int length)
{
#if CV_SIMD
    const bool colour = channels == 3;
    switch (scale) {
    case 2:
        return colour ? blockMeansOfRow<3, 2>(column, sums, means, length)
                      : blockMeansOfRow<1, 2>(column, sums, means, length);
    case 3:
        return colour ? blockMeansOfRow<3, 3>(column, sums, means, length)
                      : blockMeansOfRow<1, 3>(column, sums, means, length);
    case 4:
        return colour ? blockMeansOfRow<3, 4>(column, sums, means, length)
                      : blockMeansOfRow<1, 4>(column, sums, means, length);
    default: break;
    }
#endif
    blockMeansOfRow(column, channels, scale, means, length);
}

// The work picture's planes straight from the frame, in integers: each work
// pixel is the mean of a scale x scale block, as an area resize gives it,
// without the resized colour picture in between. The rows of the blocks are
// added first, whole rows at a time (vectorised), then their columns.
Planes planesOf(const cv::Mat &image, int scale)
{
    const cv::Size size(image.cols / scale, image.rows / scale);
    Planes planes{cv::Mat1b(size), cv::Mat1b(size, uchar(128)), cv::Mat1b(size, uchar(128)),
                  cv::Mat1b(size, uchar(0))};
    const int channels = image.channels() == 1 ? 1 : 3;
    const int rowLength = size.width * scale * channels;
    std::vector<std::uint16_t> columns(static_cast<size_t>(rowLength));
    std::vector<std::uint16_t> sums(size_t(channels * size.width));
    std::vector<const uchar *> rows(static_cast<size_t>(scale));
    std::vector<uchar> means(size_t(3 * size.width));
    for (int y = 0; y < size.height; ++y) {
        for (int row = 0; row < scale; ++row)
            rows[size_t(row)] = image.ptr(y * scale + row);
        columnSums(rows.data(), scale, columns.data(), rowLength);
        uchar *level = planes.level.ptr(y);
        blockMeansOfRow(columns.data(), channels, scale, sums.data(), channels == 1 ? level : means.data(),
                        size.width);
        if (channels == 3) {
            const uchar *blue = means.data(), *green = blue + size.width, *red = green + size.width;
            colourRow(blue, green, red, level, planes.red.ptr(y), planes.yellow.ptr(y), planes.chroma.ptr(y),
                      size.width);
        }
    }
    return planes;
}

// The six terms of the light's quadratic at one point, u and v in [-1, 1).
using Terms = std::array<double, 6>;

Terms termsAt(double u, double v)
{
    return {1.0, u, v, u * u, u * v, v * v};
}

// The normal equations of a least-squares fit of the six terms: no design
// matrix to hold, and samples can be taken out again.
struct NormalEquations {
    cv::Matx<double, 6, 6> normal = cv::Matx<double, 6, 6>::zeros();
    cv::Matx<double, 6, 1> right = cv::Matx<double, 6, 1>::zeros();
    int samples = 0;

    void add(const Terms &t, double value, double weight = 1.0)
    {
        samples += weight > 0 ? 1 : -1;
        for (int r = 0; r < 6; ++r) {
            const double term = weight * t[size_t(r)];
            right(r) += term * value;
            for (int c = r; c < 6; ++c)
                normal(r, c) += term * t[size_t(c)];
        }
    }

    // Six unknowns over well-scaled terms: no QR needed.
    bool solve(cv::Matx<double, 6, 1> &coefficients) const
    {
        if (samples < 12)
            return false;
        cv::Matx<double, 6, 6> full = normal;
        for (int r = 1; r < 6; ++r)
            for (int c = 0; c < r; ++c)
                full(r, c) = full(c, r);
        return cv::solve(full, right, coefficients, cv::DECOMP_CHOLESKY);
    }
};

double valueAt(const Terms &terms, const cv::Matx<double, 6, 1> &coefficients)
{
    double value = 0;
    for (int k = 0; k < 6; ++k)
        value += terms[size_t(k)] * coefficients(k);
    return value;
}

// Brightness of the table across the picture, a quadratic in x and y fitted
// to the border ring: vignetting and a lamp to one side are smooth. A second
// fit leaves out what the first missed by far (a shadow on the border, the
// dark half of a cloth), so they do not pull the table's light down elsewhere.
cv::Matx<double, 6, 1> tableLight(const cv::Mat1b &level, int ring)
{
    std::vector<Terms> terms;
    std::vector<double> values;
    const double sx = 2.0 / level.cols, sy = 2.0 / level.rows;
    // Every third pixel of every third row, in the ring only.
    const int rightEnd = (level.cols - ring + 2) / 3 * 3;
    for (int y = 0; y < level.rows; y += 3) {
        const bool wholeRow = y < ring || y >= level.rows - ring;
        for (int x = 0; x < level.cols; x += 3) {
            if (!wholeRow && x >= ring && x < rightEnd) {
                x = rightEnd - 3;
                continue;
            }
            terms.push_back(termsAt(x * sx - 1.0, y * sy - 1.0));
            values.push_back(std::max(1.0, double(level(y, x))));
        }
    }
    NormalEquations all;
    for (size_t i = 0; i < terms.size(); ++i)
        all.add(terms[i], values[i]);
    // An even light at the table's level when the ring cannot be fitted.
    cv::Matx<double, 6, 1> coefficients(kTableLevel, 0, 0, 0, 0, 0);
    if (!all.solve(coefficients))
        return coefficients;

    std::vector<double> residual(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        residual[i] = std::abs(valueAt(terms[i], coefficients) - values[i]);
    std::vector<double> sorted = residual;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double limit = std::max(4.0, 2.5 * sorted[sorted.size() / 2]);
    // Few samples are missed by far: they are taken out of the equations.
    NormalEquations kept = all;
    for (size_t i = 0; i < values.size(); ++i)
        if (residual[i] > limit)
            kept.add(terms[i], values[i], -1.0);
    cv::Matx<double, 6, 1> refitted;
    if (kept.samples < int(values.size()) && kept.solve(refitted))
        coefficients = refitted;
    return coefficients;
}

// Brightness corrected for the table's light: the table near kTableLevel.
cv::Mat1b corrected(const cv::Mat1b &level, const cv::Matx<double, 6, 1> &light)
{
    cv::Mat1b out(level.size());
    const float sx = 2.0f / float(level.cols), sy = 2.0f / float(level.rows);
    const double *c = light.val;
    std::vector<float> u(size_t(level.cols));
    for (int x = 0; x < level.cols; ++x)
        u[size_t(x)] = float(x) * sx - 1.0f;
    for (int y = 0; y < level.rows; ++y) {
        // The quadratic along one row: a + b u + c3 u^2.
        const float v = float(y) * sy - 1.0f;
        const float a = float(c[0] + c[2] * v + c[5] * v * v), b = float(c[1] + c[4] * v), uu = float(c[3]);
        const uchar *in = level.ptr(y);
        uchar *o = out.ptr(y);
        int x = 0;
#if CV_SIMD
        // Many pixels at a time, in the same float steps as below.
        const int step = cv::v_uint16::nlanes;
        const cv::v_float32 va = cv::vx_setall_f32(a), vb = cv::vx_setall_f32(b), vuu = cv::vx_setall_f32(uu);
        const cv::v_float32 darkest = cv::vx_setall_f32(8.0f), target = cv::vx_setall_f32(float(kTableLevel));
        const auto correctedOf = [&](const cv::v_uint32 &pixels, int at) {
            const cv::v_float32 ux = cv::vx_load(u.data() + at);
            const cv::v_float32 tableLevel = cv::v_max(darkest, va + (vb + vuu * ux) * ux);
            return cv::v_round((cv::v_cvt_f32(cv::v_reinterpret_as_s32(pixels)) * target) / tableLevel);
        };
        for (; x + step <= level.cols; x += step) {
            cv::v_uint32 low, high;
            cv::v_expand(cv::vx_load_expand(in + x), low, high);
            const int half = cv::v_float32::nlanes;
            cv::v_pack_u_store(o + x, cv::v_pack(correctedOf(low, x), correctedOf(high, x + half)));
        }
        cv::vx_cleanup();
#endif
        for (; x < level.cols; ++x) {
            const float ux = u[size_t(x)];
            const float tableLevel = std::max(8.0f, a + (b + uu * ux) * ux);
            o[x] = cv::saturate_cast<uchar>(float(in[x]) * float(kTableLevel) / tableLevel);
        }
    }
    return out;
}

int binOf(uchar level, uchar red, uchar yellow)
{
    return (level / kLevelStep * kHueBins + red / kHueStep) * kHueBins + yellow / kHueStep;
}

// A bin's place along each of its three axes.
struct BinPlace {
    int level, red, yellow;
};

BinPlace placeOf(int bin)
{
    return {bin / (kHueBins * kHueBins), bin / kHueBins % kHueBins, bin % kHueBins};
}

bool paperLike(int level, int red, int yellow, int ringLevel)
{
    return level > kPaperLikeLevelOverRing * ringLevel &&
           std::abs(red - 128) + std::abs(yellow - 128) <= kPaperMaxChroma;
}

// Which colours the table shows, learnt from the border ring.
std::vector<uchar> tableColours(const cv::Mat1b &level, const Planes &planes, int ring)
{
    std::vector<int> counts(size_t(kLevelBins * kHueBins * kHueBins), 0);
    // The bins the ring fills, a few hundred of the sixteen thousand: only
    // these are looked at again.
    std::vector<int> seenBins;
    std::array<int, 256> levels{};
    int samples = 0;
    const auto count = [&](int x, int y) {
        const int bin = binOf(level(y, x), planes.red(y, x), planes.yellow(y, x));
        if (counts[size_t(bin)]++ == 0)
            seenBins.push_back(bin);
        ++levels[level(y, x)];
        ++samples;
    };
    // Only the ring is visited: whole rows at the top and bottom, the ends
    // of the rows between.
    for (int y = 0; y < level.rows; ++y) {
        const bool wholeRow = y < ring || y >= level.rows - ring;
        for (int x = 0; x < level.cols; ++x) {
            count(x, y);
            if (!wholeRow && x == ring - 1)
                x = std::max(x, level.cols - ring - 1);
        }
    }
    int ringLevel = 0;
    for (int seen = 0; ringLevel < 255 && seen + levels[size_t(ringLevel)] < samples / 2; ++ringLevel)
        seen += levels[size_t(ringLevel)];
    const auto paperBin = [&](int bin) {
        const BinPlace place = placeOf(bin);
        return paperLike(place.level * kLevelStep + kLevelStep / 2, place.red * kHueStep + kHueStep / 2,
                         place.yellow * kHueStep + kHueStep / 2, ringLevel);
    };
    int paperSamples = 0;
    for (const int bin : seenBins)
        if (paperBin(bin))
            paperSamples += counts[size_t(bin)];
    const bool tableHasPaperColours = paperSamples >= kPaperLikeRingShare * samples;
    const int seenOften = std::max(2, int(samples * kTableBinShare));
    std::vector<uchar> table(counts.size(), 0);
    for (const int bin : seenBins) {
        if (counts[size_t(bin)] < seenOften || (!tableHasPaperColours && paperBin(bin)))
            continue;
        const auto [l, r, b] = placeOf(bin);
        for (int dl = std::max(0, l - kLevelReach); dl <= std::min(kLevelBins - 1, l + kLevelReach); ++dl)
            for (int dr = std::max(0, r - kHueReach); dr <= std::min(kHueBins - 1, r + kHueReach); ++dr)
                for (int db = std::max(0, b - kHueReach); db <= std::min(kHueBins - 1, b + kHueReach); ++db)
                    table[size_t((dl * kHueBins + dr) * kHueBins + db)] = 1;
    }
    return table;
}

// The planes at half their size, block means as in planesOf.
Planes halved(const cv::Mat1b &level, const Planes &planes)
{
    const cv::Size size(level.cols / 2, level.rows / 2);
    const cv::Rect blocks(0, 0, size.width * 2, size.height * 2);
    Planes half;
    cv::resize(level(blocks), half.level, size, 0, 0, cv::INTER_AREA);
    cv::resize(planes.red(blocks), half.red, size, 0, 0, cv::INTER_AREA);
    cv::resize(planes.yellow(blocks), half.yellow, size, 0, 0, cv::INTER_AREA);
    cv::resize(planes.chroma(blocks), half.chroma, size, 0, 0, cv::INTER_AREA);
    return half;
}

cv::Mat1b paperMask(const cv::Mat1b &level, const Planes &planes, const std::vector<uchar> &table)
{
    cv::Mat1b mask(level.size());
    for (int y = 0; y < level.rows; ++y) {
        const uchar *l = level.ptr(y), *r = planes.red.ptr(y), *b = planes.yellow.ptr(y);
        const uchar *chroma = planes.chroma.ptr(y);
        uchar *m = mask.ptr(y);
        for (int x = 0; x < level.cols; ++x) {
            const bool paper = l[x] >= kPaperMinLevel && chroma[x] <= kPaperMaxChroma &&
                               !table[size_t(binOf(l[x], r[x], b[x]))];
            m[x] = paper ? 255 : 0;
        }
    }
    // Specks of noise and the thin threads of a cloth are no sheet.
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::Mat(), cv::Point(-1, -1), 1);
    // Text and seals near the edge break a light sheet's outline on a light
    // table; the outline, not the inside, is what counts.
    cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, cv::Mat(), cv::Point(-1, -1), 1);
    return mask;
}

bool isSheetShaped(const std::vector<cv::Point> &region, const cv::RotatedRect &rect, cv::Size frame)
{
    const double rectArea = double(rect.size.width) * rect.size.height;
    if (rectArea <= 0 || cv::contourArea(region) < kMinFill * rectArea)
        return false;
    const cv::Rect box = cv::boundingRect(region);
    return box.width < kWholeFrameShare * frame.width || box.height < kWholeFrameShare * frame.height;
}

// Regions of paper colour shaped like a sheet. The region's outline runs
// through the centres of its edge pixels; a mixed pixel at a sheet's edge
// mostly counts as paper already, so the outline is taken as the edge.
std::vector<WorkSheet> paperRegions(const cv::Mat1b &mask, cv::Size size)
{
    std::vector<WorkSheet> found;
    std::vector<std::vector<cv::Point>> regions;
    cv::findContours(mask, regions, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    for (std::vector<cv::Point> &region : regions) {
        if (region.size() < 4)
            continue;
        std::vector<cv::Point> hull;
        cv::convexHull(region, hull);
        const cv::RotatedRect rect = cv::minAreaRect(hull);
        if (isSheetShaped(region, rect, size))
            found.push_back({rect, std::move(region)});
    }
    return found;
}

// The colour cue, on a picture half as fine as the edge cue's: a sheet is a
// large plain area, and each sheet's sides are measured again in the frame
// (anytableborder.h), so the coarser outline costs no accuracy. The table's
// colours are still learnt from the finer ring.
std::vector<WorkSheet> colourSheets(const cv::Mat1b &level, const Planes &planes, int ring)
{
    const std::vector<uchar> table = tableColours(level, planes, ring);
    const Planes half = halved(level, planes);
    std::vector<WorkSheet> sheets = paperRegions(paperMask(half.level, half, table), half.level.size());
    // A half pixel covers two work pixels.
    for (WorkSheet &sheet : sheets) {
        sheet.rect = cv::RotatedRect(sheet.rect.center * 2.0f + cv::Point2f(0.5f, 0.5f),
                                     sheet.rect.size * 2.0f, sheet.rect.angle);
        for (cv::Point &point : sheet.outline)
            point = point * 2;
    }
    return sheets;
}

bool contains(const cv::RotatedRect &rect, const cv::Point2f &point)
{
    cv::Point2f corners[4];
    rect.points(corners);
    return cv::pointPolygonTest(std::vector<cv::Point2f>(corners, corners + 4), point, false) >= 0;
}

bool overlaps(const cv::RotatedRect &a, const cv::RotatedRect &b)
{
    return contains(a, b.center) || contains(b, a.center);
}

float areaOf(const cv::RotatedRect &rect)
{
    return rect.size.width * rect.size.height;
}

// The cues usually find the same sheet, and sometimes only a part of it: a
// barcode across the page or text reaching the border closes off a smaller
// area that passes as a sheet of its own. Where outlines overlap, the
// largest is the sheet; the others are parts of it (a printed box, the space
// between a form's lines). Each sheet is then set on its border in the
// frame, so which cue found it does not matter for the corners.
std::vector<WorkSheet> combined(std::vector<std::vector<WorkSheet>> cues)
{
    std::vector<WorkSheet> all;
    for (std::vector<WorkSheet> &cue : cues)
        std::move(cue.begin(), cue.end(), std::back_inserter(all));
    std::stable_sort(all.begin(), all.end(),
                     [](const WorkSheet &a, const WorkSheet &b) { return areaOf(a.rect) > areaOf(b.rect); });
    std::vector<WorkSheet> kept;
    for (WorkSheet &sheet : all) {
        const bool known = std::any_of(kept.begin(), kept.end(), [&](const WorkSheet &other) {
            return overlaps(other.rect, sheet.rect);
        });
        if (!known)
            kept.push_back(std::move(sheet));
    }
    return kept;
}

} // namespace

std::vector<documentdetection::Candidate> candidates(const cv::Mat &image)
{
    std::vector<documentdetection::Candidate> found;
    if (image.empty())
        return found;
    const int scale = std::max(1, (std::max(image.cols, image.rows) + kWorkSide - 1) / kWorkSide);
    if (image.cols / scale < 16 || image.rows / scale < 16)
        return found;

    const Planes planes = planesOf(image, scale);
    const cv::Size size = planes.level.size();
    const int ring = std::max(2, int(std::lround(kRingShare * std::min(size.width, size.height))));
    const cv::Mat1b level = corrected(planes.level, tableLight(planes.level, ring));
    const cv::Mat1b edgesNear = edgesOf(level);
    const std::vector<WorkSheet> sheets =
        combined({sheetsInsideEdges(edgesNear, level, planes.chroma, kPaperOverTable),
                  sheetsRingedByEdges(edgesNear, level, planes.chroma), colourSheets(level, planes, ring)});

    // Back to the picture's pixels: a work pixel covers `scale` of them.
    const float half = 0.5f * float(scale - 1);
    for (const WorkSheet &sheet : sheets) {
        const cv::RotatedRect coarse(sheet.rect.center * float(scale) + cv::Point2f(half, half),
                                     sheet.rect.size * float(scale), sheet.rect.angle);
        const cv::RotatedRect full = borderAtStep(image, coarse, kBorderReach * float(scale));
        std::vector<cv::Point> outline = sheet.outline;
        for (cv::Point &point : outline)
            point = point * scale + cv::Point(scale / 2, scale / 2);
        found.push_back({full, std::move(outline)});
    }
    return found;
}

} // namespace anytabledetection
