#include "imageprocessing.h"
#include "photonaming.h"
#include "testframes.h"

#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "capturetest.h"
#include "fakeclock.h"
#include "testenv.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSettings>
#include <QThread>

#include <opencv2/imgproc.hpp>

#include <atomic>
#include <memory>
#include <set>

using testframes::Sheet;

namespace {

const QDateTime kFixedTime(QDate(2026, 12, 7), QTime(9, 5, 11, 42));

class Photo : public testenv::CaptureTest
{
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        Cache::config->gnIswhite = false;
        Cache::config->codec = QStringLiteral("png");
        Cache::config->quality = 100;
        wallClock = std::make_unique<FixedWallClock>(kFixedTime);
    }

    void TearDown() override
    {
        CaptureTest::TearDown();
        wallClock.reset();
    }

    std::unique_ptr<FixedWallClock> wallClock;
};

const std::vector<Sheet> kTwoSheets{Sheet{{330, 360}, {420, 300}, 6},
                                    Sheet{{950, 360}, {420, 300}, -6}};

TEST_F(Photo, RunningNumbersForTwoDocuments)
{
    Cache::config->codec = QStringLiteral("jpg");
    camera->correction = 2;
    camera->setCurrentFrame(testframes::scene({1280, 720}, kTwoSheets));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(delivered[0], (QList<QString>{file("IMG_1.jpg"), file("IMG_2.jpg")}));
    EXPECT_EQ(types, QList<int>{0});
    EXPECT_EQ(Cache::config->saveNumber, 3);
    EXPECT_EQ(QSettings("system.ini", QSettings::IniFormat).value("save/number").toInt(), 3);
    for (const QString &path : delivered[0]) {
        QImageReader reader(path);
        EXPECT_EQ(reader.format(), "jpeg");
        EXPECT_NEAR(reader.size().width(), 420, 4);
        EXPECT_NEAR(reader.size().height(), 300, 4);
    }
}

