// The preview widget: fitted, zoomed and panned painting, zoom limits, the
// custom crop rectangle, and video recording from the live frame.
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "fakeclock.h"
#include "imageprocessing.h"
#include "qcameraview.h"
#include "stationtest.h"
#include "testenv.h"
#include "uitesthelpers.h"
#include "warningbox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QThread>
#include <QRegularExpression>
#include <QWheelEvent>

#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CameraViewTest : public testenv::StationTest
{
protected:
    void SetUp() override
    {
        StationTest::SetUp();
        Cache::cameras->clear();
        view = std::make_unique<QCameraView>();
        view->resize(400, 300);
    }
    void TearDown() override
    {
        view.reset();
        StationTest::TearDown();
    }

    // Hands the preview a frame as the capture thread would.
    void deliver(const cv::Mat &frame)
    {
        view->imageProcessing()->setCurrentFrame(frame);
        view->updateImage(uitest::toImage(frame));
    }

    QImage painted() { return view->grab().toImage(); }

    void mouse(QEvent::Type type, QPoint at)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &event);
    }

    std::unique_ptr<QCameraView> view;
};

// Plain colours of uitest::testFrame: green border, light centre block.
bool isGreen(QRgb c) { return qGreen(c) > 120 && qRed(c) < 80; }
bool isLight(QRgb c) { return qRed(c) > 200 && qGreen(c) > 200; }
bool isBackground(QRgb c) { return qRed(c) < 50 && qGreen(c) < 50 && qBlue(c) < 60; }

TEST_F(CameraViewTest, FitsTheFrameCentredAndStoresTheDrawnSize)
{
    deliver(uitest::testFrame(800, 400));   // 2:1 into 400 x 300
    const QImage shot = painted();
    EXPECT_EQ(Cache::config->drawWidth, 400);
    EXPECT_EQ(Cache::config->drawHeight, 200);
    EXPECT_TRUE(isBackground(shot.pixel(200, 20)));    // band above the frame
    EXPECT_TRUE(isBackground(shot.pixel(200, 280)));   // band below
    EXPECT_TRUE(isGreen(shot.pixel(200, 60)));         // frame border
    EXPECT_TRUE(isLight(shot.pixel(200, 150)));        // frame centre
}

TEST_F(CameraViewTest, ZoomOfOneDrawsFittedAndResetsThePan)
{
    deliver(uitest::testFrame(800, 400));
    Cache::config->zoom = 1.0;
    Cache::config->panX = 37;
    Cache::config->panY = -12;
    painted();
    EXPECT_EQ(Cache::config->panX, 0);
    EXPECT_EQ(Cache::config->panY, 0);
    EXPECT_DOUBLE_EQ(Cache::config->zoom, 1.0);
    EXPECT_TRUE(isBackground(painted().pixel(200, 20)));
}

TEST_F(CameraViewTest, ZoomAboveOneScalesAndPans)
{
    deliver(uitest::testFrame(800, 400));
    Cache::config->zoom = 2.0;   // 400 x 200 drawn twice as large fills the widget
    QImage shot = painted();
    EXPECT_TRUE(isGreen(shot.pixel(200, 20)));
    EXPECT_TRUE(isLight(shot.pixel(200, 150)));
    EXPECT_DOUBLE_EQ(Cache::config->zoom, 2.0);

    // Dragging outside custom correction pans the zoomed picture.
    mouse(QEvent::MouseButtonPress, QPoint(100, 100));
    mouse(QEvent::MouseMove, QPoint(160, 110));
    EXPECT_EQ(Cache::config->panX, 60);
    EXPECT_EQ(Cache::config->panY, 10);
    EXPECT_EQ(view->cursor().shape(), Qt::SizeAllCursor);
    mouse(QEvent::MouseButtonRelease, QPoint(160, 110));
    EXPECT_EQ(view->cursor().shape(), Qt::ArrowCursor);
    shot = painted();
    // The light block (centre 200 x 100 of the zoomed frame) moved right by 60.
    EXPECT_TRUE(isLight(shot.pixel(30 + 60, 150)));
    EXPECT_FALSE(isLight(shot.pixel(10, 150)));
}

