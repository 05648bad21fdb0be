// The capture thread end to end on a virtual camera: frames flow through
// sendFarmeSignal, the user rotation is applied, a camera that is pulled out
// is closed and tried again every 5 seconds until it is back, and end()
// returns while the loop waits to reopen.
#include "cache.h"
#include "camerainfo.h"
#include "clock.h"
#include "config.h"
#include "fakeclock.h"
#include "docscene.h"
#include "imageprocessing.h"
#include "testenv.h"
#include "virtualcameras.h"

#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <vector>

namespace {

const int kDevice = VirtualCameras::firstIndex;
const QSize kSize(1280, 720);

// Collects what the capture thread publishes, on the test's thread.
struct Observer : QObject {
    QList<QImage> frames;
    int closes = 0;
    qint64 lastCloseMs = -1;   // on the station clock
    qint64 lastFrameMs = -1;
};

int greyAt(const QImage &image, QPointF point)
{
    return qGray(image.pixel(point.toPoint()));
}

QPointF rotatedClockwise(QPointF p, QSize original)
{
    return QPointF(original.height() - 1 - p.y(), p.x());
}

class CaptureOnVirtualCamera : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::resetConfig(documents);
        *Cache::cameras = VirtualCameras::parse(
            QStringLiteral("synthetic:sizes=1280x720/1920x1080,fps=30,sheets=2,angle=0"));
        ASSERT_EQ(Cache::cameras->size(), 1);
        docscene::Options scene;
        scene.size = cv::Size(kSize.width(), kSize.height());
        scene.sheets = 2;
        scene.fixedAngle = true;
        scene.angle = 0;
        geometry = docscene::layout(scene);

        QObject::connect(&processing, &ImageProcessing::sendFarmeSignal, &observer,
                         [this](QImage image) {
                             observer.frames.append(image);
                             observer.lastFrameMs = Clock::current().elapsedMs();
                         },
                         Qt::BlockingQueuedConnection);
        QObject::connect(&processing, &ImageProcessing::closeCameraSignal, &observer,
                         [this] {
                             ++observer.closes;
                             observer.lastCloseMs = Clock::current().elapsedMs();
                         },
                         Qt::QueuedConnection);
        processing.cameraListIndex = 0;
        processing.setFrameWidthAndHeight(kSize.width(), kSize.height());
        processing.begin();
        processing.openCamara();
    }

    void TearDown() override
    {
        VirtualCameras::setPlugged(kDevice, true);
        processing.end();
    }

    bool waitForFrames(int count, int timeoutMs)
    {
        return testenv::waitFor([&] { return observer.frames.size() >= count; }, timeoutMs);
    }

    QTemporaryDir documents;
    docscene::Geometry geometry;
    Observer observer;
    ImageProcessing processing;
};

TEST_F(CaptureOnVirtualCamera, FramesFlowAndTheRotationIsApplied)
{
    ASSERT_TRUE(waitForFrames(3, 15000));
    const QImage upright = observer.frames.last();
    ASSERT_EQ(upright.size(), kSize);
    const QPointF left(geometry.sheets[0].rect.center.x, geometry.sheets[0].rect.center.y);
    const QPointF right(geometry.sheets[1].rect.center.x, geometry.sheets[1].rect.center.y);
    const QPointF between((left.x() + right.x()) / 2, left.y());
    // Sheet centres sit in text margins or lines; sample a spot of paper left of each.
    const QPointF paper(-geometry.sheets[0].rect.size.width * 0.45, 0);
    EXPECT_GT(greyAt(upright, left + paper), 150);
    EXPECT_GT(greyAt(upright, right + paper), 150);
    EXPECT_LT(greyAt(upright, between), 60);

    processing.setAngle(1);
    ASSERT_TRUE(testenv::waitFor(
        [&] { return observer.frames.last().size() == kSize.transposed(); }, 5000));
    const QImage turned = observer.frames.last();
    EXPECT_GT(greyAt(turned, rotatedClockwise(left + paper, kSize)), 150);
    EXPECT_GT(greyAt(turned, rotatedClockwise(right + paper, kSize)), 150);
    EXPECT_LT(greyAt(turned, rotatedClockwise(between, kSize)), 60);

    processing.setAngle(0);   // a half turn more: 270 degrees
    ASSERT_TRUE(waitForFrames(observer.frames.size() + 3, 5000));
    EXPECT_EQ(observer.frames.last().size(), kSize.transposed());
}