TEST_F(Photo, AfterAResetTheNumberSkipsFilesAlreadyThere)
{
    QFile old(file("IMG_1.png"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("yesterday");
    old.close();
    Cache::config->saveNumber = 1;
    camera->setCurrentFrame(testframes::scene({640, 480}, {}));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(delivered[0], QList<QString>{file("IMG_2.png")});
    EXPECT_EQ(Cache::config->saveNumber, 3);
    QFile kept(file("IMG_1.png"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("yesterday"));
}

TEST_F(Photo, TimeNamesOfOneMillisecondGetTheLeastSuffix)
{
    Cache::config->saveType = 1;
    camera->correction = 2;
    camera->setCurrentFrame(testframes::scene({1280, 720}, kTwoSheets));
    camera->takePhoto();
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 2);
    EXPECT_EQ(delivered[0], (QList<QString>{file("2026_12_07 09_05_11.042.png"),
                                            file("2026_12_07 09_05_11.042_1.png")}));
    EXPECT_EQ(delivered[1], (QList<QString>{file("2026_12_07 09_05_11.042_2.png"),
                                            file("2026_12_07 09_05_11.042_3.png")}));
    EXPECT_EQ(Cache::config->saveNumber, 1) << "time names use no running number";
    EXPECT_EQ(written().size(), 4);
}

TEST_F(Photo, NamesTakenFromTwoThreadsAtOnceAreAllDifferent)
{
    for (int saveType : {0, 1}) {
        Cache::config->saveType = saveType;
        std::vector<QString> names[2];
        std::atomic<bool> go{false};
        auto work = [&](int t) {
            while (!go) {
            }
            for (int i = 0; i < 20; ++i)
                names[t].push_back(photonaming::reservePhotoPath(*Cache::config, "png"));
        };
        std::unique_ptr<QThread> a(QThread::create(work, 0));
        std::unique_ptr<QThread> b(QThread::create(work, 1));
        a->start();
        b->start();
        go = true;
        a->wait();
        b->wait();
        std::set<QString> all(names[0].begin(), names[0].end());
        all.insert(names[1].begin(), names[1].end());
        EXPECT_EQ(all.size(), 40u) << saveType;
    }
}

TEST_F(Photo, TiffSwitchWritesTiff)
{
    camera->saveImageToTiff = true;
    camera->setCurrentFrame(testframes::scene({640, 480}, {}));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(delivered[0], QList<QString>{file("IMG_1.tiff")});
    EXPECT_EQ(QImageReader(delivered[0][0]).format(), "tiff");
}

TEST_F(Photo, ChildPicturesAsSeparatePhotosOrAsInsets)
{
    QImage child1(200, 100, QImage::Format_RGB32);
    child1.fill(QColor(255, 0, 0));
    QImage child2(100, 100, QImage::Format_RGB32);
    child2.fill(QColor(0, 0, 255));
    camera->setCurrentFrame(testframes::scene({800, 600}, {}));

    camera->setTakePhotoCammond(child1, child2, true, true);
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    ASSERT_EQ(delivered[0].size(), 3);
    EXPECT_EQ(QImage(delivered[0][0]).size(), QSize(800, 600));
    EXPECT_EQ(QImage(delivered[0][1]).pixelColor(5, 5), QColor(255, 0, 0));
    EXPECT_EQ(QImage(delivered[0][2]).pixelColor(5, 5), QColor(0, 0, 255));

    // Insets: 30 % of 800 is 240 wide; child 1 top-left 240 x 120, child 2
    // top-right 240 x 240.
    camera->childCamera = true;
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 2);
    ASSERT_EQ(delivered[1].size(), 1);
    const QImage photo(delivered[1][0]);
    EXPECT_EQ(photo.pixelColor(5, 5), QColor(255, 0, 0));
    EXPECT_EQ(photo.pixelColor(235, 115), QColor(255, 0, 0));
    EXPECT_EQ(photo.pixelColor(5, 125).red(), testframes::kBase);
    EXPECT_EQ(photo.pixelColor(800 - 5, 235), QColor(0, 0, 255));
    EXPECT_EQ(photo.pixelColor(800 - 245, 5).red(), testframes::kBase);
    EXPECT_EQ(photo.pixelColor(400, 300).red(), testframes::kBase);
}

TEST_F(Photo, FaceRegionReplacesThePicturesFromAQuarterMegapixel)
{
    // The region as a detector reported it for this frame: no detector runs
    // here, which would find no face on it and clear the region.
    camera->faceClassifier = cv::CascadeClassifier();
    Cache::config->gnRenlian = true;
    camera->setCurrentFrame(testframes::scene({1280, 720}, {}));
    camera->setObjectFace(cv::Rect(100, 50, 400, 600));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    EXPECT_EQ(QImageReader(delivered[0][0]).size(), QSize(1280, 720));

    camera->setObjectFace(cv::Rect(100, 50, 500, 500));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 2);
    ASSERT_EQ(delivered[1].size(), 1);
    EXPECT_EQ(QImageReader(delivered[1][0]).size(), QSize(500, 500));

    // Only on the first camera.
    Cache::config->cameraIndex = 1;
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 3);
    EXPECT_EQ(QImageReader(delivered[2][0]).size(), QSize(1280, 720));
}

TEST_F(Photo, ASecondCamerasFacesNeverTouchTheMainPhotosFace)
{
    // A second camera's view runs face detection on its own frames.
    ImageProcessing secondCamera;
    if (secondCamera.faceClassifier.empty())
        GTEST_SKIP() << "no face cascade in the build's Resources";
    Cache::config->gnRenlian = true;
    // The main camera found a large face on its last frame (no detector runs
    // on it here: a drawn scene has no face to find).
    camera->faceClassifier = cv::CascadeClassifier();
    camera->setCurrentFrame(testframes::scene({1280, 720}, {}));
    camera->setObjectFace(cv::Rect(100, 50, 500, 500));
    // Before the photo is taken, the second camera sees nobody.
    cv::Mat shown;
    secondCamera.handleMat(testframes::scene({640, 480}, {}), shown, true);
    EXPECT_EQ(secondCamera.objectFaceNow(), cv::Rect());

    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    ASSERT_EQ(delivered[0].size(), 1);
    EXPECT_EQ(QImageReader(delivered[0][0]).size(), QSize(500, 500));
}