TEST_F(CameraViewTest, ZoomStepsAndLimits)
{
    Config &config = *Cache::config;
    config.zoom = 1.0;
    view->onZoomInImage();
    EXPECT_NEAR(config.zoom, 1.2, 1e-9);
    view->locaAndZoom(1);
    view->locaAndZoom(1);
    EXPECT_NEAR(config.zoom, 0.8, 1e-9);
    view->locaAndZoom(0);
    EXPECT_NEAR(config.zoom, 1.0, 1e-9);

    config.zoom = 0.2;
    view->onZoomOutImage();
    EXPECT_NEAR(config.zoom, 0.2, 1e-9);
    config.zoom = 1.0;
    for (int i = 0; i < 10; ++i)
        view->onZoomOutImage();
    EXPECT_GT(config.zoom, 0.0);
    EXPECT_NEAR(config.zoom, 0.2, 1e-9);

    config.zoom = 1.0;
    QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.get(), &up);
    EXPECT_NEAR(config.zoom, 1.2, 1e-9);
    QWheelEvent down(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.get(), &down);
    QApplication::sendEvent(view.get(), &down);
    EXPECT_NEAR(config.zoom, 0.8, 1e-9);

    config.zoom = 2.4;
    config.panX = 5;
    config.panY = 6;
    view->onPresetImage();
    EXPECT_DOUBLE_EQ(config.zoom, 1.0);
    EXPECT_EQ(config.panX, 0);
    EXPECT_EQ(config.panY, 0);
}

TEST_F(CameraViewTest, CustomCorrectionDrawsTheCropRectangleInAnyDirection)
{
    QLabel *crop = view->cropLabel();
    EXPECT_TRUE(crop->isHidden());
    view->setCameraCorrection(3);
    EXPECT_EQ(Cache::config->correctionMode, 3);
    EXPECT_EQ(view->imageProcessing()->correction, 0);   // no automatic correction
    EXPECT_FALSE(crop->isHidden());
    EXPECT_EQ(crop->size(), QSize(0, 0));

    const struct {
        QPoint press, to;
    } drags[] = {
        {{50, 60}, {150, 100}},   // down and right
        {{150, 100}, {50, 60}},   // up and left: drawn from the other corner
        {{150, 60}, {50, 100}},   // down and left
        {{50, 100}, {150, 60}},   // up and right
    };
    for (const auto &drag : drags) {
        mouse(QEvent::MouseButtonPress, drag.press);
        EXPECT_EQ(crop->geometry(), QRect(drag.press, QSize(0, 0)));
        mouse(QEvent::MouseMove, drag.to);
        mouse(QEvent::MouseButtonRelease, drag.to);
        EXPECT_EQ(crop->geometry(), QRect(50, 60, 100, 40)) << drag.press.x() << "," << drag.press.y();
    }
    EXPECT_EQ(Cache::config->panX, 0);   // drawing never pans

    // The geometry of the rectangle and of the widget reach the photo settings.
    view->takePhoto();
    const Config &config = *Cache::config;
    EXPECT_EQ(QRect(config.selectionX, config.selectionY, config.selectionWidth,
                    config.selectionHeight),
              QRect(50, 60, 100, 40));
    EXPECT_EQ(QSize(config.viewWidth, config.viewHeight), QSize(400, 300));

    view->setCameraCorrection(1);
    EXPECT_TRUE(crop->isHidden());
    EXPECT_EQ(view->imageProcessing()->correction, 1);
    view->setCameraCorrection(3);
    EXPECT_FALSE(crop->isHidden());
    EXPECT_EQ(crop->size(), QSize(0, 0));
}

