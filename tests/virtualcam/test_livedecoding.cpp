// An MJPG camera's frames are decoded only as large as the preview or the
// web canvas shows them, and in full for everything that is kept: photos,
// web captures, insets and recordings have the camera's size and the pixels
// of a full decode of the same frame; a zoomed preview gets a finer picture;
// outlines on a reduced preview lie on the sheets; a YUYV camera is as before.
#include "cache.h"
#include "camerainfo.h"
#include "cameracapture.h"
#include "cameraviewdialog.h"
#include "config.h"
#include "docscene.h"
#include "documentdetection.h"
#include "fullsizeframe.h"
#include "imageprocessing.h"
#include "mjpgframe.h"
#include "qcameraview.h"
#include "recording.h"
#include "testenv.h"
#include "virtualcameras.h"

#include <QImage>
#include <QImageReader>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

#include <vector>

namespace {

const int kFirst = VirtualCameras::firstIndex;
const int kMjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
const cv::Size kFull(1920, 1080);

docscene::Options sceneOptions()
{
    docscene::Options scene;
    scene.size = kFull;
    scene.sheets = 2;
    scene.fixedAngle = true;
    scene.angle = 0;
    return scene;
}

cv::Mat scenePicture() { return docscene::render(sceneOptions(), 0).image; }

std::vector<uchar> sceneJpeg()
{
    std::vector<uchar> bytes;
    EXPECT_TRUE(cv::imencode(".jpg", scenePicture(), bytes, {cv::IMWRITE_JPEG_QUALITY, 85}));
    return bytes;
}

// What a full decode of the camera's frame gives, and a decode at 1/reduction.
cv::Mat decodedScene(int mode = cv::IMREAD_COLOR) { return cv::imdecode(sceneJpeg(), mode); }

cv::Mat bgrOf(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                          size_t(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(wrapped, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

double largestDifference(const cv::Mat &a, const cv::Mat &b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return -1.0;
    return cv::norm(a, b, cv::NORM_INF);
}

const char kCamera[] = "synthetic:sizes=1920x1080,fps=30,sheets=2,angle=0";

// ---------------------------------------------------------------- the decoder and the scale

TEST(LiveDecoding, TheLargestReductionThatStillCoversWhatIsShown)
{
    EXPECT_EQ(reductionFor(cv::Size(3264, 2448), cv::Size(400, 300)), 8);    // 408 x 306
    EXPECT_EQ(reductionFor(cv::Size(3264, 2448), cv::Size(409, 300)), 4);
    EXPECT_EQ(reductionFor(cv::Size(1920, 1080), cv::Size(640, 360)), 2);
    EXPECT_EQ(reductionFor(cv::Size(1920, 1080), cv::Size(1920, 1080)), 1);
    EXPECT_EQ(reductionFor(cv::Size(1920, 1080), cv::Size(2500, 1400)), 1);
    EXPECT_EQ(reductionFor(cv::Size(1920, 1080), cv::Size()), 1);   // nobody said: full
    // libjpeg rounds the reduced size up.
    EXPECT_EQ(reducedSize(cv::Size(1281, 721), 8), cv::Size(161, 91));
    EXPECT_EQ(reductionFor(cv::Size(1281, 721), cv::Size(161, 91)), 8);

    const std::vector<uchar> bytes = sceneJpeg();
    const cv::Mat compressed = cv::Mat(bytes, true).reshape(1, 1);
    EXPECT_EQ(mjpgFrameSize(compressed), kFull);
    EXPECT_EQ(mjpgFrameSize(cv::Mat(1, 64, CV_8UC1, cv::Scalar(7))), cv::Size());
    // A header cut short says nothing rather than reading past the bytes.
    EXPECT_EQ(mjpgFrameSize(compressed.colRange(0, 40).clone()), cv::Size());

    for (int reduction : {1, 2, 4, 8}) {
        cv::Mat picture;
        ASSERT_TRUE(decodeMjpgFrame(compressed, picture, reduction));
        EXPECT_EQ(picture.size(), reducedSize(kFull, reduction));
    }
    cv::Mat none;
    EXPECT_FALSE(decodeMjpgFrame(cv::Mat(1, 64, CV_8UC1, cv::Scalar(7)), none, 4));
    EXPECT_TRUE(none.empty());
}

TEST(LiveDecoding, CameraHandsOutTheReducedPictureAndKeepsTheFullFrame)
{
    VirtualCameras::parse(QString::fromLatin1(kCamera));
    CameraCapture capture;
    capture.setLiveSize([](cv::Size full) { return cv::Size(full.width / 4, full.height / 4); });
    ASSERT_TRUE(capture.open(kFirst));
    ASSERT_TRUE(capture.set(cv::CAP_PROP_FOURCC, kMjpg));
    capture.set(cv::CAP_PROP_FRAME_WIDTH, kFull.width);
    capture.set(cv::CAP_PROP_FRAME_HEIGHT, kFull.height);

    cv::Mat live;
    std::shared_ptr<FullSizeFrame> kept;
    ASSERT_TRUE(capture.read(live, kept));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->liveReduction(), 4);
    EXPECT_EQ(largestDifference(live, decodedScene(cv::IMREAD_REDUCED_COLOR_4)), 0.0);
    EXPECT_EQ(largestDifference(kept->picture(), decodedScene()), 0.0);

    // Asked for YUYV, the camera's raw picture goes through untouched.
    ASSERT_TRUE(capture.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V')));
    ASSERT_TRUE(capture.read(live, kept));
    EXPECT_EQ(kept->liveReduction(), 1);
    EXPECT_EQ(largestDifference(live, scenePicture()), 0.0);
    EXPECT_EQ(largestDifference(kept->picture(), scenePicture()), 0.0);

    capture.release();
    EXPECT_FALSE(capture.read(live, kept));
    EXPECT_FALSE(kept);
}

// A frame whose header claims `side` x `side` pixels over the scene's data.
cv::Mat withHeaderSize(const std::vector<uchar> &good, int side)
{
    cv::Mat bytes = cv::Mat(good, true).reshape(1, 1);
    uchar *at = bytes.ptr();
    for (size_t i = 2; i + 9 < good.size(); ++i) {
        if (at[i] == 0xFF && at[i + 1] == 0xC0) {   // baseline frame header
            at[i + 5] = at[i + 7] = uchar(side >> 8);
            at[i + 6] = at[i + 8] = uchar(side & 0xFF);
            break;
        }
    }
    return bytes;
}

TEST(LiveDecoding, BrokenAndHostileFramesAreRefusedNeverThrown)
{
    const std::vector<uchar> good = sceneJpeg();
    const cv::Mat frame = cv::Mat(good, true).reshape(1, 1);
    EXPECT_TRUE(mjpgFrameProblem(frame, kFull).isEmpty());
    // Cameras pad frames with zeros after the end of the image.
    cv::Mat padded;
    cv::hconcat(frame, cv::Mat::zeros(1, 300, CV_8UC1), padded);
    EXPECT_TRUE(mjpgFrameProblem(padded, kFull).isEmpty());

    EXPECT_FALSE(mjpgFrameProblem(frame.colRange(0, frame.cols / 2).clone(), kFull).isEmpty());
    EXPECT_FALSE(mjpgFrameProblem(cv::Mat(1, 5000, CV_8UC1, cv::Scalar(0x5A)), kFull).isEmpty());
    EXPECT_FALSE(mjpgFrameProblem(frame, cv::Size(1280, 720)).isEmpty());
    const cv::Mat huge = withHeaderSize(good, 40000);
    EXPECT_EQ(mjpgFrameSize(huge), cv::Size(40000, 40000));
    const QString problem = mjpgFrameProblem(huge, kFull);
    EXPECT_TRUE(problem.contains(QStringLiteral("40000x40000"))) << problem.toStdString();

    // Decoded anyway, on whichever thread: no exception, no picture.
    cv::Mat picture;
    EXPECT_NO_THROW(EXPECT_FALSE(decodeMjpgFrame(huge, picture, 1)));
    EXPECT_TRUE(picture.empty());
    const cv::Mat live = decodedScene(cv::IMREAD_REDUCED_COLOR_8);
    const std::shared_ptr<FullSizeFrame> kept = FullSizeFrame::ofCompressed(huge, live, 8);
    EXPECT_NO_THROW(EXPECT_TRUE(kept->picture().empty()));
}

// ---------------------------------------------------------------- the capture thread

class LiveDecodingThread : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::resetConfig(documents);
        Cache::config->codec = QStringLiteral("png");
        Cache::config->gnIswhite = false;
        *Cache::cameras = VirtualCameras::parse(QString::fromLatin1(kCamera));
        ASSERT_EQ(Cache::cameras->size(), 1);
        QObject::connect(&processing, &ImageProcessing::sendFarmeSignal, &receiver,
                         [this](QImage image) { frames.append(image); },
                         Qt::BlockingQueuedConnection);
        processing.cameraListIndex = 0;
        processing.setFrameWidthAndHeight(kFull.width, kFull.height);
        processing.setPreviewSize(QSize(480, 270));
    }

    void start()
    {
        processing.begin();
        processing.openCamara();
    }

    void TearDown() override { processing.end(); }

    // The size of the frames published once the settings took effect.
    QSize publishedSize()
    {
        const int seen = frames.size();
        EXPECT_TRUE(testenv::waitFor([&] { return frames.size() >= seen + 2; }, 15000));
        return frames.isEmpty() ? QSize() : frames.last().size();
    }

    QTemporaryDir documents;
    QObject receiver;
    QList<QImage> frames;
    ImageProcessing processing;
};

TEST_F(LiveDecodingThread, PreviewIsReducedUnlessZoomedBeyondIt)
{
    start();
    EXPECT_EQ(publishedSize(), QSize(480, 270));
    Cache::config->zoom = 1.4;   // 672 x 378 shown: the next finer scale
    EXPECT_EQ(publishedSize(), QSize(960, 540));
    Cache::config->zoom = 2.0;
    EXPECT_EQ(publishedSize(), QSize(960, 540));
    Cache::config->zoom = 3.0;   // finer than half size: the camera's own pixels
    EXPECT_EQ(publishedSize(), QSize(1920, 1080));
    Cache::config->zoom = 1.0;
    EXPECT_EQ(publishedSize(), QSize(480, 270));

    // A tall preview: upright, a 16:9 frame fills only its width; turned a
    // quarter, it fills its height and needs a finer picture.
    processing.setPreviewSize(QSize(400, 700));
    EXPECT_EQ(publishedSize(), QSize(480, 270));
    processing.setAngle(1);
    EXPECT_EQ(publishedSize(), QSize(540, 960));
    processing.setPreviewSize(QSize(480, 270));

    // Barcode reading wants every pixel of the camera.
    processing.setAngle(-1);
    processing.setErweima(1);
    EXPECT_EQ(publishedSize(), QSize(1920, 1080));
    processing.setErweima(0);
    EXPECT_EQ(publishedSize(), QSize(480, 270));
}

TEST_F(LiveDecodingThread, PhotosAndWebCapturesAreFullDecodesOfTheFrame)
{
    start();
    ASSERT_EQ(publishedSize(), QSize(480, 270));
    const cv::Mat full = decodedScene();

    processing.correction = 0;
    const QList<QString> paths = processing.takePhotoPaths();
    ASSERT_EQ(paths.size(), 1);
    EXPECT_EQ(largestDifference(bgrOf(QImageReader(paths.first()).read()), full), 0.0);

    const QString webPath = documents.filePath(QStringLiteral("web.png"));
    ASSERT_TRUE(processing.takePhotoByWeb(webPath, 100, 0, 0));
    EXPECT_EQ(largestDifference(bgrOf(QImageReader(webPath).read()), full), 0.0);

    // Single-sheet correction: the sheet is found on the full picture and
    // cut out of it, exactly as from a frame decoded in full.
    processing.correction = 1;
    const documentdetection::Documents onFull =
        documentdetection::keepDocuments(documentdetection::candidates(full));
    ASSERT_TRUE(onFull.found());
    const cv::Mat expected = documentdetection::cutOut(full, onFull.largest);
    const QList<QString> cut = processing.takePhotoPaths();
    ASSERT_EQ(cut.size(), 1);
    EXPECT_EQ(largestDifference(bgrOf(QImageReader(cut.first()).read()), expected), 0.0);
}

TEST_F(LiveDecodingThread, OutlinesOnAReducedPreviewLieOnTheSheets)
{
    processing.setCameraCorrection(1);
    start();
    ASSERT_EQ(publishedSize(), QSize(480, 270));
    const QImage shown = frames.last();

    const docscene::Geometry geometry = docscene::layout(sceneOptions());
    ASSERT_EQ(geometry.sheets.size(), 2u);
    const auto area = [](const docscene::Sheet &s) { return s.rect.size.area(); };
    const bool firstLarger = area(geometry.sheets[0]) >= area(geometry.sheets[1]);
    const cv::Rect largest = geometry.sheets[firstLarger ? 0 : 1].rect.boundingRect();
    const cv::Rect smaller = geometry.sheets[firstLarger ? 1 : 0].rect.boundingRect();
    const auto greenAt = [&](double x, double y) {
        const QRgb pixel = shown.pixel(int(x / 4), int(y / 4));
        return qGreen(pixel) > 200 && qRed(pixel) < 80 && qBlue(pixel) < 80;
    };
    const double midX = largest.x + largest.width / 2.0;
    const double midY = largest.y + largest.height / 2.0;
    EXPECT_TRUE(greenAt(midX, largest.y));
    EXPECT_TRUE(greenAt(midX, largest.y + largest.height - 1));
    EXPECT_TRUE(greenAt(largest.x, midY));
    EXPECT_TRUE(greenAt(largest.x + largest.width - 1, midY));
    // Single-sheet mode outlines the largest sheet only.
    EXPECT_FALSE(greenAt(smaller.x + smaller.width / 2.0, smaller.y));
    // Inside the sheet, away from its edges, no outline.
    EXPECT_FALSE(greenAt(midX, largest.y + 40));

    // The published outline is in the camera's own pixels.
    processing.end();
    ASSERT_FALSE(processing.largestContour.empty());
    const cv::Rect outline = cv::boundingRect(processing.largestContour);
    EXPECT_NEAR(outline.x, largest.x, 8);
    EXPECT_NEAR(outline.y, largest.y, 8);
    EXPECT_NEAR(outline.width, largest.width, 8);
    EXPECT_NEAR(outline.height, largest.height, 8);
}

TEST_F(LiveDecodingThread, RecordingsHaveTheCamerasSize)
{
    start();
    ASSERT_EQ(publishedSize(), QSize(480, 270));
    Recording recorder(processing);
    const QString path = documents.filePath(QStringLiteral("clip.avi"));
    ASSERT_TRUE(recorder.beginVideo(path));
    ASSERT_TRUE(testenv::waitFor([&] { return recorder.recordedFrames() >= 3; }, 10000));
    recorder.end();
    ASSERT_TRUE(testenv::waitFor([&] { return !recorder.isRecording(); }, 10000));

    cv::VideoCapture clip(path.toStdString());
    ASSERT_TRUE(clip.isOpened());
    cv::Mat first;
    ASSERT_TRUE(clip.read(first));
    ASSERT_EQ(first.size(), kFull);
    // Written again as MJPG: close to the full decode, not a blown-up preview.
    EXPECT_GT(cv::PSNR(first, decodedScene()), 32.0);
}

TEST_F(LiveDecodingThread, AYuyvCameraIsPublishedAsItDelivers)
{
    Cache::config->fourcc = 1;   // the settings' second entry: no MJPG
    start();
    ASSERT_EQ(publishedSize(), QSize(1920, 1080));
    EXPECT_EQ(largestDifference(bgrOf(frames.last()), scenePicture()), 0.0);
    EXPECT_EQ(largestDifference(processing.currentFrame(), scenePicture()), 0.0);
}

TEST_F(LiveDecodingThread, WebFramesAreDecodedForTheCanvas)
{
    Cache::config->webSocketMode = true;
    QList<QString> texts;
    QObject::connect(&processing, &ImageProcessing::sendImageBase64Signal, &receiver,
                     [&texts](QString text) { texts.append(text); }, Qt::BlockingQueuedConnection);
    Cache::config->autoCaptureOn = true;   // the service also gets the frames then
    start();
    // 640 x 480 shows 640 x 360 of a 16:9 frame: half size is the smallest that covers it.
    EXPECT_EQ(publishedSize(), QSize(960, 540));
    ASSERT_FALSE(texts.isEmpty());
    const QByteArray jpeg = QByteArray::fromBase64(texts.last().toLatin1());
    EXPECT_EQ(QImage::fromData(jpeg).size(), QSize(640, 480));
    processing.zoomValue = 2.0;   // the page zoomed in: the camera's own pixels
    EXPECT_EQ(publishedSize(), QSize(1920, 1080));
    processing.end();
    Cache::config->webSocketMode = false;
    Cache::config->autoCaptureOn = false;
}

// ---------------------------------------------------------------- insets

TEST(LiveDecodingInsets, ASecondCameraHandsItsFullPictureForInsets)
{
    QTemporaryDir documents;
    testenv::resetConfig(documents);
    *Cache::cameras = VirtualCameras::parse(QString::fromLatin1(kCamera));
    CameraViewDialog dialog;
    QCameraView *view = dialog.preview();
    view->init(0);
    view->setCameraResolution(QSize(kFull.width, kFull.height));
    dialog.show();
    ASSERT_TRUE(testenv::waitFor([&] { return !view->currentImage().isNull(); }, 20000));
    // The 400 x 300 view shows a quarter-size picture...
    EXPECT_EQ(view->currentImage().size(), QSize(480, 270));
    // ...while an inset gets the camera's frame decoded in full.
    const QImage inset = dialog.getChildImage();
    EXPECT_EQ(largestDifference(bgrOf(inset), decodedScene()), 0.0);
    dialog.close();
    view->stop();
}

} // namespace