TEST_F(Photo, SmallFrameIsUpscaledToTheConfiguredResolution)
{
    CameraInfo info;
    info.resolutions = {QSize(3264, 2448), QSize(1280, 720)};
    Cache::cameras->append(info);
    camera->cameraListIndex = Cache::cameras->size() - 1;
    camera->frameWidth = 1280;
    Cache::config->codec = QStringLiteral("jpg");
    camera->setCurrentFrame(testframes::scene({1280, 720}, {}));
    camera->takePhoto();
    Cache::config->webSocketMode = true;
    camera->takePhoto();
    Cache::cameras->removeLast();
    ASSERT_EQ(delivered.size(), 2);
    EXPECT_EQ(QImageReader(delivered[0][0]).size(), QSize(3264, 1836));
    EXPECT_EQ(QImageReader(delivered[1][0]).size(), QSize(1280, 720)) << "not in service mode";
}

TEST_F(Photo, NoFrameOrNoDocumentSavesNothing)
{
    camera->takePhoto();
    camera->correction = 1;
    camera->setCurrentFrame(testframes::scene({640, 480}, {}));
    camera->takePhoto();
    EXPECT_TRUE(delivered.isEmpty());
    EXPECT_TRUE(written().isEmpty());
    EXPECT_EQ(Cache::config->saveNumber, 1);
}

TEST_F(Photo, WhiteBackgroundTrimsTheCutOut)
{
    Cache::config->gnIswhite = true;
    camera->correction = 1;
    camera->setCurrentFrame(testframes::scene({1280, 720}, {Sheet{{640, 360}, {500, 300}, 0}}));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    const QSize size = QImageReader(delivered[0][0]).size();
    EXPECT_NEAR(size.width(), 490, 3);
    EXPECT_NEAR(size.height(), 290, 3);
}

// Dark pixels' bounding box in a photo of a uniform grey frame.
QRect inkBox(const QImage &photo)
{
    QRect box;
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            if (qGray(photo.pixel(x, y)) < 64)
                box |= QRect(x, y, 1, 1);
    return box;
}

TEST_F(Photo, WatermarkLiesWhereXAndYSay)
{
    Config &config = *Cache::config;
    config.watermarkText = QStringLiteral("WATERMARK");
    config.fontFamily = QStringLiteral("DejaVu Sans");
    config.fontSize = 30;
    config.watermarkColor = QStringLiteral("ff000000");
    config.transparency = 0;
    const cv::Mat grey(600, 800, CV_8UC3, cv::Scalar(128, 128, 128));
    camera->setCurrentFrame(grey);
    struct Case {
        int x, y;
    };
    const Case cases[] = {{0, 100}, {50, 50}, {100, 0}};
    QRect boxes[3];
    for (int i = 0; i < 3; ++i) {
        config.watermarkX = cases[i].x;
        config.watermarkY = cases[i].y;
        camera->takePhoto();
        ASSERT_EQ(delivered.size(), i + 1);
        boxes[i] = inkBox(QImage(delivered[i][0]));
        ASSERT_FALSE(boxes[i].isEmpty()) << i;
    }
    EXPECT_LT(boxes[0].left(), 12);
    EXPECT_GT(boxes[0].bottom(), 600 - 20);
    EXPECT_LT(boxes[0].right(), 400);
    EXPECT_NEAR(boxes[1].center().x(), 400, 6);
    EXPECT_NEAR(boxes[1].center().y(), 300, 8);
    EXPECT_GT(boxes[2].right(), 800 - 12);
    EXPECT_LT(boxes[2].top(), 20);
    EXPECT_GT(boxes[2].left(), 400);
    EXPECT_EQ(boxes[0].size(), boxes[1].size());
}

TEST_F(Photo, FullTransparencyOrNoTextLeavesThePhotoUnchanged)
{
    Config &config = *Cache::config;
    config.fontFamily = QStringLiteral("DejaVu Sans");
    config.fontSize = 40;
    config.watermarkColor = QStringLiteral("ff000000");
    const cv::Mat frame = testframes::scene({800, 600}, {Sheet{{400, 300}, {400, 300}, 0, true}});
    camera->setCurrentFrame(frame);
    const QImage plain = ImageProcessing::MatQImage(frame);

    config.watermarkText = QStringLiteral("WATERMARK");
    config.transparency = 100;
    camera->takePhoto();
    config.watermarkText.clear();
    config.transparency = 0;
    camera->takePhoto();
    config.watermarkTime = true;
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 3);
    const QImage hidden = QImage(delivered[0][0]).convertToFormat(QImage::Format_RGB888);
    const QImage none = QImage(delivered[1][0]).convertToFormat(QImage::Format_RGB888);
    const QImage stamped = QImage(delivered[2][0]).convertToFormat(QImage::Format_RGB888);
    EXPECT_EQ(hidden, plain);
    EXPECT_EQ(none, plain);
    EXPECT_NE(stamped, plain) << "the time is stamped";
}