TEST_F(CameraViewTest, ForwardsOptionsToTheCaptureThread)
{
    ImageProcessing *capture = view->imageProcessing();
    view->setAngle(-1);
    EXPECT_EQ(capture->angle, 3);
    view->setCameraShootType(2);
    EXPECT_EQ(capture->shootType, 2);
    view->setTakePhotoChildCamera(true);
    EXPECT_TRUE(capture->childCamera);
    view->setSaveImageToTiff(true);
    EXPECT_TRUE(capture->saveImageToTiff);
    view->init(0);
    view->changeCamera(0, 1280, 720);
    EXPECT_EQ(capture->frameWidth, 1280);
    EXPECT_EQ(capture->frameHeight, 720);
    EXPECT_TRUE(view->isSwitching());
}

TEST_F(CameraViewTest, FirstFrameAfterOpeningEndsTheSwitch)
{
    QSignalSpy opened(view.get(), &QCameraView::openCameraSignal);
    QSignalSpy switched(view.get(), &QCameraView::sendChangeBtn2Signal);
    EXPECT_TRUE(view->isSwitching());
    EXPECT_TRUE(view->recordBegin().isEmpty());   // nothing to record yet
    view->shiErweima();
    EXPECT_FALSE(view->isErweimaOn());
    deliver(uitest::testFrame(320, 240));
    EXPECT_FALSE(view->isSwitching());
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(switched.count(), 1);
    deliver(uitest::testFrame(320, 240));
    EXPECT_EQ(opened.count(), 1);

    QSignalSpy frames(view.get(), &QCameraView::sendErweimaSignal);
    view->shiErweima();
    EXPECT_TRUE(view->isErweimaOn());
    EXPECT_EQ(view->imageProcessing()->erweima, 1);
    deliver(uitest::testFrame(320, 240));
    EXPECT_EQ(frames.count(), 1);
    view->guanErweima();
    deliver(uitest::testFrame(320, 240));
    EXPECT_EQ(frames.count(), 1);
    EXPECT_EQ(view->imageProcessing()->erweima, 0);
}

// Moves the clock on in writer periods while the writer's timer runs.
void advanceRecording(FakeClock &clock, int ms)
{
    for (int done = 0; done < ms; done += QCameraView::writerIntervalMs) {
        clock.advance(QCameraView::writerIntervalMs);
        testenv::waitFor([] { return false; }, 5);
    }
}

TEST_F(CameraViewTest, RecordingPlaysAsLongAsItWasTaken)
{
    FakeClock clock;   // the recording's time is the test's
    deliver(uitest::testFrame(320, 240));
    QSignalSpy announced(view.get(), &QCameraView::sendTakePhotoImageSignal);
    const qint64 started = clock.elapsedMs();
    const QString path = view->recordBegin();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(QFileInfo(path).absolutePath(), QDir(documents.path()).absolutePath());
    EXPECT_TRUE(QFileInfo(path).fileName().contains(
        QRegularExpression(QStringLiteral("^\\d{4}_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.\\d{3}\\.avi$"))));
    EXPECT_TRUE(view->isRecording());
    advanceRecording(clock, 2000);
    view->recordEnd(path);
    const double seconds = (clock.elapsedMs() - started) / 1000.0;
    EXPECT_FALSE(view->isRecording());
    ASSERT_TRUE(uitest::waitUntilFinished(*view->recording()));
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(announced.at(0).at(0).value<QList<QString>>(), QList<QString>{path});
    EXPECT_EQ(announced.at(0).at(1).toInt(), 0);
    EXPECT_EQ(view->imageProcessing()->videoWriter, nullptr);

    const uitest::AviInfo avi = uitest::readAvi(path);
    ASSERT_TRUE(avi.opened);
    EXPECT_NEAR(avi.fps, QCameraView::writerFps, 0.01);
    EXPECT_EQ(avi.size, cv::Size(320, 240));
    // Declared rate and frame count give the time the recording took.
    EXPECT_NEAR(avi.frames / avi.fps, seconds, 0.3) << avi.frames << " frames";
}

