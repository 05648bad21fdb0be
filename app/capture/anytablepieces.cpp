#include "anytablepieces.h"

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace anytabledetection {

namespace {

// A row's stretch of pixels without an edge, [begin, end).
struct Run {
    int row;
    int begin;
    int end;
};

// What an area adds up to, held at its first run.
struct Area {
    long pixels = 0;
    long chromaSum = 0;
    long levelSum = 0;
    bool touchesBorder = false;
};

int rootOf(std::vector<int> &parent, int run)
{
    while (parent[size_t(run)] != run) {
        parent[size_t(run)] = parent[size_t(parent[size_t(run)])];
        run = parent[size_t(run)];
    }
    return run;
}

void join(std::vector<int> &parent, int a, int b)
{
    a = rootOf(parent, a);
    b = rootOf(parent, b);
    if (a != b)
        parent[size_t(std::max(a, b))] = std::min(a, b);
}

// The sum of a row's values over [begin, end), many at a time where the
// processor allows: a sheet's inside is most of the picture.
long sumOf(const uchar *values, int begin, int end)
{
    long sum = 0;
    int x = begin;
#if CV_SIMD
    const int step = cv::v_uint8::nlanes;
    for (; x + step <= end; x += step)
        sum += long(cv::v_reduce_sum(cv::vx_load(values + x)));
    cv::vx_cleanup();
#endif
    for (; x < end; ++x)
        sum += values[x];
    return sum;
}

// One row's pixels as bits, set where the pixel is not 0, 64 to a word;
// the bits past the row's end are clear. Runs are then found a word at a
// time however short they are: text makes many.
void rowBits(const uchar *pixel, int length, std::vector<std::uint64_t> &bits)
{
    bits.assign(size_t((length + 63) / 64), 0);
    int x = 0;
#if CV_SIMD128
    const cv::v_uint8x16 zero = cv::v_setzero_u8();
    for (; x + 16 <= length; x += 16) {
        const cv::v_uint8x16 set = cv::v_load(pixel + x) != zero;
        bits[size_t(x >> 6)] |= std::uint64_t(unsigned(cv::v_signmask(set))) << (x & 63);
    }
#endif
    for (; x < length; ++x)
        if (pixel[x])
            bits[size_t(x >> 6)] |= std::uint64_t(1) << (x & 63);
}

// The first pixel from `x` on that is set (or clear, as `set` asks), or
// `length`.
int nextPixel(const std::vector<std::uint64_t> &bits, int x, int length, bool set)
{
    while (x < length) {
        const std::uint64_t word = set ? bits[size_t(x >> 6)] : ~bits[size_t(x >> 6)];
        const std::uint64_t ahead = word >> (x & 63);
        if (ahead)
            return std::min(length, x + __builtin_ctzll(ahead));
        x = (x | 63) + 1;
    }
    return length;
}

// The picture's runs of `wanted` pixels (255 or 0), each row's in order,
// and for each run the first run of its area.
void labelRuns(const cv::Mat1b &picture, bool wanted, bool acrossCorners, std::vector<Run> &runs,
               std::vector<int> &parent)
{
    runs.reserve(size_t(picture.rows) * 8);
    parent.reserve(runs.capacity());
    // Runs touching only at a corner overlap once widened by one column.
    const int reach = acrossCorners ? 1 : 0;
    size_t previousRow = 0;
    std::vector<std::uint64_t> bits;
    for (int y = 0; y < picture.rows; ++y) {
        const size_t thisRow = runs.size();
        rowBits(picture.ptr(y), picture.cols, bits);
        for (int x = 0; x < picture.cols;) {
            x = nextPixel(bits, x, picture.cols, wanted);
            if (x == picture.cols)
                break;
            const int begin = x;
            x = nextPixel(bits, x, picture.cols, !wanted);
            runs.push_back({y, begin, x});
            parent.push_back(int(parent.size()));
        }
        // Runs of the row above that share a column with a run here are the
        // same area; both rows are in order, so one pass over each will do.
        size_t above = previousRow;
        for (size_t here = thisRow; here < runs.size(); ++here) {
            while (above < thisRow && runs[above].end + reach <= runs[here].begin)
                ++above;
            for (size_t k = above; k < thisRow && runs[k].begin < runs[here].end + reach; ++k)
                join(parent, int(k), int(here));
        }
        previousRow = thisRow;
    }
    for (size_t i = 0; i < runs.size(); ++i)
        parent[i] = rootOf(parent, int(i));
}

} // namespace

cv::Mat1b closedPieces(const cv::Mat1b &edges, const cv::Mat1b &level, const cv::Mat1b &chroma, int minPixels,
                       double maxChroma, int minLevel)
{
    std::vector<Run> runs;
    std::vector<int> parent;
    labelRuns(edges, false, false, runs, parent);
    std::vector<Area> areas(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run &run = runs[i];
        Area &area = areas[size_t(parent[i])];
        area.pixels += run.end - run.begin;
        area.touchesBorder = area.touchesBorder || run.row == 0 || run.row == edges.rows - 1 ||
                             run.begin == 0 || run.end == edges.cols;
    }
    // The table around the sheets is mostly one area touching the border:
    // only areas that can still be pieces are added up.
    const auto canBePiece = [&](const Area &area) { return area.pixels >= minPixels && !area.touchesBorder; };
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run &run = runs[i];
        Area &area = areas[size_t(parent[i])];
        if (!canBePiece(area))
            continue;
        area.chromaSum += sumOf(chroma.ptr(run.row), run.begin, run.end);
        area.levelSum += sumOf(level.ptr(run.row), run.begin, run.end);
    }

    cv::Mat1b pieces(edges.size(), uchar(0));
    for (size_t i = 0; i < runs.size(); ++i) {
        const Area &area = areas[size_t(parent[i])];
        const bool isPiece = canBePiece(area) && double(area.chromaSum) <= maxChroma * double(area.pixels) &&
                             area.levelSum >= long(minLevel) * area.pixels;
        if (isPiece)
            std::memset(pieces.ptr(runs[i].row) + runs[i].begin, 255, size_t(runs[i].end - runs[i].begin));
    }
    return pieces;
}

cv::Mat1b largeEdgeShapes(const cv::Mat1b &edges, double minBoxArea)
{
    std::vector<Run> runs;
    std::vector<int> parent;
    labelRuns(edges, true, true, runs, parent);
    std::vector<cv::Rect> boxes(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        const cv::Rect run(runs[i].begin, runs[i].row, runs[i].end - runs[i].begin, 1);
        cv::Rect &box = boxes[size_t(parent[i])];
        box = box.empty() ? run : (box | run);
    }
    cv::Mat1b shapes(edges.size(), uchar(0));
    for (size_t i = 0; i < runs.size(); ++i) {
        const cv::Rect &box = boxes[size_t(parent[i])];
        const bool touchesBorder =
            box.x <= 0 || box.y <= 0 || box.br().x >= edges.cols || box.br().y >= edges.rows;
        if (double(box.area()) >= minBoxArea && !touchesBorder)
            std::memset(shapes.ptr(runs[i].row) + runs[i].begin, 255, size_t(runs[i].end - runs[i].begin));
    }
    return shapes;
}

} // namespace anytabledetection
