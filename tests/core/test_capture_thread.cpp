// The capture thread's settings, frame conversions and loop, without a camera.
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "fakeclock.h"
#include "imageprocessing.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace {

class CaptureThread : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::resetConfig(documents);
        Cache::cameras->clear();
    }
    void TearDown() override { Cache::cameras->clear(); }
    QTemporaryDir documents;
};

TEST_F(CaptureThread, AngleStepsWrapAroundFourQuarterTurns)
{
    struct Step { int from; int step; int to; };
    const Step steps[] = {
        {0, 1, 1}, {3, 1, 0}, {0, -1, 3}, {2, -1, 1}, {3, 0, 1}, {1, 0, 3},
        {2, 7, 2}, {1, -2, 1}, {0, 2, 0},
    };
    for (const Step &s : steps) {
        ImageProcessing capture;
        capture.angle = s.from;
        capture.setAngle(s.step);
        EXPECT_EQ(capture.angle, s.to) << "from " << s.from << " step " << s.step;
    }
}

TEST_F(CaptureThread, ZoomNeverReachesZeroAndWebSizeKeepsNonPositiveValues)
{
    ImageProcessing capture;
    capture.zoomValue = 0.2;
    capture.setZoomValue(-0.2);
    EXPECT_NEAR(capture.zoomValue, 0.2, 1e-9);
    capture.setZoomValue(0.5);
    EXPECT_NEAR(capture.zoomValue, 0.7, 1e-9);

    capture.setWebSize(0, 720);
    EXPECT_EQ(capture.webWidth, 640);
    EXPECT_EQ(capture.webHeight, 720);
    capture.setWebSize(1280, -1);
    EXPECT_EQ(capture.webWidth, 1280);
    EXPECT_EQ(capture.webHeight, 720);
}

TEST_F(CaptureThread, RequestsOnlyStoreUntilTheLoopActs)
{
    ImageProcessing capture;
    capture.setFrameWidthAndHeight(4000, 3000);
    EXPECT_EQ(capture.frameWidth, 4000);
    EXPECT_FALSE(capture.resolutionChanged);
    capture.setCameraResolution(QSize(1920, 1080));
    EXPECT_TRUE(capture.resolutionChanged);
    capture.setCameraRNAgain(QSize(2592, 1944));
    EXPECT_TRUE(capture.restartRequested);
    EXPECT_EQ(capture.frameHeight, 1944);
    QImage child(4, 4, QImage::Format_RGB888);
    // Without a live frame there is nothing to photograph.
    EXPECT_FALSE(capture.setTakePhotoCammond(child, QImage(), true, false));
    EXPECT_FALSE(capture.photoRequested);
    capture.setCurrentFrame(cv::Mat(4, 4, CV_8UC3, cv::Scalar(1, 2, 3)));
    EXPECT_TRUE(capture.setTakePhotoCammond(child, QImage(), true, false));
    EXPECT_TRUE(capture.photoRequested);
    EXPECT_TRUE(capture.useChildImage1);
    EXPECT_FALSE(capture.useChildImage2);
}

TEST_F(CaptureThread, ResolutionFromConfigAndOversizeRequestClamped)
{
    CameraInfo info;
    info.index = 63;   // no such device node
    info.devicePath = QStringLiteral("/dev/video63");
    info.resolutions = {QSize(1280, 720), QSize(4000, 3000)};
    Cache::cameras->append(info);
    Cache::config->cameraIndex = 0;
    Cache::config->resolution = 1;

    ImageProcessing capture;
    capture.reConfigVideoSetting();
    EXPECT_EQ(capture.frameWidth, 4000);
    EXPECT_EQ(capture.frameHeight, 3000);
    EXPECT_TRUE(capture.resolutionChanged);
    capture.cameraListIndex = 0;
    capture.openCamara();
    EXPECT_EQ(capture.frameWidth, 3264);
    EXPECT_EQ(capture.frameHeight, 2448);
    EXPECT_TRUE(capture.cameraOpen) << "an unopened camera is left to the empty-frame rule";
}

