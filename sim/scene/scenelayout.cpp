#include "codepainter.h"
#include "sheetpainter.h"

#include <algorithm>
#include <cmath>

namespace docscene {
namespace detail {

std::uint64_t Random::next()
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Random::uniform(double low, double high)
{
    return low + (high - low) * double(next() >> 11) * (1.0 / 9007199254740992.0);
}

int Random::between(int low, int high)
{
    return low + int(next() % std::uint64_t(high - low + 1));
}

std::uint64_t mixSeed(std::uint64_t a, std::uint64_t b)
{
    Random r(a * 0x100000001B3ull ^ (b + 0x632BE59BD9B4E019ull));
    return r.next();
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPortrait = 0.70710678118654752;   // A-series sheets: width = height / sqrt(2)

cv::Point2f toFramePoint(const cv::Matx23d &m, double x, double y)
{
    return cv::Point2f(float(m(0, 0) * x + m(0, 1) * y + m(0, 2)),
                       float(m(1, 0) * x + m(1, 1) * y + m(1, 2)));
}

// Scales the modules to whole pixels inside `area` (left and top aligned);
// false when even one pixel per module does not fit.
bool fitCode(CodePlan &code, const cv::Rect &area)
{
    if (code.modules.empty())
        return false;
    const int module = std::min(area.width / code.modules.cols,
                                code.kind == CodeKind::Qr ? area.height / code.modules.rows : area.width);
    if (module < 1)
        return false;
    code.modulePixels = module;
    const int height = code.kind == CodeKind::Qr ? module * code.modules.rows : area.height;
    code.symbol = cv::Rect(area.x, area.y, module * code.modules.cols, height);
    return true;
}

SheetPlan planSheet(cv::Size size, bool withSeal, const Options &options, bool withCodes,
                    std::uint64_t seed)
{
    SheetPlan plan;
    plan.size = size;
    plan.seed = seed;
    const int w = size.width;
    const int h = size.height;
    const int margin = int(std::lround(0.08 * w));
    plan.heading = cv::Rect(margin, margin, int(std::lround(0.42 * w)), int(std::lround(0.055 * h)));
    plan.linePitch = std::max(8, int(std::lround(h / 34.0)));
    plan.titleBaseline = plan.heading.br().y + int(std::lround(plan.linePitch * 1.6));
    int topZoneBottom = plan.titleBaseline + plan.linePitch / 2;
    plan.textBottom = h - margin;

    if (withCodes) {
        CodePlan qr{CodeKind::Qr, options.qr, {}, 0, encodeModules(CodeKind::Qr, options.qr)};
        // The QR code keeps clear of the right margin and the Code 128 of the
        // bottom one: turned pages are told by where the letterhead lies, so
        // nothing as dense may sit where a turned letterhead would.
        const int side = int(std::lround(0.26 * w));
        const int qrRight = w - int(std::lround(0.115 * w));
        if (fitCode(qr, cv::Rect(qrRight - side, margin, side, side))) {
            qr.symbol.x = qrRight - qr.symbol.width;   // right aligned
            topZoneBottom = std::max(topZoneBottom, qr.symbol.br().y + 2 * qr.modulePixels);
            plan.codes.push_back(qr);
        }
        CodePlan ean{CodeKind::Ean13, options.ean13, {}, 0, encodeModules(CodeKind::Ean13, options.ean13)};
        const cv::Rect eanArea(margin, plan.titleBaseline + plan.linePitch, int(std::lround(0.5 * w)),
                               int(std::lround(0.06 * h)));
        if (fitCode(ean, eanArea)) {
            topZoneBottom = std::max(topZoneBottom, ean.symbol.br().y + plan.linePitch);
            plan.codes.push_back(ean);
        }
        CodePlan bar{CodeKind::Code128, options.code128, {}, 0,
                     encodeModules(CodeKind::Code128, options.code128)};
        const int band = int(std::lround(0.08 * h));
        const int barBottom = int(std::lround(0.885 * h));
        if (fitCode(bar, cv::Rect(margin, barBottom - band, w - 2 * margin, band))) {
            plan.textBottom = bar.symbol.y - plan.linePitch;
            plan.codes.push_back(bar);
        }
    }
    plan.textTop = topZoneBottom;

    plan.seal = withSeal;
    if (withSeal) {
        plan.sealRadius = float(0.12 * w);
        plan.sealCenter = cv::Point2f(float(w - margin - plan.sealRadius * 1.1),
                                      float(plan.textBottom - plan.sealRadius * 0.9));
    }
    return plan;
}

} // namespace

Plan makePlan(const Options &options, int page)
{
    Plan plan;
    Geometry &geometry = plan.geometry;
    geometry.size = options.size;
    geometry.page = page;
    const int count = std::clamp(options.sheets, 1, 4);
    const int cols = count <= 3 ? count : 2;
    const int rows = (count + cols - 1) / cols;
    const double cellW = double(options.size.width) / cols;
    const double cellH = double(options.size.height) / rows;
    const bool anyCode = !options.qr.empty() || !options.code128.empty() || !options.ean13.empty();

    for (int i = 0; i < count; ++i) {
        Random rnd(mixSeed(mixSeed(options.seed, std::uint64_t(page)), std::uint64_t(i)));
        const double degrees = options.fixedAngle ? options.angle
                                                  : rnd.uniform(-options.maxAngle, options.maxAngle);
        const double radians = degrees * kPi / 180.0;
        const double cosA = std::cos(radians), sinA = std::sin(radians);
        const double c = std::abs(cosA), s = std::abs(sinA);
        const double fill = 0.80 * rnd.uniform(0.9, 1.0);
        const double height = std::min(fill * cellW / (kPortrait * c + s), fill * cellH / (kPortrait * s + c));
        const cv::Size sheetSize(std::max(16, int(std::lround(kPortrait * height))),
                                 std::max(16, int(std::lround(height))));
        const double boxW = sheetSize.width * c + sheetSize.height * s;
        const double boxH = sheetSize.width * s + sheetSize.height * c;
        const double slackX = std::max(0.0, (cellW - boxW) / 2 * 0.7);
        const double slackY = std::max(0.0, (cellH - boxH) / 2 * 0.7);
        const cv::Point2d center((i % cols + 0.5) * cellW + rnd.uniform(-slackX, slackX),
                                 (i / cols + 0.5) * cellH + rnd.uniform(-slackY, slackY));

        Sheet sheet;
        const double hw = sheetSize.width / 2.0, hh = sheetSize.height / 2.0;
        sheet.toFrame = cv::Matx23d(cosA, -sinA, center.x - (cosA * hw - sinA * hh),
                                    sinA, cosA, center.y - (sinA * hw + cosA * hh));
        sheet.rect = cv::RotatedRect(cv::Point2f(center), cv::Size2f(sheetSize), float(degrees));

        const bool withCodes = anyCode && i == count - 1;
        SheetPlan sheetPlan = planSheet(sheetSize, options.seal && i == 0, options, withCodes,
                                        mixSeed(rnd.next(), std::uint64_t(page)));
        sheet.heading = cv::Rect2d(sheetPlan.heading);
        sheet.textLines = textLineCount(sheetPlan);
        if (sheetPlan.seal)
            geometry.seals.push_back(Seal{i, toFramePoint(sheet.toFrame, sheetPlan.sealCenter.x,
                                                          sheetPlan.sealCenter.y),
                                          sheetPlan.sealRadius});
        for (const CodePlan &code : sheetPlan.codes) {
            const cv::Rect &r = code.symbol;
            Code placed;
            placed.kind = code.kind;
            placed.text = code.text;
            placed.sheet = i;
            placed.modulePixels = code.modulePixels;
            placed.corners = {toFramePoint(sheet.toFrame, r.x, r.y),
                              toFramePoint(sheet.toFrame, r.x + r.width, r.y),
                              toFramePoint(sheet.toFrame, r.x + r.width, r.y + r.height),
                              toFramePoint(sheet.toFrame, r.x, r.y + r.height)};
            geometry.codes.push_back(placed);
        }
        geometry.sheets.push_back(sheet);
        plan.sheets.push_back(std::move(sheetPlan));
    }
    return plan;
}

} // namespace detail

Geometry layout(const Options &options, int page)
{
    return detail::makePlan(options, page).geometry;
}

} // namespace docscene
