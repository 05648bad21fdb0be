#pragma once

#include <opencv2/core.hpp>

#include <vector>

// The document finder behind ImageProcessing::findSquares, as plain functions
// so callers that need the outlines of their own picture (the white
// background) are not at the mercy of another thread's detection.
namespace documentdetection {

// Smallest document: width times height of its rotated rectangle must be
// strictly above this, for detection and for drawing alike.
constexpr float kMinDocumentArea = 73500.0f;

struct Candidate {
    cv::RotatedRect rect;
    std::vector<cv::Point> outline;
};

struct Documents {
    std::vector<cv::RotatedRect> kept;              // every document, in contour order
    std::vector<std::vector<cv::Point>> outlines;   // their outlines, same order
    cv::RotatedRect largest{cv::Point2f(0, 0), cv::Size2f(0, 0), 0};  // all zeros when none
    std::vector<cv::Point> largestOutline;          // empty when none
    bool found() const { return !kept.empty(); }
};

// Outer outlines of everything brighter than the fixed threshold, as
// rotated rectangles. `image` is 8-bit BGR or one channel.
std::vector<Candidate> candidates(const cv::Mat &image);

// Keeps the candidates above the area limit. The running maximum is held as
// a truncated integer, so a later document of the same fractional area
// replaces an earlier one. A picture decoded at 1/reduction of the camera's
// size has its limit reduced alike, so the same sheets count.
Documents keepDocuments(std::vector<Candidate> found, int reduction = 1);

// The area limit for a picture at 1/reduction of the camera's size.
float minDocumentArea(int reduction);

// What findSquares returns for a correction mode: 1 the largest (one
// all-zero rectangle when none), 2 all kept, anything else nothing.
std::vector<cv::RotatedRect> resultFor(const Documents &documents, int correction);

// Angle and size of the straightening rotation: the rectangle turned by the
// least angle that makes it upright, whichever angle convention the
// library's minAreaRect follows.
void uprightAngleAndSize(const cv::RotatedRect &rect, double &angle, int &width, int &height);

// Draws the outlines of the detections above the area limit, green for a
// single document (correction 1) and red otherwise, 10 pixels wide.
// `rgbOrder` is for pictures whose channels are already red, green, blue.
// On a picture at 1/reduction the limit and the width shrink alike, so the
// outlines look the same once the picture is shown.
void drawOutlines(cv::Mat &dst, const std::vector<cv::RotatedRect> &detections, int correction,
                  bool rgbOrder = false, int reduction = 1);

// `length` of the camera's pixels on a picture at 1/reduction, at least 1.
int reducedLength(int length, int reduction);

// Straightens one document of `processed` (white outside the picture).
cv::Mat cutOut(const cv::Mat &processed, const cv::RotatedRect &rect);

} // namespace documentdetection