TEST_F(Photo, GreyPhotoCarriesTheWatermarkAndStaysGrey)
{
    Config &config = *Cache::config;
    config.watermarkText = QStringLiteral("GREY");
    config.fontFamily = QStringLiteral("DejaVu Sans");
    config.fontSize = 30;
    config.transparency = 0;
    camera->shootType = 1;
    camera->setCurrentFrame(cv::Mat(400, 600, CV_8UC3, cv::Scalar(128, 128, 128)));
    camera->takePhoto();
    ASSERT_EQ(delivered.size(), 1);
    const QImage photo(delivered[0][0]);
    EXPECT_TRUE(photo.isGrayscale());
    EXPECT_FALSE(inkBox(photo).isEmpty());
}

// Four coloured quadrants, to see which part of the frame a selection keeps.
cv::Mat quadrants()
{
    cv::Mat frame(600, 800, CV_8UC3);
    frame(cv::Rect(0, 0, 400, 300)).setTo(cv::Scalar(0, 0, 200));       // red
    frame(cv::Rect(400, 0, 400, 300)).setTo(cv::Scalar(0, 200, 0));     // green
    frame(cv::Rect(0, 300, 400, 300)).setTo(cv::Scalar(200, 0, 0));     // blue
    frame(cv::Rect(400, 300, 400, 300)).setTo(cv::Scalar(200, 200, 200));
    return frame;
}

TEST_F(Photo, ManualSelectionCutsWhatThePreviewShows)
{
    Config &config = *Cache::config;
    config.correctionMode = 3;
    // The preview shows the frame at half size in a 400 x 300 widget.
    config.viewWidth = 400;
    config.viewHeight = 300;
    config.drawWidth = 400;
    config.drawHeight = 300;
    config.selectionX = 150;
    config.selectionY = 100;
    config.selectionWidth = 100;
    config.selectionHeight = 100;
    camera->setCurrentFrame(quadrants());
    camera->takePhoto();

    // Zoomed twice into the centre: the same selection covers half as much.
    config.zoom = 2.0;
    config.selectionX = 100;
    config.selectionY = 50;
    camera->takePhoto();

    // A preview that was never laid out selects nothing.
    config.viewWidth = 0;
    camera->takePhoto();

    ASSERT_EQ(delivered.size(), 2);
    const QImage plain(delivered[0][0]);
    ASSERT_EQ(plain.size(), QSize(200, 200));
    EXPECT_EQ(plain.pixelColor(20, 20), QColor(200, 0, 0));
    EXPECT_EQ(plain.pixelColor(180, 20), QColor(0, 200, 0));
    EXPECT_EQ(plain.pixelColor(20, 180), QColor(0, 0, 200));
    EXPECT_EQ(plain.pixelColor(180, 180), QColor(200, 200, 200));

    // Canvas point (200, 100) shows frame point (300, 200), (400, 300) the centre.
    const QImage zoomed(delivered[1][0]);
    ASSERT_EQ(zoomed.size(), QSize(200, 200));
    EXPECT_EQ(zoomed.pixelColor(10, 10), QColor(200, 0, 0));
    EXPECT_EQ(zoomed.pixelColor(190, 190), QColor(200, 0, 0)) << "still left of and above the centre";
}

// takePhoto() called on the thread that receives the paths, while the loop
// runs without a camera, hands them over on the loop's next idle pass.
TEST_F(Photo, DirectCallOnTheReceiversThreadDeliversWithoutDeadlock)
{
    ImageProcessing running;
    QList<QList<QString>> received;
    QObject receiver;
    QObject::connect(&running,
                     qOverload<QList<QString>, int>(&ImageProcessing::sendTakePhotoImageSignal),
                     &receiver, [&](QList<QString> paths, int) { received.append(paths); },
                     Qt::BlockingQueuedConnection);
    running.begin();
    running.setCurrentFrame(testframes::scene({640, 480}, {}));
    running.takePhoto();
    running.takePhoto();
    EXPECT_TRUE(testenv::waitFor([&] { return received.size() == 2; }, 5000));
    running.end();
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[0], QList<QString>{file("IMG_1.png")});
    EXPECT_EQ(received[1], QList<QString>{file("IMG_2.png")});
}

} // namespace
