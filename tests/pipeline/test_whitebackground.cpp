#include "imageprocessing.h"
#include "testframes.h"

#include "cache.h"
#include "config.h"
#include "capturetest.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <memory>

using testframes::Sheet;

namespace {

class WhiteBackground : public testenv::CaptureTest
{
};

TEST_F(WhiteBackground, TrimsOneHundredthOfTheWidthOnEverySide)
{
    struct Case {
        cv::Size in;
        cv::Size out;
    };
    const Case cases[] = {{{1000, 800}, {980, 780}}, {{99, 60}, {99, 60}}, {{100, 60}, {98, 58}}};
    for (const Case &c : cases) {
        cv::Mat picture(c.in, CV_8UC3, cv::Scalar(10, 20, 30));
        cv::Mat dst;
        camera->toWhiteBackgroup(picture, dst);
        EXPECT_EQ(dst.size(), c.out) << c.in;
        EXPECT_EQ(dst.data, picture.data + (c.in.width - c.out.width) / 2 * (picture.step + 3))
            << "a region of the picture itself";
    }
}

TEST_F(WhiteBackground, NoDocumentGivesOneFlatMeanColour)
{
    cv::Mat picture(400, 600, CV_8UC3, cv::Scalar(20, 40, 60));
    cv::rectangle(picture, cv::Rect(100, 100, 150, 150), cv::Scalar(200, 200, 200), cv::FILLED);
    const cv::Scalar mean = cv::mean(picture);
    cv::Mat dst;
    camera->toWhiteBackgroup(picture, dst);
    double minValue = 0;
    double maxValue = 0;
    std::vector<cv::Mat> channels;
    cv::split(dst, channels);
    for (int i = 0; i < 3; ++i) {
        cv::minMaxLoc(channels[size_t(i)], &minValue, &maxValue);
        EXPECT_EQ(minValue, maxValue);
        EXPECT_NEAR(minValue, mean[i], 0.5);
    }
}

TEST_F(WhiteBackground, TwoSheetsKeepTheirContentTheSpaceBetweenTakesTheMean)
{
    const Sheet left{{250, 300}, {300, 400}, 8};
    const Sheet right{{750, 300}, {300, 400}, -8};
    cv::Mat picture = testframes::scene({1000, 600}, {left, right});
    const cv::Mat before = picture.clone();
    const cv::Scalar mean = cv::mean(before);
    cv::Mat dst;
    camera->toWhiteBackgroup(picture, dst);
    ASSERT_EQ(dst.size(), cv::Size(980, 580));
    const int d = 10;
    for (const Sheet &sheet : {left, right}) {
        for (cv::Point2f p : {cv::Point2f(150, 34), cv::Point2f(150, 300), cv::Point2f(40, 60)}) {
            const cv::Point2f at = testframes::toFrame(sheet, p);
            const cv::Point q(cvRound(at.x), cvRound(at.y));
            EXPECT_EQ(dst.at<cv::Vec3b>(q.y - d, q.x - d), before.at<cv::Vec3b>(q.y, q.x));
        }
    }
    const cv::Vec3b between = dst.at<cv::Vec3b>(300 - d, 500 - d);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(between[i], mean[i], 1.0);
    EXPECT_EQ(camera->documentContours.size(), 2u);
}

TEST_F(WhiteBackground, GreyPictureStaysOneChannelFilledWithItsGreyMean)
{
    camera->shootType = 1;
    cv::Mat colour = testframes::scene({800, 600}, {Sheet{{400, 300}, {400, 300}}});
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    const double mean = cv::mean(grey)[0];
    cv::Mat dst;
    camera->toWhiteBackgroup(grey, dst);
    ASSERT_EQ(dst.type(), CV_8UC1);
    EXPECT_NEAR(dst.at<uchar>(20, 20), mean, 0.5);
    EXPECT_EQ(dst.at<uchar>(300 - 8, 400 - 8), testframes::kPaper);
}

} // namespace