TEST_F(CaptureThread, MatToImageConversions)
{
    cv::Mat grey(2, 3, CV_8UC1);
    grey.at<uchar>(1, 2) = 200;
    const QImage indexed = ImageProcessing::MatQImage(grey);
    ASSERT_EQ(indexed.format(), QImage::Format_Indexed8);
    EXPECT_EQ(indexed.colorCount(), 256);
    EXPECT_EQ(indexed.color(200), qRgb(200, 200, 200));
    EXPECT_EQ(indexed.pixelIndex(2, 1), 200);

    cv::Mat bgr(2, 2, CV_8UC3, cv::Scalar(10, 20, 30));   // B, G, R
    const QImage rgb = ImageProcessing::MatQImage(bgr);
    ASSERT_EQ(rgb.format(), QImage::Format_RGB888);
    EXPECT_EQ(rgb.pixel(1, 1), qRgb(30, 20, 10));
    bgr.setTo(cv::Scalar(0, 0, 0));
    EXPECT_EQ(rgb.pixel(1, 1), qRgb(30, 20, 10)) << "a deep copy";

    cv::Mat bgra(1, 1, CV_8UC4, cv::Scalar(1, 2, 3, 255));
    const QImage argb = ImageProcessing::MatQImage(bgra);
    ASSERT_EQ(argb.format(), QImage::Format_ARGB32);
    EXPECT_EQ(argb.pixel(0, 0), qRgba(3, 2, 1, 255));

    EXPECT_TRUE(ImageProcessing::MatQImage(cv::Mat(2, 2, CV_16UC1)).isNull());
    EXPECT_TRUE(ImageProcessing::MatQImage(cv::Mat()).isNull());
}

TEST_F(CaptureThread, ImageToMatConversions)
{
    QImage rgb(3, 2, QImage::Format_RGB888);
    rgb.fill(qRgb(30, 20, 10));
    cv::Mat fromRgb = ImageProcessing::QImageToMat(rgb);
    ASSERT_EQ(fromRgb.type(), CV_8UC3);
    EXPECT_EQ(fromRgb.at<cv::Vec3b>(1, 2), cv::Vec3b(10, 20, 30));

    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32,
                                  QImage::Format_ARGB32_Premultiplied}) {
        QImage image(2, 2, format);
        image.fill(qRgb(200, 100, 50));
        const cv::Mat mat = ImageProcessing::QImageToMat(image);
        ASSERT_EQ(mat.type(), CV_8UC3) << format;
        EXPECT_EQ(mat.at<cv::Vec3b>(0, 1), cv::Vec3b(50, 100, 200)) << format;
    }

    QImage indexed(4, 2, QImage::Format_Indexed8);
    indexed.setColorCount(256);
    indexed.fill(7);
    cv::Mat shared = ImageProcessing::QImageToMat(indexed);
    ASSERT_EQ(shared.type(), CV_8UC1);
    EXPECT_EQ(shared.data, indexed.constBits()) << "one-channel pictures are shared, not copied";

    EXPECT_TRUE(ImageProcessing::QImageToMat(QImage(2, 2, QImage::Format_Mono)).empty());
    EXPECT_TRUE(ImageProcessing::QImageToMat(QImage()).empty());
}

TEST_F(CaptureThread, RotationByQuarterTurnsClockwise)
{
    QImage image(4, 2, QImage::Format_RGB888);
    image.fill(Qt::black);
    image.setPixel(0, 0, qRgb(255, 0, 0));   // top-left marker

    ImageProcessing capture;
    struct Turn { int angle; QSize size; QPoint marker; };
    const Turn turns[] = {
        {0, QSize(4, 2), QPoint(0, 0)},
        {1, QSize(2, 4), QPoint(1, 0)},   // 90° clockwise: top-left goes top-right
        {2, QSize(4, 2), QPoint(3, 1)},
        {3, QSize(2, 4), QPoint(0, 3)},
    };
    for (const Turn &t : turns) {
        capture.angle = t.angle;
        const QImage turned = capture.handleQImage(image);
        EXPECT_EQ(turned.size(), t.size) << t.angle;
        EXPECT_GT(qRed(turned.pixel(t.marker)), 100) << t.angle;
        EXPECT_EQ(capture.handleAngleQImage(image, t.angle).size(), t.size);
    }
}

TEST_F(CaptureThread, PushedFrameIsStoredAndMarksTheCameraOpen)
{
    ImageProcessing capture;
    QImage image(8, 8, QImage::Format_RGB888);
    image.fill(Qt::white);
    capture.readFarme(image);
    EXPECT_TRUE(capture.cameraOpen);
    QMutexLocker lock(&capture.pushedFrameMutex);
    EXPECT_EQ(capture.pushedFrame, image);
}

TEST_F(CaptureThread, FrameReadersKeepTheirPixelsWhenTheFrameIsReplaced)
{
    ImageProcessing capture;
    capture.setCurrentFrame(cv::Mat(4, 4, CV_8UC3, cv::Scalar(1, 1, 1)));
    const cv::Mat held = capture.currentFrame();
    capture.setCurrentFrame(cv::Mat(4, 4, CV_8UC3, cv::Scalar(9, 9, 9)));
    EXPECT_EQ(held.at<cv::Vec3b>(0, 0), cv::Vec3b(1, 1, 1));
    EXPECT_EQ(capture.currentFrame().at<cv::Vec3b>(0, 0), cv::Vec3b(9, 9, 9));
}

