// A virtual camera asked for MJPG streams JPEG frames that the capture path
// decodes: the pictures have the camera's full size and the pixels of a full
// decode of the scene at quality 85; a changing scene (page turns, stamps)
// is never handed out stale; a camera asked for YUYV streams the raw scene.
#include "cameracapture.h"
#include "docscene.h"
#include "fakeclock.h"
#include "timestamp.h"
#include "virtualcameras.h"


#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

#include <vector>

namespace {

const int kFirst = VirtualCameras::firstIndex;
const int kMjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
const int kYuyv = cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V');

docscene::Options sceneOf(cv::Size size)
{
    docscene::Options scene;
    scene.size = size;
    scene.sheets = 2;
    scene.fixedAngle = true;
    scene.angle = 0;
    return scene;
}

// What a camera streaming the picture at quality 85 delivers after decoding.
cv::Mat throughJpeg(const cv::Mat &picture)
{
    std::vector<uchar> bytes;
    EXPECT_TRUE(cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, 85}));
    return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

cv::Mat readOne(CameraCapture &capture)
{
    cv::Mat frame;
    EXPECT_TRUE(capture.read(frame));
    return frame;
}

bool samePixels(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

void openAs(CameraCapture &capture, int fourcc, cv::Size size)
{
    ASSERT_TRUE(capture.open(kFirst));
    ASSERT_TRUE(capture.set(cv::CAP_PROP_FOURCC, fourcc));
    capture.set(cv::CAP_PROP_FRAME_WIDTH, size.width);
    capture.set(cv::CAP_PROP_FRAME_HEIGHT, size.height);
}

} // namespace

TEST(MjpgVirtualCamera, FramesAreFullSizeDecodesOfTheScene)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720/3264x2448,fps=60,sheets=2,angle=0"));
    for (const cv::Size size : {cv::Size(1280, 720), cv::Size(3264, 2448)}) {
        CameraCapture capture;
        openAs(capture, kMjpg, size);
        const cv::Mat scene = docscene::render(sceneOf(size), 0).image;
        const cv::Mat expected = throughJpeg(scene);
        for (int i = 0; i < 3; ++i) {   // the first frame encodes, the others reuse it
            const cv::Mat frame = readOne(capture);
            ASSERT_EQ(frame.size(), size);
            ASSERT_EQ(frame.type(), CV_8UC3);
            EXPECT_TRUE(samePixels(frame, expected)) << size << " frame " << i;
        }
        // Lossy, so the pictures really went through JPEG.
        EXPECT_GT(cv::norm(readOne(capture), scene, cv::NORM_INF), 0.0);
    }
}

TEST(MjpgVirtualCamera, YuyvAndRefusedFormatsKeepRawFrames)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=60,sheets=2,angle=0"));
    const cv::Mat scene = docscene::render(sceneOf(cv::Size(1280, 720)), 0).image;

    CameraCapture yuyv;
    openAs(yuyv, kYuyv, cv::Size(1280, 720));
    EXPECT_TRUE(samePixels(readOne(yuyv), scene));

    // Never asked for a format, or asked for one it does not offer: raw, as before.
    CameraCapture untouched;
    ASSERT_TRUE(untouched.open(kFirst));
    EXPECT_FALSE(untouched.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('P', 'I', 'M', '1')));
    EXPECT_TRUE(samePixels(readOne(untouched), scene));

    // Switching back from MJPG to YUYV on the open camera returns to raw frames.
    CameraCapture switching;
    openAs(switching, kMjpg, cv::Size(1280, 720));
    EXPECT_FALSE(samePixels(readOne(switching), scene));
    ASSERT_TRUE(switching.set(cv::CAP_PROP_FOURCC, kYuyv));
    EXPECT_TRUE(samePixels(readOne(switching), scene));
}

TEST(MjpgVirtualCamera, SizeChangesAndPageTurnsAreNeverStale)
{
    FakeClock clock;   // before the camera: its page timeline starts on it
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720/640x480,fps=30,page=0.25,"
                                         "sheets=2,angle=0"));
    CameraCapture capture;
    openAs(capture, kMjpg, cv::Size(1280, 720));
    const cv::Mat pages[] = {throughJpeg(docscene::render(sceneOf(cv::Size(1280, 720)), 0).image),
                             throughJpeg(docscene::render(sceneOf(cv::Size(1280, 720)), 1).image)};
    EXPECT_TRUE(samePixels(readOne(capture), pages[0]));
    clock.advance(200);
    EXPECT_TRUE(samePixels(readOne(capture), pages[0])) << "the same page until it turns";
    clock.advance(100);
    // The cached picture of the first page must not be served after the turn.
    EXPECT_TRUE(samePixels(readOne(capture), pages[1]));

    capture.set(cv::CAP_PROP_FRAME_WIDTH, 640);
    capture.set(cv::CAP_PROP_FRAME_HEIGHT, 480);
    EXPECT_EQ(readOne(capture).size(), cv::Size(640, 480));
}

TEST(MjpgVirtualCamera, EveryStampedFrameCarriesItsOwnTime)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=30,stamp=1"));
    CameraCapture capture;
    openAs(capture, kMjpg, cv::Size(1280, 720));
    const cv::Rect2d area(docscene::stampArea(cv::Size(1280, 720)));
    std::int64_t previous = -1;
    for (int i = 0; i < 4; ++i) {
        const std::int64_t before = docscene::stampClock();
        std::int64_t stamp = 0;
        ASSERT_TRUE(docscene::readTimestamp(readOne(capture), area, &stamp)) << "frame " << i;
        EXPECT_GE(docscene::stampAge(before, stamp), 0) << "a stamp older than the read";
        EXPECT_GT(stamp, previous);
        previous = stamp;
    }
}
