#include "sheetpainter.h"

#include "codepainter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace docscene::detail {
namespace {

const cv::Scalar kInk(38, 36, 34);
const cv::Scalar kHeadingInk(52, 40, 30);
const cv::Scalar kSealRed(48, 36, 206);
constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;

struct TextStyle {
    double scale;
    int thickness;
};

TextStyle styleFor(int linePitch)
{
    int baseline = 0;
    const int capHeight = cv::getTextSize("H", kFont, 1.0, 1, &baseline).height;
    const double scale = linePitch * 0.42 / std::max(1, capHeight);
    return {scale, std::max(1, int(std::lround(scale * 1.7)))};
}

std::string randomWord(Random &rnd, bool capital)
{
    std::string word;
    const int length = rnd.between(1, 9);
    for (int i = 0; i < length; ++i)
        word += char((i == 0 && capital ? 'A' : 'a') + rnd.between(0, 25));
    return word;
}

// Words until the line would pass `width` pixels.
std::string randomLine(Random &rnd, const TextStyle &style, int width, bool capital)
{
    std::string line;
    int baseline = 0;
    for (;;) {
        const std::string next = (line.empty() ? "" : line + " ") + randomWord(rnd, capital && line.empty());
        if (cv::getTextSize(next, kFont, style.scale, style.thickness, &baseline).width > width)
            return line.empty() ? next.substr(0, 1) : line;
        line = next;
    }
}

void paintPaper(cv::Mat &sheet, Random &rnd)
{
    // Light falls a little unevenly across a real page.
    const double tiltX = rnd.uniform(-5, 5), tiltY = rnd.uniform(-5, 5);
    for (int y = 0; y < sheet.rows; ++y) {
        cv::Vec3b *row = sheet.ptr<cv::Vec3b>(y);
        const double fy = double(y) / sheet.rows - 0.5;
        for (int x = 0; x < sheet.cols; ++x) {
            const double fx = double(x) / sheet.cols - 0.5;
            const double level = 236 + tiltX * fx + tiltY * fy;
            row[x] = cv::Vec3b(cv::saturate_cast<uchar>(level - 3), cv::saturate_cast<uchar>(level),
                               cv::saturate_cast<uchar>(level + 2));
        }
    }
}

template <typename LineFn>
void forEachTextLine(const SheetPlan &plan, LineFn fn)
{
    int index = 0;
    for (int baseline = plan.textTop + plan.linePitch; baseline <= plan.textBottom;
         baseline += plan.linePitch)
        fn(index++, baseline);
}

void paintText(cv::Mat &sheet, const SheetPlan &plan, Random &rnd)
{
    const TextStyle style = styleFor(plan.linePitch);
    const int left = plan.heading.x;
    const int width = plan.size.width - 2 * left;

    const TextStyle title{style.scale * 1.5, style.thickness * 2};
    cv::putText(sheet, randomLine(rnd, title, width * 2 / 3, true), cv::Point(left, plan.titleBaseline),
                kFont, title.scale, kInk, title.thickness, cv::LINE_AA);

    int paragraphLeft = rnd.between(3, 7);
    forEachTextLine(plan, [&](int, int baseline) {
        if (paragraphLeft-- == 0) {   // a short last line closes the paragraph
            const int shortWidth = int(width * rnd.uniform(0.2, 0.6));
            cv::putText(sheet, randomLine(rnd, style, shortWidth, false), cv::Point(left, baseline), kFont,
                        style.scale, kInk, style.thickness, cv::LINE_AA);
            paragraphLeft = rnd.between(3, 7);
            return;
        }
        const int lineWidth = int(width * rnd.uniform(0.88, 1.0));
        cv::putText(sheet, randomLine(rnd, style, lineWidth, false), cv::Point(left, baseline), kFont,
                    style.scale, kInk, style.thickness, cv::LINE_AA);
    });
}

// The letterhead: a band of dark stripes along the lines. Striped rather than
// solid so it stays dark under a local (adaptive) threshold, which hollows out
// solid areas, and coarse enough to survive JPEG and scaling.
void paintHeading(cv::Mat &sheet, const SheetPlan &plan)
{
    const int dark = std::clamp(int(std::lround(plan.linePitch * 0.2)), 2, 11);
    const int light = std::clamp(int(std::lround(plan.linePitch * 0.16)), 2, 9);
    const cv::Rect &band = plan.heading;
    for (int y = band.y; y < band.y + band.height; y += dark + light) {
        const int bottom = std::min(y + dark, band.y + band.height);
        sheet(cv::Rect(band.x, y, band.width, bottom - y)).setTo(kHeadingInk);
    }
}

void paintSeal(cv::Mat &sheet, cv::Point2f center, float radius)
{
    const int shift = 4;   // sub-pixel drawing
    const auto fixed = [](double v) { return int(std::lround(v * 16)); };
    const cv::Point c(fixed(center.x), fixed(center.y));
    cv::circle(sheet, c, fixed(radius), kSealRed, std::max(2, int(radius * 0.09)), cv::LINE_AA, shift);
    cv::circle(sheet, c, fixed(radius * 0.80), kSealRed, std::max(1, int(radius * 0.025)), cv::LINE_AA,
               shift);
    std::vector<cv::Point> star;
    for (int k = 0; k < 10; ++k) {
        const double r = (k % 2 == 0 ? 0.38 : 0.15) * radius;
        const double a = -3.14159265358979 / 2 + k * 3.14159265358979 / 5;
        star.emplace_back(fixed(center.x + r * std::cos(a)), fixed(center.y + r * std::sin(a)));
    }
    cv::fillPoly(sheet, std::vector<std::vector<cv::Point>>{star}, kSealRed, cv::LINE_AA, shift);
}

} // namespace

int textLineCount(const SheetPlan &plan)
{
    int count = 0;
    forEachTextLine(plan, [&](int, int) { ++count; });
    return count;
}

cv::Mat paintSheet(const SheetPlan &plan)
{
    cv::Mat sheet(plan.size, CV_8UC3);
    Random rnd(plan.seed);
    paintPaper(sheet, rnd);
    paintHeading(sheet, plan);
    paintText(sheet, plan, rnd);
    for (const CodePlan &code : plan.codes)
        paintCode(sheet, code.modules, code.symbol, code.modulePixels, code.kind);
    if (plan.seal)
        paintSeal(sheet, plan.sealCenter, plan.sealRadius);
    return sheet;
}

} // namespace docscene::detail
