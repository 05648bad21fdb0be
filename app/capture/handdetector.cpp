#include "handdetector.h"

#include "pagesheet.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {

constexpr double kSheetMargin = 0.05;   // a hand reaching the sheet's edge counts
constexpr int kChangedLevel = 30;       // grey steps; camera noise stays well below
constexpr int kJoinPixels = 7;          // wider than an outline of the working-size preview

cv::Mat smoothedGrey(const cv::Mat &picture)
{
    cv::Mat grey;
    if (picture.channels() == 1)
        grey = picture.clone();
    else
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    cv::GaussianBlur(grey, grey, cv::Size(5, 5), 0);
    return grey;
}

} // namespace

double HandDetector::skinShare(const cv::Mat &picture, const cv::Rect &area)
{
    const cv::Rect whole(0, 0, picture.cols, picture.rows);
    const cv::Rect clipped = area & whole;
    if (picture.type() != CV_8UC3 || clipped.empty())
        return 0.0;
    cv::Mat ycrcb;
    cv::cvtColor(picture, ycrcb, cv::COLOR_BGR2YCrCb);
    cv::Mat skin;
    // Skin of every shade keeps its red and blue differences in a narrow box;
    // paper, ink, the table and red seals fall outside it.
    cv::inRange(ycrcb, cv::Scalar(60, 136, 80), cv::Scalar(245, 172, 125), skin);
    cv::morphologyEx(skin, skin, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));

    // Regions are joined across thin gaps first: the preview's document
    // outline is drawn right across an arm that reaches over the sheet.
    cv::Mat joined;
    cv::dilate(skin, joined, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kJoinPixels, kJoinPixels)));
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(joined, labels, stats, centroids, 8, CV_32S);
    std::vector<uchar> reachesEdge(size_t(std::max(count, 1)), 0);
    for (int label = 1; label < count; ++label) {
        const int left = stats.at<int>(label, cv::CC_STAT_LEFT);
        const int top = stats.at<int>(label, cv::CC_STAT_TOP);
        const int right = left + stats.at<int>(label, cv::CC_STAT_WIDTH);
        const int bottom = top + stats.at<int>(label, cv::CC_STAT_HEIGHT);
        reachesEdge[size_t(label)] = left == 0 || top == 0 || right == picture.cols || bottom == picture.rows;
    }
    int covered = 0;
    for (int y = clipped.y; y < clipped.y + clipped.height; ++y) {
        const int *row = labels.ptr<int>(y);
        const uchar *isSkin = skin.ptr<uchar>(y);
        for (int x = clipped.x; x < clipped.x + clipped.width; ++x)
            covered += isSkin[x] && reachesEdge[size_t(row[x])];
    }
    return double(covered) / double(clipped.area());
}

double HandDetector::motionShare(const cv::Mat &before, const cv::Mat &after, const cv::Rect &area)
{
    const cv::Rect clipped = area & cv::Rect(0, 0, after.cols, after.rows);
    if (before.size() != after.size() || before.type() != after.type() || clipped.empty())
        return 0.0;
    cv::Mat difference;
    cv::absdiff(before(clipped), after(clipped), difference);
    cv::Mat changed;
    cv::threshold(difference, changed, kChangedLevel, 255, cv::THRESH_BINARY);
    return double(cv::countNonZero(changed)) / double(clipped.area());
}

bool HandDetector::look(const PageSheet &sheet)
{
    if (sheet.small.empty()) {
        reset();
        return false;
    }
    const cv::Rect area = sheet.area(kSheetMargin);
    const cv::Mat grey = smoothedGrey(sheet.small);
    const bool moving = !previous.empty() && motionShare(previous, grey, area) >= kMotionShare;
    previous = grey;
    return moving || skinShare(sheet.small, area) >= kSkinShare;
}
