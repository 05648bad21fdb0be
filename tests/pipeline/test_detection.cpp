#include "documentdetection.h"
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

class Detection : public testenv::CaptureTest
{
};

const cv::Size kFrame(1280, 720);

float areaOf(const cv::RotatedRect &r) { return r.size.width * r.size.height; }

TEST_F(Detection, SheetAboveTheAreaLimitIsFoundSmallerOneIgnored)
{
    const cv::Mat frame = testframes::scene(
        kFrame, {Sheet{{300, 360}, {300, 300}}, Sheet{{900, 360}, {250, 250}}});
    camera->correction = 1;
    const std::vector<cv::RotatedRect> single = camera->findSquares(frame);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_NEAR(single[0].center.x, 300, 2);
    EXPECT_NEAR(single[0].center.y, 360, 2);
    EXPECT_NEAR(areaOf(single[0]), 300.0 * 300.0, 1500);
    EXPECT_EQ(camera->documentContours.size(), 1u);
    EXPECT_FALSE(camera->largestContour.empty());

    camera->correction = 2;
    EXPECT_EQ(camera->findSquares(frame).size(), 1u);
    camera->correction = 0;
    EXPECT_TRUE(camera->findSquares(frame).empty());
}

TEST_F(Detection, NothingAboveTheLimitGivesOneAllZeroRectangleAndKeepsLargestOutline)
{
    camera->correction = 1;
    camera->findSquares(testframes::scene(kFrame, {Sheet{{640, 360}, {400, 300}}}));
    const std::vector<cv::Point> previous = camera->largestContour;
    ASSERT_FALSE(previous.empty());

    const std::vector<cv::RotatedRect> none =
        camera->findSquares(testframes::scene(kFrame, {Sheet{{640, 360}, {200, 200}}}));
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].size.width, 0.0f);
    EXPECT_EQ(none[0].size.height, 0.0f);
    EXPECT_EQ(none[0].center.x, 0.0f);
    EXPECT_TRUE(camera->documentContours.empty());
    EXPECT_EQ(camera->largestContour, previous);

    // A photo cut from the all-zero rectangle is empty.
    EXPECT_TRUE(camera->cutOutDocument(cv::Mat(kFrame, CV_8UC3, cv::Scalar::all(0)), none[0])
                    .isNull());
}

TEST_F(Detection, TwoSheetsInContourOrderWithCorrectionTwo)
{
    const cv::Mat frame = testframes::scene(
        kFrame, {Sheet{{300, 360}, {400, 300}, 10}, Sheet{{900, 360}, {300, 400}, -15}});
    camera->correction = 2;
    const std::vector<cv::RotatedRect> all = camera->findSquares(frame);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(camera->documentContours.size(), 2u);
    for (const cv::RotatedRect &r : all)
        EXPECT_NEAR(areaOf(r), 120000.0, 3000);
}

// The running maximum is kept truncated: equal fractional areas let the later
// document win, equal whole areas keep the earlier one.
TEST(KeepDocuments, TruncatedRunningMaximum)
{
    struct Case {
        const char *name;
        float secondHeight;   // first: 300 x 300.0016667 (area 90000.5)
        float firstHeight;
        bool secondWins;
    };
    const Case cases[] = {
        {"fractional tie", 300.0016667f, 300.0016667f, true},
        {"whole tie", 300.0f, 300.0f, false},
        {"second larger", 301.0f, 300.0f, true},
        {"second smaller", 299.0f, 300.0f, false},
    };
    for (const Case &c : cases) {
        std::vector<documentdetection::Candidate> found;
        found.push_back({cv::RotatedRect({100, 100}, {300, c.firstHeight}, 0), {{1, 1}}});
        found.push_back({cv::RotatedRect({500, 100}, {300, c.secondHeight}, 0), {{2, 2}}});
        // Below the limit, never kept.
        found.push_back({cv::RotatedRect({900, 100}, {271, 271}, 0), {{3, 3}}});
        const documentdetection::Documents kept = documentdetection::keepDocuments(found);
        EXPECT_EQ(kept.kept.size(), 2u) << c.name;
        EXPECT_EQ(kept.largest.center.x, c.secondWins ? 500.0f : 100.0f) << c.name;
        EXPECT_EQ(kept.largestOutline.front().x, c.secondWins ? 2 : 1) << c.name;
    }
}

TEST(KeepDocuments, AreaMustBeStrictlyAboveTheLimit)
{
    // 73500 exactly (350 x 210) is not a document; just above is.
    std::vector<documentdetection::Candidate> found{
        {cv::RotatedRect({0, 0}, {350, 210}, 0), {{0, 0}}},
        {cv::RotatedRect({0, 0}, {350, 210.01f}, 0), {{0, 0}}}};
    EXPECT_EQ(documentdetection::keepDocuments(found).kept.size(), 1u);
}

