#include "testframes.h"

#include <opencv2/imgproc.hpp>

namespace testframes {

namespace {

cv::Mat sheetPicture(const Sheet &sheet)
{
    cv::Mat paper(sheet.size, CV_8UC3, cv::Scalar(kPaper, kPaper, kPaper));
    const int left = sheet.size.width / 10;
    const int right = sheet.size.width - left;
    // Lines of 8 pixels, thinner than the local mean window, in the upper half.
    for (int y = sheet.size.height / 10; y < sheet.size.height / 2; y += 24)
        cv::rectangle(paper, cv::Point(left, y), cv::Point(right, y + 7),
                      cv::Scalar(kInk, kInk, kInk), cv::FILLED);
    if (sheet.seal)
        cv::circle(paper, sealCentre(sheet), kSealRadius, cv::Scalar(0, 0, 200), 6, cv::LINE_8);
    return paper;
}

cv::Mat placement(const Sheet &sheet)
{
    cv::Mat m = cv::getRotationMatrix2D(
        cv::Point2f(sheet.size.width / 2.0f, sheet.size.height / 2.0f), sheet.angle, 1.0);
    m.at<double>(0, 2) += sheet.centre.x - sheet.size.width / 2.0;
    m.at<double>(1, 2) += sheet.centre.y - sheet.size.height / 2.0;
    return m;
}

} // namespace

cv::Point sealCentre(const Sheet &sheet)
{
    return cv::Point(sheet.size.width * 3 / 4, sheet.size.height * 3 / 4);
}

cv::Point2f toFrame(const Sheet &sheet, cv::Point2f onSheet)
{
    const cv::Mat m = placement(sheet);
    return cv::Point2f(
        float(m.at<double>(0, 0) * onSheet.x + m.at<double>(0, 1) * onSheet.y + m.at<double>(0, 2)),
        float(m.at<double>(1, 0) * onSheet.x + m.at<double>(1, 1) * onSheet.y + m.at<double>(1, 2)));
}

cv::Mat scene(cv::Size frameSize, const std::vector<Sheet> &sheets)
{
    cv::Mat frame(frameSize, CV_8UC3, cv::Scalar(kBase, kBase, kBase));
    for (const Sheet &sheet : sheets) {
        const cv::Mat m = placement(sheet);
        cv::Mat warped;
        cv::Mat mask;
        cv::warpAffine(sheetPicture(sheet), warped, m, frameSize, cv::INTER_LINEAR,
                       cv::BORDER_CONSTANT, cv::Scalar::all(0));
        cv::warpAffine(cv::Mat(sheet.size, CV_8UC1, cv::Scalar(255)), mask, m, frameSize,
                       cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
        warped.copyTo(frame, mask);
    }
    return frame;
}

double darkFraction(const cv::Mat &picture, const cv::Rect &region)
{
    cv::Mat grey;
    if (picture.channels() == 1)
        grey = picture(region);
    else
        cv::cvtColor(picture(region), grey, cv::COLOR_BGR2GRAY);
    return double(cv::countNonZero(grey < 100)) / double(region.area());
}

} // namespace testframes