TEST_F(CaptureOnVirtualCamera, UnpluggedCameraIsReopenedEveryFiveSecondsUntilItIsBack)
{
    ASSERT_TRUE(waitForFrames(2, 15000));
    FakeClock clock;   // from here the loop's waits pass as the test advances
    VirtualCameras::setPlugged(kDevice, false);
    ASSERT_TRUE(clock.advanceUntil([&] { return observer.closes >= 1; }, 5000));
    const qint64 closedAt = observer.lastCloseMs;
    const int opensAtClose = VirtualCameras::openCount(kDevice);
    const int framesAtClose = observer.frames.size();

    // The next attempt comes after the 5 s wait, not before.
    ASSERT_TRUE(clock.advanceUntil([&] { return VirtualCameras::openCount(kDevice) > opensAtClose; }, 9000));
    EXPECT_GE(clock.elapsedMs() - closedAt, 4000);
    EXPECT_EQ(observer.frames.size(), framesAtClose);

    // That attempt failed; plugged back in, the following one brings frames.
    VirtualCameras::setPlugged(kDevice, true);
    ASSERT_TRUE(clock.advanceUntil([&] { return observer.closes >= 2; }, 5000));
    ASSERT_TRUE(clock.advanceUntil([&] { return observer.frames.size() >= framesAtClose + 2; }, 9000));
    EXPECT_GE(observer.lastFrameMs - observer.lastCloseMs, 4000);
    EXPECT_EQ(observer.frames.last().size(), kSize);
}

TEST_F(CaptureOnVirtualCamera, EndReturnsWhileTheLoopWaitsToReopen)
{
    ASSERT_TRUE(waitForFrames(1, 15000));
    VirtualCameras::setPlugged(kDevice, false);
    ASSERT_TRUE(testenv::waitFor([&] { return observer.closes >= 1; }, 5000));
    QElapsedTimer timer;
    timer.start();
    processing.end();
    EXPECT_TRUE(processing.wait(3000));
    EXPECT_TRUE(processing.isFinished());
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST_F(CaptureOnVirtualCamera, MjpgPhotoIsAFullSizeDecodeOfTheCameraFrame)
{
    ASSERT_EQ(Cache::config->fourcc, 0);   // the factory format: MJPG
    ASSERT_TRUE(waitForFrames(2, 15000));
    Cache::config->codec = QStringLiteral("png");
    processing.correction = 0;   // the whole frame
    const QList<QString> paths = processing.takePhotoPaths();
    ASSERT_EQ(paths.size(), 1);
    QImage photo = QImageReader(paths.first()).read().convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(photo.size(), kSize);

    docscene::Options scene;
    scene.size = cv::Size(kSize.width(), kSize.height());
    scene.sheets = 2;
    scene.fixedAngle = true;
    scene.angle = 0;
    std::vector<uchar> bytes;
    ASSERT_TRUE(cv::imencode(".jpg", docscene::render(scene, 0).image, bytes,
                             {cv::IMWRITE_JPEG_QUALITY, 85}));
    const cv::Mat expected = cv::imdecode(bytes, cv::IMREAD_COLOR);
    const cv::Mat written(photo.height(), photo.width(), CV_8UC3, photo.bits(), size_t(photo.bytesPerLine()));
    cv::Mat writtenBgr;
    cv::cvtColor(written, writtenBgr, cv::COLOR_RGB2BGR);
    EXPECT_EQ(cv::norm(writtenBgr, expected, cv::NORM_INF), 0.0);
}

} // namespace
