#include "sheetpainter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace docscene {
namespace {

// A dark table, darker towards the corners, with a faint fixed texture.
cv::Mat paintBase(cv::Size size, unsigned seed)
{
    cv::Mat base(size, CV_8UC3);
    cv::Mat1s texture(size);
    cv::RNG rng(seed * 2654435761u + 17);
    rng.fill(texture, cv::RNG::UNIFORM, -3, 4);
    for (int y = 0; y < size.height; ++y) {
        cv::Vec3b *row = base.ptr<cv::Vec3b>(y);
        const short *noise = texture[y];
        const double dy = 2.0 * y / size.height - 1.0;
        for (int x = 0; x < size.width; ++x) {
            const double dx = 2.0 * x / size.width - 1.0;
            const int level = int(36 - 5 * (dx * dx + dy * dy)) + noise[x];
            row[x] = cv::Vec3b(cv::saturate_cast<uchar>(level + 2), cv::saturate_cast<uchar>(level),
                               cv::saturate_cast<uchar>(level - 1));
        }
    }
    return base;
}

// Lays the upright sheet onto the frame through its sheet-to-frame transform,
// touching only the sheet's bounding box.
void placeSheet(cv::Mat &frame, const cv::Mat &sheet, const cv::Matx23d &toFrame)
{
    std::vector<cv::Point2f> corners;
    for (const cv::Point2d p : {cv::Point2d(0, 0), cv::Point2d(sheet.cols, 0),
                                cv::Point2d(sheet.cols, sheet.rows), cv::Point2d(0, sheet.rows)})
        corners.emplace_back(float(toFrame(0, 0) * p.x + toFrame(0, 1) * p.y + toFrame(0, 2)),
                             float(toFrame(1, 0) * p.x + toFrame(1, 1) * p.y + toFrame(1, 2)));
    const cv::Rect box = (cv::boundingRect(corners) + cv::Size(2, 2) - cv::Point(1, 1))
                         & cv::Rect(0, 0, frame.cols, frame.rows);
    if (box.empty())
        return;
    cv::Matx23d shifted = toFrame;
    shifted(0, 2) -= box.x;
    shifted(1, 2) -= box.y;
    cv::Mat target = frame(box);
    cv::warpAffine(sheet, target, cv::Mat(shifted), box.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
}

} // namespace

Frame render(const Options &options, int page)
{
    detail::Plan plan = detail::makePlan(options, page);
    Frame frame;
    frame.image = paintBase(options.size, options.seed);
    for (size_t i = 0; i < plan.sheets.size(); ++i)
        placeSheet(frame.image, detail::paintSheet(plan.sheets[i]), plan.geometry.sheets[i].toFrame);
    frame.geometry = std::move(plan.geometry);
    return frame;
}

cv::Mat emptyTable(const Options &options)
{
    return paintBase(options.size, options.seed);
}

cv::Mat darkFrame(cv::Size size)
{
    return cv::Mat(size, CV_8UC3, cv::Scalar(7, 6, 6));
}

} // namespace docscene
