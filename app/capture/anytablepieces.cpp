#include "anytablepieces.h"

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

// What an area adds up to; `pixels` 0 once it has been joined into another.
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

long sumOf(const uchar *values, int begin, int end)
{
    long sum = 0;
    for (int x = begin; x < end; ++x)
        sum += values[x];
    return sum;
}

} // namespace

cv::Mat1b closedPieces(const cv::Mat1b &edges, const cv::Mat1b &level, const cv::Mat1b &chroma, int minPixels,
                       double maxChroma, int minLevel)
{
    std::vector<Run> runs;
    std::vector<int> parent;
    runs.reserve(size_t(edges.rows) * 8);
    parent.reserve(runs.capacity());
    size_t previousRow = 0;
    for (int y = 0; y < edges.rows; ++y) {
        const size_t thisRow = runs.size();
        const uchar *edge = edges.ptr(y);
        for (int x = 0; x < edges.cols;) {
            while (x < edges.cols && edge[x])
                ++x;
            if (x == edges.cols)
                break;
            const int begin = x;
            while (x < edges.cols && !edge[x])
                ++x;
            runs.push_back({y, begin, x});
            parent.push_back(int(parent.size()));
        }
        // Runs of the row above that share a column with a run here are the
        // same area; both rows are in order, so one pass over each will do.
        size_t above = previousRow;
        for (size_t here = thisRow; here < runs.size(); ++here) {
            while (above < thisRow && runs[above].end <= runs[here].begin)
                ++above;
            for (size_t k = above; k < thisRow && runs[k].begin < runs[here].end; ++k)
                join(parent, int(k), int(here));
        }
        previousRow = thisRow;
    }

    std::vector<Area> areas(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run &run = runs[i];
        Area &area = areas[size_t(rootOf(parent, int(i)))];
        area.pixels += run.end - run.begin;
        area.chromaSum += sumOf(chroma.ptr(run.row), run.begin, run.end);
        area.levelSum += sumOf(level.ptr(run.row), run.begin, run.end);
        area.touchesBorder = area.touchesBorder || run.row == 0 || run.row == edges.rows - 1 ||
                             run.begin == 0 || run.end == edges.cols;
    }

    cv::Mat1b pieces(edges.size(), uchar(0));
    for (size_t i = 0; i < runs.size(); ++i) {
        const Area &area = areas[size_t(rootOf(parent, int(i)))];
        const bool isPiece = area.pixels >= minPixels && !area.touchesBorder &&
                             double(area.chromaSum) <= maxChroma * double(area.pixels) &&
                             area.levelSum >= long(minLevel) * area.pixels;
        if (isPiece)
            std::memset(pieces.ptr(runs[i].row) + runs[i].begin, 255, size_t(runs[i].end - runs[i].begin));
    }
    return pieces;
}

} // namespace anytabledetection
