#include "tablescene.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace docscene {
namespace {

constexpr double kPi = 3.14159265358979323846;

cv::Vec3f colourOf(double b, double g, double r)
{
    return cv::Vec3f(float(b), float(g), float(r));
}

// Wood: rings running along x, bent by a slow wave, darker late wood.
float grain(int x, int y, double period, double phase)
{
    const double bend = 18.0 * std::sin(x / 310.0 + phase) + 6.0 * std::sin(x / 97.0 + 2 * phase);
    const double ring = std::sin(2 * kPi * (y + bend) / period);
    return float(ring * ring * ring);
}

// What varies between two tables of one kind: the wood's phase, where two
// materials meet, how light a white desk is, how coarse a cloth is woven.
struct SurfaceLook {
    double phase = 0;
    int split = 0;
    float deskLevel = 1.0f; // gain on the white desk's base colour
    int band = 28;          // width of one gingham band, pixels
};

cv::Vec3f surfaceColour(Surface surface, int x, int y, cv::RNG &rng, const SurfaceLook &look)
{
    const double phase = look.phase;
    switch (surface) {
    case Surface::DarkMat: return colourOf(38, 36, 35);
    case Surface::WhiteDesk:
        // A melamine top: a faint, long grain and a little mottling.
        return colourOf(196, 200, 202) * look.deskLevel *
               (1.0f + 0.015f * grain(x, y, 61.0, phase) + 0.01f * float(rng.uniform(-1.0, 1.0)));
    case Surface::LightWood: return colourOf(118, 165, 205) * (1.0f + 0.10f * grain(x, y, 23.0, phase));
    case Surface::DarkWood: return colourOf(38, 62, 98) * (1.0f + 0.18f * grain(x, y, 17.0, phase));
    case Surface::GreyLaminate:
        return colourOf(132, 134, 133) * (1.0f + 0.04f * float(rng.uniform(-1.0, 1.0)));
    case Surface::PatternedCloth: {
        // Gingham: blue and off-white bands crossing, with a thin red thread.
        const int band = look.band;
        const bool bandX = (x / band) % 2 == 0, bandY = (y / band) % 2 == 0;
        const cv::Vec3f light = colourOf(200, 205, 210), blue = colourOf(150, 92, 48);
        cv::Vec3f c = bandX && bandY ? blue : (bandX || bandY ? 0.5f * (light + blue) : light);
        if (x % (2 * band) == 3 || y % (2 * band) == 3)
            c = colourOf(50, 50, 170);
        return c;
    }
    case Surface::Mixed:
        return x < look.split ? surfaceColour(Surface::LightWood, x, y, rng, look)
                              : surfaceColour(Surface::GreyLaminate, x, y, rng, look);
    }
    return colourOf(0, 0, 0);
}

cv::Mat3f paintSurface(const TableOptions &options, cv::RNG &rng)
{
    const cv::Size size = options.scene.size;
    cv::Mat3f table(size);
    SurfaceLook look;
    look.phase = rng.uniform(0.0, 2 * kPi);
    look.split = int(size.width * rng.uniform(0.3, 0.7));
    // Desks from light grey to nearly as white as paper; a coarse gingham and
    // a fine one, both scaled with the frame.
    look.deskLevel = float(rng.uniform(1.0, 1.1));
    look.band = std::max(4, int(std::lround((rng.uniform(0, 2) == 0 ? 28.0 : 14.0) * size.width / 1920.0)));
    for (int y = 0; y < size.height; ++y) {
        cv::Vec3f *row = table.ptr<cv::Vec3f>(y);
        for (int x = 0; x < size.width; ++x)
            row[x] = surfaceColour(options.surface, x, y, rng, look);
    }
    return table;
}

std::array<cv::Point2f, 4> cornersOf(const Sheet &sheet)
{
    const double w = sheet.rect.size.width, h = sheet.rect.size.height;
    std::array<cv::Point2f, 4> corners;
    const cv::Point2d local[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    for (int i = 0; i < 4; ++i) {
        const cv::Matx23d &m = sheet.toFrame;
        corners[i] = cv::Point2f(float(m(0, 0) * local[i].x + m(0, 1) * local[i].y + m(0, 2)),
                                 float(m(1, 0) * local[i].x + m(1, 1) * local[i].y + m(1, 2)));
    }
    return corners;
}

// The sheets of the dark-base scene, cut out along their edges (anti-aliased)
// and laid over the table.
void laySheets(cv::Mat3f &table, const Frame &scene)
{
    cv::Mat1b coverage(table.size(), uchar(0));
    for (const Sheet &sheet : scene.geometry.sheets) {
        const std::array<cv::Point2f, 4> corners = cornersOf(sheet);
        std::vector<cv::Point> fixedPoint;
        for (const cv::Point2f &c : corners)
            fixedPoint.emplace_back(cvRound(c.x * 16), cvRound(c.y * 16));
        cv::fillConvexPoly(coverage, fixedPoint, cv::Scalar(255), cv::LINE_AA, 4);
    }
    cv::Mat3f sheets;
    scene.image.convertTo(sheets, CV_32FC3);
    for (int y = 0; y < table.rows; ++y) {
        cv::Vec3f *row = table.ptr<cv::Vec3f>(y);
        const cv::Vec3f *paper = sheets.ptr<cv::Vec3f>(y);
        const uchar *alpha = coverage.ptr<uchar>(y);
        for (int x = 0; x < table.cols; ++x) {
            const float a = alpha[x] / 255.0f;
            row[x] = a * paper[x] + (1.0f - a) * row[x];
        }
    }
}

cv::Point2f nearestEdgePoint(const cv::Point2f &p, cv::Size size)
{
    const float toLeft = p.x, toRight = float(size.width) - p.x, toTop = p.y,
                toBottom = float(size.height) - p.y;
    const float nearest = std::min({toLeft, toRight, toTop, toBottom});
    if (nearest == toLeft)
        return {-40.0f, p.y};
    if (nearest == toRight)
        return {float(size.width) + 40.0f, p.y};
    if (nearest == toTop)
        return {p.x, -40.0f};
    return {p.x, float(size.height) + 40.0f};
}

void paintOccluder(cv::Mat3f &table, const TableFrame &frame, Occluder occluder, cv::RNG &rng)
{
    if (occluder == Occluder::None || frame.corners.empty())
        return;
    const std::array<cv::Point2f, 4> &corners = frame.corners.front();
    const cv::Point2f corner = corners[size_t(rng.uniform(0, 4))];
    const float side = float(cv::norm(corners[1] - corners[0]));
    if (occluder == Occluder::Hand) {
        // Fingertips over the corner, the arm out to the nearest edge of the frame.
        const cv::Point2f edge = nearestEdgePoint(corner, table.size());
        const cv::Scalar skin(115, 150, 205);
        cv::line(table, corner, edge, skin, int(side * 0.22f), cv::LINE_AA);
        cv::ellipse(table, corner, cv::Size(int(side * 0.13f), int(side * 0.10f)), rng.uniform(0.0, 180.0), 0,
                    360, skin, cv::FILLED, cv::LINE_AA);
    } else {
        const cv::RotatedRect clip(corner, cv::Size2f(side * 0.16f, side * 0.10f),
                                   float(rng.uniform(0.0, 180.0)));
        cv::Point2f points[4];
        clip.points(points);
        std::vector<cv::Point> outline(points, points + 4);
        cv::fillConvexPoly(table, outline, cv::Scalar(30, 30, 32), cv::LINE_AA);
    }
}

// Vignetting, a light gradient across the table and a soft shadow.
void light(cv::Mat3f &picture, cv::RNG &rng)
{
    const double gx = rng.uniform(-0.12, 0.12), gy = rng.uniform(-0.12, 0.12);
    const cv::Point2d shadow(rng.uniform(0.0, 1.0), rng.uniform(0.0, 1.0));
    const double shadowRadius = rng.uniform(0.2, 0.4), shadowDepth = rng.uniform(0.1, 0.25);
    for (int y = 0; y < picture.rows; ++y) {
        cv::Vec3f *row = picture.ptr<cv::Vec3f>(y);
        const double fy = double(y) / picture.rows;
        for (int x = 0; x < picture.cols; ++x) {
            const double fx = double(x) / picture.cols;
            const double r2 = (fx - 0.5) * (fx - 0.5) + (fy - 0.5) * (fy - 0.5);
            const double d2 = ((fx - shadow.x) * (fx - shadow.x) + (fy - shadow.y) * (fy - shadow.y)) /
                              (shadowRadius * shadowRadius);
            const double gain = (1.0 - 0.6 * r2) * (1.0 + gx * (fx - 0.5) + gy * (fy - 0.5)) *
                                (1.0 - shadowDepth * std::exp(-d2));
            row[x] *= float(gain);
        }
    }
}

cv::Matx33d perspectiveOf(cv::Size size, double share, cv::RNG &rng)
{
    const cv::Point2f from[4] = {
        {0, 0}, {float(size.width), 0}, {float(size.width), float(size.height)}, {0, float(size.height)}};
    cv::Point2f to[4];
    for (int i = 0; i < 4; ++i)
        to[i] = from[i] + cv::Point2f(float(rng.uniform(-share, share) * size.width),
                                      float(rng.uniform(-share, share) * size.height));
    return cv::getPerspectiveTransform(from, to);
}

} // namespace

TableFrame renderOnTable(const TableOptions &options, int page)
{
    cv::RNG rng(options.scene.seed * 2246822519u + unsigned(page) * 3266489917u + 7u);
    TableFrame frame;
    cv::Mat3f picture = paintSurface(options, rng);
    if (options.scene.sheets > 0) {
        const Frame scene = render(options.scene, page);
        laySheets(picture, scene);
        for (const Sheet &sheet : scene.geometry.sheets)
            frame.corners.push_back(cornersOf(sheet));
    }
    paintOccluder(picture, frame, options.occluder, rng);
    if (options.unevenLight)
        light(picture, rng);

    const cv::Matx33d homography = perspectiveOf(picture.size(), options.perspective, rng);
    cv::Mat3f seen;
    cv::warpPerspective(picture, seen, homography, picture.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    for (std::array<cv::Point2f, 4> &corners : frame.corners) {
        std::vector<cv::Point2f> moved;
        cv::perspectiveTransform(std::vector<cv::Point2f>(corners.begin(), corners.end()), moved, homography);
        std::copy(moved.begin(), moved.end(), corners.begin());
    }

    cv::Mat3f noise(seen.size());
    rng.fill(noise, cv::RNG::NORMAL, 0.0, options.noise);
    seen += noise;
    seen.convertTo(frame.image, CV_8UC3);
    if (options.jpegQuality > 0) {
        std::vector<uchar> bytes;
        cv::imencode(".jpg", frame.image, bytes, {cv::IMWRITE_JPEG_QUALITY, options.jpegQuality});
        frame.image = cv::imdecode(bytes, cv::IMREAD_COLOR);
    }
    return frame;
}

const char *surfaceName(Surface surface)
{
    switch (surface) {
    case Surface::DarkMat: return "dark mat";
    case Surface::WhiteDesk: return "white desk";
    case Surface::LightWood: return "light wood";
    case Surface::DarkWood: return "dark wood";
    case Surface::GreyLaminate: return "grey laminate";
    case Surface::PatternedCloth: return "patterned cloth";
    case Surface::Mixed: return "wood and laminate";
    }
    return "";
}

} // namespace docscene

double docscene::cornerError(const cv::RotatedRect &rect, const std::array<cv::Point2f, 4> &sheet)
{
    cv::Point2f corners[4];
    rect.points(corners);
    double best = 1e9;
    for (int start = 0; start < 4; ++start)
        for (int direction : {1, 3}) {
            double worst = 0;
            for (int i = 0; i < 4; ++i)
                worst = std::max(worst,
                                 double(cv::norm(corners[(start + direction * i) % 4] - sheet[size_t(i)])));
            best = std::min(best, worst);
        }
    return best;
}
