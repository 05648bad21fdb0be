#pragma once

// Inner parts of the scene: the plan of one sheet (in sheet pixels) and the
// painter that draws it. layout() and render() share the plan, so the
// geometry reported is the geometry drawn.

#include "docscene.h"

#include <cstdint>

namespace docscene::detail {

// Deterministic generator (splitmix64): the same seed gives the same scene
// on every platform and standard library.
class Random
{
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t next();
    double uniform(double low, double high);   // [low, high)
    int between(int low, int high);            // [low, high]

private:
    std::uint64_t state;
};

std::uint64_t mixSeed(std::uint64_t a, std::uint64_t b);

struct CodePlan {
    CodeKind kind = CodeKind::Qr;
    std::string text;
    cv::Rect symbol;          // sheet pixels, without quiet zone
    int modulePixels = 0;
    cv::Mat1b modules;        // one pixel per module, 0 black, 255 white
};

struct SheetPlan {
    cv::Size size;
    cv::Rect heading;
    int titleBaseline = 0;
    int textTop = 0;
    int textBottom = 0;
    int linePitch = 0;
    bool seal = false;
    cv::Point2f sealCenter;
    float sealRadius = 0;
    std::vector<CodePlan> codes;
    std::uint64_t seed = 0;
};

struct Plan {
    Geometry geometry;
    std::vector<SheetPlan> sheets;
};

Plan makePlan(const Options &options, int page);

// The sheet's content, upright, size plan.size, 8-bit BGR.
cv::Mat paintSheet(const SheetPlan &plan);

// Counts the text lines the painter puts between textTop and textBottom.
int textLineCount(const SheetPlan &plan);

} // namespace docscene::detail