// A sheet's cut-out has the sheet's size and its text lines across the top.
TEST_F(Detection, CutOutIsStraightAndUpright)
{
    for (float angle : {0.0f, 12.0f, -12.0f, 30.0f, -30.0f, 90.0f}) {
        const Sheet sheet{{640, 360}, {460, 300}, angle};
        const cv::Mat frame = testframes::scene(kFrame, {sheet});
        camera->correction = 1;
        cv::Mat processed;
        const std::vector<cv::RotatedRect> found = camera->handleMat(frame, processed, false);
        ASSERT_EQ(found.size(), 1u);
        const cv::Mat cut = documentdetection::cutOut(processed, found[0]);
        // A quarter turn is indistinguishable for the finder: a sheet lying at
        // 90 degrees comes out in the orientation nearest to the frame's.
        const bool quarter = angle == 90.0f;
        const cv::Size expected = quarter ? cv::Size(300, 460) : cv::Size(460, 300);
        EXPECT_NEAR(cut.cols, expected.width, 4) << angle;
        EXPECT_NEAR(cut.rows, expected.height, 4) << angle;
        if (quarter)
            continue;
        const cv::Rect upper(30, 10, cut.cols - 60, cut.rows / 2 - 20);
        const cv::Rect lower(30, cut.rows / 2 + 10, cut.cols - 60, cut.rows / 2 - 20);
        EXPECT_GT(testframes::darkFraction(cut, upper), 0.15) << angle;
        EXPECT_LT(testframes::darkFraction(cut, lower), 0.02) << angle;
        // Lines run across: some row is dark nearly all the way.
        double bestRow = 0;
        for (int y = 0; y < cut.rows / 2; ++y)
            bestRow = std::max(bestRow,
                               testframes::darkFraction(cut, cv::Rect(60, y, cut.cols - 120, 1)));
        EXPECT_GT(bestRow, 0.9) << angle;

        const QImage picture = camera->cutOutDocument(processed, found[0]);
        EXPECT_EQ(picture.width(), cut.cols);
        camera->angle = 1;
        EXPECT_EQ(camera->cutOutDocument(processed, found[0]).width(), cut.rows);
        camera->angle = 0;
    }
}