TEST_F(CameraViewTest, SecondRecordBeginFinishesTheRunningFile)
{
    FakeClock clock;
    deliver(uitest::testFrame(320, 240));
    const QString first = view->recordBegin();
    ASSERT_FALSE(first.isEmpty());
    advanceRecording(clock, 600);   // also a later time stamp for the second file
    const QString second = view->recordBegin();
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    // The first file is complete and readable while the second one runs.
    ASSERT_TRUE(uitest::waitUntilFinished(*view->recording()));
    const uitest::AviInfo done = uitest::readAvi(first);
    ASSERT_TRUE(done.opened);
    EXPECT_GE(done.frames, 3);
    EXPECT_LE(done.frames, 12);
    // A frame of another size (camera switch) is fitted to the running file.
    deliver(uitest::testFrame(640, 360));
    advanceRecording(clock, 400);
    view->recordEnd(second);
    ASSERT_TRUE(uitest::waitUntilFinished(*view->recording()));
    const uitest::AviInfo next = uitest::readAvi(second);
    ASSERT_TRUE(next.opened);
    EXPECT_EQ(next.size, cv::Size(320, 240));
    EXPECT_GE(next.frames, 2);
}

TEST_F(CameraViewTest, RecorderFailuresAreShownAsWarnings)
{
    QStringList warnings;
    testenv::captureWarnings(warnings);
    deliver(uitest::testFrame(320, 240));
    // A working directory that cannot be made: a file stands where it should be.
    QFile blocker(documents.path() + QStringLiteral("/blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Cache::config->documentsLocation = blocker.fileName() + QStringLiteral("/videos");
    QSignalSpy announced(view.get(), &QCameraView::sendTakePhotoImageSignal);
    EXPECT_TRUE(view->recordBegin().isEmpty());
    EXPECT_FALSE(view->isRecording());
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.at(0).startsWith(QStringLiteral("警告|录像文件无法创建："))) << warnings.at(0).toStdString();
    view->recordEnd(QString());
    EXPECT_EQ(announced.count(), 0);
    WarningBox::setHandler({});
}

TEST_F(CameraViewTest, SoundIsRecordedBesideTheVideoWithTheFixedCommandLine)
{
    QTemporaryDir bin;
    const QString argsFile = bin.path() + QStringLiteral("/args.txt");
    uitest::installRecorderStandIn(bin, argsFile);
    Cache::config->gnRecord = true;
    deliver(uitest::testFrame(320, 240));
    const QString video = view->recordBegin();
    ASSERT_FALSE(video.isEmpty());
    ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo::exists(argsFile); }, 5000));
    ASSERT_TRUE(testenv::waitFor([&] { return uitest::readLines(argsFile).size() == 6; }, 5000));
    QString wav = video;
    wav.replace(QRegularExpression(QStringLiteral("avi$")), QStringLiteral("wav"));
    EXPECT_EQ(uitest::readLines(argsFile),
              (QStringList{"-D", "hw:2,0", "-c1", "-r16000", "-fS16_LE", wav}));
    view->recordEnd(video);
    Cache::config->gnRecord = false;
}

TEST_F(CameraViewTest, StopDeliversAFrameInFlightAndReturnsPromptly)
{
    // Something on another thread blocks in the frame hand-over, as the
    // capture loop does, while the preview is stopped.
    ImageProcessing *capture = view->imageProcessing();
    uitest::FrameFlood flood(capture, uitest::toImage(uitest::testFrame(320, 240)));
    ASSERT_TRUE(flood.waitUntilFlowing(5000));
    QElapsedTimer timer;
    timer.start();
    view->stop();
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_FALSE(capture->isRunning());
    EXPECT_TRUE(flood.stop(3000));
}

} // namespace