TEST_F(CaptureThread, UnpluggedCameraIsReopenedEveryFiveSecondsAndEndStopsTheWait)
{
    CameraInfo info;
    info.index = 63;   // no such device node: every read is empty
    info.devicePath = QStringLiteral("/dev/video63");
    info.resolutions = {QSize(1920, 1080)};
    Cache::cameras->append(info);

    FakeClock clock;   // outlives the thread
    ImageProcessing capture;
    QSignalSpy closed(&capture, &ImageProcessing::closeCameraSignal);
    QMutex closedAtMutex;
    QList<qint64> closedAt;
    const auto closes = [&] {
        QMutexLocker lock(&closedAtMutex);
        return closedAt.size();
    };
    QObject::connect(&capture, &ImageProcessing::closeCameraSignal, &capture, [&] {
        QMutexLocker lock(&closedAtMutex);
        closedAt << clock.elapsedMs();
    }, Qt::DirectConnection);
    capture.begin();
    capture.cameraListIndex = 0;
    capture.setCameraResolution(QSize(1920, 1080));

    ASSERT_TRUE(clock.advanceUntil([&] { return closes() >= 3; }, 20000, 100));
    // The request closes the camera once; then each empty read closes it and
    // waits five seconds before the next attempt.
    EXPECT_GE(closedAt[2] - closedAt[1], 5000);

    ASSERT_TRUE(clock.waitForSleepers());   // in the next wait before reopening
    capture.end();
    EXPECT_TRUE(capture.isFinished()) << "end() interrupts the reopen wait";
    EXPECT_FALSE(capture.running);
}

TEST_F(CaptureThread, EndReturnsWhileNoCameraIsOpen)
{
    ImageProcessing capture;
    capture.begin();
    ASSERT_TRUE(testenv::waitFor([&] { return capture.isRunning(); }, 2000));
    capture.end();
    EXPECT_TRUE(capture.isFinished());
}

} // namespace

namespace {

// A dark table with two bright rotated sheets and a red stamp on one.
cv::Mat twoSheetFrame()
{
    cv::Mat frame(1080, 1920, CV_8UC3, cv::Scalar(30, 28, 25));
    for (const cv::RotatedRect &sheet : {cv::RotatedRect({520, 540}, {600, 420}, 8),
                                         cv::RotatedRect({1400, 520}, {560, 440}, -12)}) {
        cv::Point2f corners[4];
        sheet.points(corners);
        std::vector<cv::Point> polygon(corners, corners + 4);
        cv::fillConvexPoly(frame, polygon, cv::Scalar(235, 238, 240));
    }
    cv::circle(frame, {600, 600}, 60, cv::Scalar(30, 30, 200), 8);
    cv::rectangle(frame, {350, 400}, {700, 420}, cv::Scalar(40, 40, 40), cv::FILLED);
    return frame;
}

TEST_F(CaptureThread, LivePictureIsTheLivePipelineWhateverTheMode)
{
    const cv::Mat frame = twoSheetFrame();
    const cv::Mat untouched = frame.clone();
    ImageProcessing capture;
    for (int correction = 0; correction <= 2; ++correction) {
        for (int shootType = 0; shootType <= 3; ++shootType) {
            capture.correction = correction;
            capture.shootType = shootType;
            cv::Mat processed;
            capture.handleMat(frame, processed, true);
            const QImage expected = ImageProcessing::MatQImage(processed);
            const QImage live = capture.processLiveFrame(frame);
            EXPECT_EQ(live, expected) << "correction " << correction << " mode " << shootType;
            EXPECT_EQ(cv::norm(frame, untouched, cv::NORM_INF), 0.0) << "the frame is never drawn on";
        }
    }
    capture.correction = 1;
    capture.shootType = 0;
    const QImage single = capture.processLiveFrame(frame);
    capture.correction = 2;
    const QImage every = capture.processLiveFrame(frame);
    // Outlines are green in single mode and red in multiple mode, ten pixels
    // wide: one sheet's perimeter of ~2000 pixels gives ~20000 pixels.
    auto count = [](const QImage &image, QRgb colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixel(x, y) == colour;
        return n;
    };
    EXPECT_GT(count(single, qRgb(0, 255, 0)), 15000);
    EXPECT_EQ(count(single, qRgb(255, 0, 0)), 0);
    EXPECT_GT(count(every, qRgb(255, 0, 0)), 30000);
    EXPECT_EQ(count(every, qRgb(0, 255, 0)), 0);
}

} // namespace
