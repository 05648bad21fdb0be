#include "documentdetection.h"
#include "imageprocessing.h"
#include "pipelinestate.h"

#include <opencv2/imgproc.hpp>

#include <climits>

// Paints everything around the documents of a cut-out in the picture's mean
// colour and trims a margin of one hundredth of the width on every side.
void ImageProcessing::toWhiteBackgroup(const cv::Mat &src, cv::Mat &dst)
{
    if (src.empty()) {
        dst = src;
        return;
    }
    // The outlines of this very picture: a detection running meanwhile on
    // another thread must not decide what is kept here.
    documentdetection::Documents documents =
        documentdetection::keepDocuments(documentdetection::candidates(src));
    std::vector<std::vector<cv::Point>> contours = documents.outlines;
    pipelinestate::publishDocuments(*this, std::move(documents));

    contours.push_back({cv::Point(0, 0), cv::Point(src.cols, 0), cv::Point(src.cols, src.rows),
                        cv::Point(0, src.rows)});
    cv::Mat canvas = src;   // shares the caller's pixels, which are painted in place
    const cv::Scalar meanColour = cv::mean(canvas);
    // Filled together, the outlines leave each document's inside untouched
    // and paint the space between them and the border.
    cv::drawContours(canvas, contours, -1, meanColour, cv::FILLED, cv::LINE_4, cv::noArray(),
                     INT_MAX, cv::Point(0, 0));

    const int margin = int(src.cols * 0.01);
    const int width = src.cols - 2 * margin;
    const int height = src.rows - 2 * margin;
    if (width <= 0 || height <= 0) {
        dst = canvas;   // too flat to lose a margin
        return;
    }
    dst = canvas(cv::Rect(margin, margin, width, height));
}
