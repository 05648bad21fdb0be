#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Frames as a document camera sees them: a dark base with bright sheets,
// each with thin dark text lines across its upper half and, optionally, a
// red seal ring in its lower right.
namespace testframes {

constexpr int kBase = 30;
constexpr int kPaper = 230;
constexpr int kInk = 40;

struct Sheet {
    cv::Point2f centre;
    cv::Size size;        // width x height of the sheet itself
    float angle = 0.0f;   // degrees, counter-clockwise on screen
    bool seal = false;
};

cv::Mat scene(cv::Size frameSize, const std::vector<Sheet> &sheets);

// Where a point of the sheet (in sheet coordinates) lies in the frame.
cv::Point2f toFrame(const Sheet &sheet, cv::Point2f onSheet);

// Sheet coordinates of the seal ring's centre and its radius.
cv::Point sealCentre(const Sheet &sheet);
constexpr int kSealRadius = 40;

// Fraction of dark pixels (grey below 100) in a region of a picture.
double darkFraction(const cv::Mat &picture, const cv::Rect &region);

} // namespace testframes
