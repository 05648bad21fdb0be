// The synthetic scene against its own geometry: the pixels are where the
// geometry says, sheets separate from the table at the document threshold,
// cut-outs can be told upright, and the codes decode to their texts.
#include "docscene.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#ifdef SCENE_TEST_DECODES
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>

namespace {

cv::Mat greyOf(const cv::Mat &image)
{
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

// The sheet straightened back out of the frame through its own transform.
cv::Mat cutOut(const docscene::Frame &frame, const docscene::Sheet &sheet)
{
    cv::Mat upright;
    cv::warpAffine(frame.image, upright, cv::Mat(sheet.toFrame), cv::Size(sheet.rect.size),
                   cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
    return upright;
}

bool insideAnySheet(const docscene::Geometry &geometry, cv::Point2f point, float margin)
{
    for (const docscene::Sheet &sheet : geometry.sheets) {
        cv::Point2f corners[4];
        sheet.rect.points(corners);
        const std::vector<cv::Point2f> outline(corners, corners + 4);
        if (cv::pointPolygonTest(outline, point, true) > -margin)
            return true;
    }
    return false;
}

TEST(Scene, SheetsAreBrightOnADarkTableWithDarkText)
{
    docscene::Options options;
    options.sheets = 2;
    const docscene::Frame frame = docscene::render(options);
    ASSERT_EQ(frame.image.size(), options.size);
    ASSERT_EQ(frame.image.type(), CV_8UC3);
    ASSERT_EQ(frame.geometry.sheets.size(), 2u);
    const cv::Mat grey = greyOf(frame.image);

    // Away from every sheet the table stays below its bound.
    for (int y = 0; y < grey.rows; y += 7) {
        for (int x = 0; x < grey.cols; x += 7) {
            if (!insideAnySheet(frame.geometry, cv::Point2f(float(x), float(y)), 3)) {
                ASSERT_LE(grey.at<uchar>(y, x), docscene::kBaseMaxLevel) << x << "," << y;
            }
        }
    }

    for (const docscene::Sheet &sheet : frame.geometry.sheets) {
        cv::Point2f corners[4];
        sheet.rect.points(corners);
        for (const cv::Point2f &corner : corners)
            EXPECT_TRUE(cv::Rect2f(0, 0, float(grey.cols), float(grey.rows)).contains(corner));
        const cv::Mat page = greyOf(cutOut(frame, sheet));
        // Mostly paper, with ink of the text lines on it.
        cv::Mat paper = page > docscene::kPaperMinLevel;
        cv::Mat ink = page < docscene::kInkMaxLevel;
        EXPECT_GT(cv::countNonZero(paper), page.total() * 6 / 10);
        EXPECT_GT(cv::countNonZero(ink), page.total() / 200);
        EXPECT_GT(sheet.textLines, 10);
    }
}

TEST(Scene, SheetsSeparateAtTheDocumentThresholdWhereTheGeometrySays)
{
    for (int sheets = 1; sheets <= 4; ++sheets) {
        for (const cv::Size size : {cv::Size(1920, 1080), cv::Size(3264, 2448)}) {
            docscene::Options options;
            options.sheets = sheets;
            options.size = size;
            options.seed = unsigned(7 * sheets);
            options.qr = "SCENE";
            options.code128 = "DS-1";
            const docscene::Frame frame = docscene::render(options, sheets);
            cv::Mat binary;
            cv::threshold(greyOf(frame.image), binary, 60, 255, cv::THRESH_BINARY);
            std::vector<std::vector<cv::Point>> contours;
            cv::findContours(binary, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
            std::vector<cv::RotatedRect> found;
            for (const auto &contour : contours)
                if (cv::contourArea(contour) > 73500)
                    found.push_back(cv::minAreaRect(contour));
            ASSERT_EQ(found.size(), size_t(sheets)) << sheets << " sheets at " << size;
            for (const docscene::Sheet &sheet : frame.geometry.sheets) {
                const auto match = std::min_element(found.begin(), found.end(), [&](auto &a, auto &b) {
                    return cv::norm(a.center - sheet.rect.center) < cv::norm(b.center - sheet.rect.center);
                });
                EXPECT_LT(cv::norm(match->center - sheet.rect.center), 3.0);
                const float shorter = std::min(match->size.width, match->size.height);
                const float longer = std::max(match->size.width, match->size.height);
                EXPECT_NEAR(shorter, sheet.rect.size.width, 4.0);
                EXPECT_NEAR(longer, sheet.rect.size.height, 4.0);
            }
        }
    }
}

TEST(Scene, TheSameOptionsAndPageDrawTheSameScene)
{
    docscene::Options options;
    options.size = cv::Size(1280, 720);
    options.sheets = 3;
    const docscene::Frame a = docscene::render(options, 2);
    const docscene::Frame b = docscene::render(options, 2);
    EXPECT_EQ(cv::norm(a.image, b.image, cv::NORM_INF), 0.0);
    const docscene::Frame turned = docscene::render(options, 3);
    EXPECT_GT(cv::norm(a.image, turned.image, cv::NORM_L1), 0.0);
    EXPECT_NE(a.geometry.sheets[0].rect.center, turned.geometry.sheets[0].rect.center);
    EXPECT_EQ(docscene::layout(options, 3).sheets[1].rect.center, turned.geometry.sheets[1].rect.center);

    options.fixedAngle = true;
    options.angle = -7.5;
    for (const docscene::Sheet &sheet : docscene::layout(options, 5).sheets)
        EXPECT_FLOAT_EQ(sheet.rect.angle, -7.5f);
}

TEST(Scene, SealIsRedAndRoundOnTheFirstSheet)
{
    docscene::Options options;
    options.sheets = 2;
    const docscene::Frame frame = docscene::render(options);
    ASSERT_EQ(frame.geometry.seals.size(), 1u);
    const docscene::Seal &seal = frame.geometry.seals[0];
    EXPECT_EQ(seal.sheet, 0);
    cv::Mat hsv;
    cv::cvtColor(frame.image, hsv, cv::COLOR_BGR2HSV);
    // Along the ring every sampled point is strongly red.
    int red = 0;
    for (int k = 0; k < 36; ++k) {
        const double a = k * CV_PI / 18;
        const cv::Point p(cvRound(seal.center.x + seal.radius * std::cos(a)),
                          cvRound(seal.center.y + seal.radius * std::sin(a)));
        const cv::Vec3b v = hsv.at<cv::Vec3b>(p);
        if ((v[0] < 10 || v[0] > 170) && v[1] > 150 && v[2] > 150)
            ++red;
    }
    EXPECT_GE(red, 32);
    options.seal = false;
    EXPECT_TRUE(docscene::layout(options).seals.empty());
}

// The frame as the colour modes and the files deliver it: grey, black and
// white by the local threshold of the station's black-and-white mode, and
// through JPEG.
std::vector<cv::Mat> lookingsOf(const cv::Mat &frame)
{
    std::vector<cv::Mat> lookings{frame, greyOf(frame)};
    cv::Mat binary;
    cv::adaptiveThreshold(greyOf(frame), binary, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 25, 50.0);
    lookings.push_back(binary);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", frame, jpeg, {cv::IMWRITE_JPEG_QUALITY, 75});
    lookings.push_back(cv::imdecode(jpeg, cv::IMREAD_COLOR));
    return lookings;
}

TEST(Scene, CutOutsAreToldUprightInEveryQuarterTurn)
{
    for (const cv::Size size : {cv::Size(1920, 1080), cv::Size(3264, 2448)}) {
        docscene::Options options;
        options.size = size;
        options.sheets = 2;
        options.qr = "UPRIGHT";
        options.code128 = "DS-000123";
        options.ean13 = "5901234123457";
        docscene::Frame frame = docscene::render(options, 4);
        const std::vector<cv::Mat> lookings = lookingsOf(frame.image);
        for (size_t look = 0; look < lookings.size(); ++look) {
            frame.image = lookings[look];
            for (const docscene::Sheet &sheet : frame.geometry.sheets) {
                const cv::Mat upright = cutOut(frame, sheet);
                EXPECT_EQ(docscene::quarterTurns(upright), 0) << size << " look " << look;
                cv::Mat turned;
                cv::rotate(upright, turned, cv::ROTATE_90_CLOCKWISE);
                EXPECT_EQ(docscene::quarterTurns(turned), 1) << size << " look " << look;
                cv::rotate(upright, turned, cv::ROTATE_180);
                EXPECT_EQ(docscene::quarterTurns(turned), 2) << size << " look " << look;
                cv::rotate(upright, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
                EXPECT_EQ(docscene::quarterTurns(turned), 3) << size << " look " << look;
            }
        }
    }
}

#ifdef SCENE_TEST_DECODES
TEST(Scene, CodesDecodeToTheirTextsWhereTheGeometrySays)
{
    ASSERT_TRUE(docscene::codesAvailable());
    docscene::Options options;
    options.qr = "DOCSTATION-SCENE";
    options.code128 = "DS-0042";
    options.ean13 = "5901234123457";
    options.fixedAngle = true;
    options.angle = 4;
    const docscene::Frame frame = docscene::render(options);
    ASSERT_EQ(frame.geometry.codes.size(), 3u);
    const cv::Mat grey = greyOf(frame.image);
    const ZXing::ImageView view(grey.data, grey.cols, grey.rows, ZXing::ImageFormat::Lum, int(grey.step));

    struct Want {
        docscene::CodeKind kind;
        ZXing::BarcodeFormat format;
    };
    for (const Want want : {Want{docscene::CodeKind::Qr, ZXing::BarcodeFormat::QRCode},
                            Want{docscene::CodeKind::Code128, ZXing::BarcodeFormat::Code128},
                            Want{docscene::CodeKind::Ean13, ZXing::BarcodeFormat::EAN13}}) {
        const auto code = std::find_if(frame.geometry.codes.begin(), frame.geometry.codes.end(),
                                       [&](const docscene::Code &c) { return c.kind == want.kind; });
        ASSERT_NE(code, frame.geometry.codes.end());
        EXPECT_GE(code->modulePixels, 2);
        ZXing::DecodeHints hints;
        hints.setFormats(want.format);
        hints.setTryHarder(true);
        const ZXing::Result result = ZXing::ReadBarcode(view, hints);
        ASSERT_TRUE(result.isValid()) << code->text;
        EXPECT_EQ(result.text(), code->text);
        // The decoder's idea of the symbol's centre lies within the reported corners.
        const auto &position = result.position();
        cv::Point2f centre(0, 0);
        for (int i = 0; i < 4; ++i)
            centre += cv::Point2f(float(position[i].x), float(position[i].y)) * 0.25f;
        const std::vector<cv::Point2f> corners(code->corners.begin(), code->corners.end());
        EXPECT_GE(cv::pointPolygonTest(corners, centre, true), -3.0) << code->text;
    }
}
#endif

TEST(Scene, DarkFrameIsNearlyBlack)
{
    const cv::Mat dark = docscene::darkFrame(cv::Size(640, 480));
    double high = 0;
    cv::minMaxLoc(greyOf(dark), nullptr, &high);
    EXPECT_LT(high, 20);
}

} // namespace