TEST_F(Detection, GreyLiveAndBlackAndWhiteForManualPhotos)
{
    const cv::Mat frame = testframes::scene(kFrame, {Sheet{{640, 360}, {460, 300}}});
    camera->shootType = 1;
    cv::Mat live;
    camera->handleMat(frame, live, true);
    ASSERT_EQ(live.type(), CV_8UC1);
    EXPECT_EQ(live.at<uchar>(360, 640 - 200), testframes::kPaper);
    EXPECT_EQ(live.at<uchar>(10, 10), testframes::kBase);

    Cache::config->correctionMode = 3;
    cv::Mat photo;
    camera->handleMat(frame, photo, false);
    ASSERT_EQ(photo.type(), CV_8UC3);
    cv::Mat live3;
    camera->handleMat(frame, live3, true);
    EXPECT_EQ(live3.type(), CV_8UC1) << "live frames stay grey in manual mode";

    // Black and white: paper white, ink black, nothing in between.
    camera->shootType = 2;
    Cache::config->correctionMode = 0;
    cv::Mat bw;
    camera->handleMat(frame, bw, true);
    ASSERT_EQ(bw.type(), CV_8UC3);
    const cv::Point2f ink = testframes::toFrame(Sheet{{640, 360}, {460, 300}}, {230, 34});
    EXPECT_EQ(bw.at<cv::Vec3b>(cvRound(ink.y), cvRound(ink.x)), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(bw.at<cv::Vec3b>(360 + 100, 640), cv::Vec3b(255, 255, 255));
    cv::Mat grey;
    cv::cvtColor(bw, grey, cv::COLOR_BGR2GRAY);
    const cv::Mat between = (grey > 0) & (grey < 255);
    EXPECT_EQ(cv::countNonZero(between), 0);
}

TEST_F(Detection, RedSealKeptPureRedOnBlackAndWhitePage)
{
    const Sheet sheet{{640, 360}, {460, 300}, 0, true};
    const cv::Mat frame = testframes::scene(kFrame, {sheet});
    camera->shootType = 3;
    cv::Mat dst;
    camera->handleMat(frame, dst, false);
    ASSERT_EQ(dst.type(), CV_8UC3);
    const cv::Point seal = testframes::sealCentre(sheet);
    const cv::Point2f ring = testframes::toFrame(sheet, cv::Point2f(float(seal.x + testframes::kSealRadius),
                                                                    float(seal.y)));
    EXPECT_EQ(dst.at<cv::Vec3b>(cvRound(ring.y), cvRound(ring.x)), cv::Vec3b(0, 0, 255));
    const cv::Point2f ink = testframes::toFrame(sheet, {230, 34});
    const cv::Vec3b inkPixel = dst.at<cv::Vec3b>(cvRound(ink.y), cvRound(ink.x));
    EXPECT_EQ(inkPixel, cv::Vec3b(testframes::kInk, testframes::kInk, testframes::kInk));
    const cv::Point2f paper = testframes::toFrame(sheet, {100, 250});
    EXPECT_EQ(dst.at<cv::Vec3b>(cvRound(paper.y), cvRound(paper.x)), cv::Vec3b(255, 255, 255));
    // Red appears only on the seal ring.
    cv::Mat red;
    cv::inRange(dst, cv::Scalar(0, 0, 255), cv::Scalar(0, 0, 255), red);
    const cv::Point2f c = testframes::toFrame(sheet, cv::Point2f(seal));
    const cv::Rect around(cvRound(c.x) - 50, cvRound(c.y) - 50, 100, 100);
    EXPECT_GT(cv::countNonZero(red(around)), 500);
    EXPECT_EQ(cv::countNonZero(red) - cv::countNonZero(red(around)), 0);
}

// The red-seal picture equals the plain recipe: threshold added to the source
// with saturation, then every reddish pixel of the sum set to pure red.
TEST_F(Detection, RedSealModeMatchesThresholdPlusSourceRecipe)
{
    cv::Mat frame = testframes::scene({640, 480}, {Sheet{{320, 240}, {460, 300}, 10, true}});
    // Thin strokes of every hue and brightness across the page.
    cv::RNG rng(7);
    for (int i = 0; i < 60; ++i) {
        const cv::Point from(rng.uniform(100, 540), rng.uniform(100, 380));
        const cv::Point to(rng.uniform(100, 540), rng.uniform(100, 380));
        cv::line(frame, from, to,
                 cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256)), 3);
    }
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::Mat binary;
    cv::adaptiveThreshold(grey, binary, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 25, 40.0);
    cv::Mat binary3;
    cv::cvtColor(binary, binary3, cv::COLOR_GRAY2BGR);
    cv::Mat sum;
    cv::add(binary3, frame, sum);
    cv::Mat hsv;
    cv::cvtColor(sum, hsv, cv::COLOR_BGR2HSV);
    cv::Mat expected = sum.clone();
    for (int y = 0; y < sum.rows; ++y)
        for (int x = 0; x < sum.cols; ++x) {
            const cv::Vec3b p = hsv.at<cv::Vec3b>(y, x);
            if ((p[0] < 16 || (p[0] >= 125 && p[0] <= 180)) && p[2] > 45 && p[1] > 42)
                expected.at<cv::Vec3b>(y, x) = cv::Vec3b(0, 0, 255);
        }
    camera->shootType = 3;
    cv::Mat dst;
    camera->handleMat(frame, dst, false);
    EXPECT_EQ(cv::norm(dst, expected, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::countNonZero(binary == 0), 1000) << "the frame has dark and bright parts";
}

TEST_F(Detection, OutlinesOnLiveFramesOnlyInTheModesColourAndNeverOnTheFrame)
{
    const Sheet sheet{{640, 360}, {460, 300}};
    const cv::Mat frame = testframes::scene(kFrame, {sheet});
    const cv::Mat untouched = frame.clone();
    const cv::Point corner(640 - 230, 360 - 150);
    struct Case {
        int correction;
        bool live;
        cv::Vec3b atEdge;
    };
    const cv::Vec3b paper(testframes::kPaper, testframes::kPaper, testframes::kPaper);
    const Case cases[] = {{1, true, {0, 255, 0}}, {2, true, {0, 0, 255}}, {1, false, paper},
                          {0, true, paper}};
    for (const Case &c : cases) {
        camera->correction = c.correction;
        cv::Mat dst;
        camera->handleMat(frame, dst, c.live);
        EXPECT_EQ(dst.at<cv::Vec3b>(corner.y + 2, corner.x + 60), c.atEdge) << c.correction << c.live;
        EXPECT_EQ(cv::norm(frame, untouched, cv::NORM_INF), 0.0) << "the frame itself is never drawn on";
    }
}

TEST_F(Detection, FaceModeOnAnotherCameraNeitherDetectsNorTouchesTheFaceRegion)
{
    Cache::config->gnRenlian = true;
    Cache::config->cameraIndex = 1;
    camera->setObjectFace(cv::Rect(-150, -120, 900, 900));
    cv::Mat dst;
    camera->handleMat(testframes::scene(kFrame, {}), dst, true);
    EXPECT_EQ(camera->objectFaceNow(), cv::Rect(-150, -120, 900, 900));
}

TEST_F(Detection, FaceCutOutHasTheFaceRegionsSize)
{
    camera->setObjectFace(cv::Rect(100, 50, 500, 520));
    const cv::Mat frame = testframes::scene(kFrame, {});
    const QImage face = camera->cutOutFace(frame);
    EXPECT_EQ(face.size(), QSize(500, 520));
}

} // namespace
