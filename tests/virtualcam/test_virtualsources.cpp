// Virtual sources as the capture thread sees them through CameraCapture:
// sizes and properties answered like a camera, pacing, loops, the timeline
// (dark, vanish, page turns) and unplugging.
#include "cameracapture.h"
#include "mediafiles.h"
#include "fakeclock.h"
#include "virtualcameras.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

const int kFirst = VirtualCameras::firstIndex;

cv::Size sizeOf(CameraCapture &capture)
{
    return cv::Size(int(capture.get(cv::CAP_PROP_FRAME_WIDTH)), int(capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
}

cv::Mat readOne(CameraCapture &capture)
{
    cv::Mat frame;
    capture.read(frame);
    return frame;
}

double maxGrey(const cv::Mat &frame)
{
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    double high = 0;
    cv::minMaxLoc(grey, nullptr, &high);
    return high;
}

TEST(SyntheticSource, SwitchesToTheNearestOfferedSize)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720/1920x1080/3264x2448"));
    CameraCapture capture;
    ASSERT_TRUE(capture.open(kFirst));
    EXPECT_TRUE(capture.isOpened());
    EXPECT_EQ(sizeOf(capture), cv::Size(1280, 720));
    EXPECT_EQ(readOne(capture).size(), cv::Size(1280, 720));

    struct Case {
        cv::Size asked, got;
    };
    const Case cases[] = {{{1920, 1080}, {1920, 1080}}, {{4000, 3000}, {3264, 2448}},
                          {{1300, 730}, {1280, 720}},   {{3264, 2448}, {3264, 2448}},
                          {{640, 480}, {1280, 720}}};
    for (const Case &c : cases) {
        // Width first, then height, as the capture thread asks.
        EXPECT_TRUE(capture.set(cv::CAP_PROP_FRAME_WIDTH, c.asked.width));
        EXPECT_TRUE(capture.set(cv::CAP_PROP_FRAME_HEIGHT, c.asked.height));
        EXPECT_EQ(sizeOf(capture), c.got) << c.asked;
        const cv::Mat frame = readOne(capture);
        EXPECT_EQ(frame.size(), c.got) << c.asked;
        EXPECT_EQ(frame.type(), CV_8UC3);
    }
    // A width alone applies at the next frame, keeping the height.
    EXPECT_TRUE(capture.set(cv::CAP_PROP_FRAME_WIDTH, 1900));
    EXPECT_EQ(readOne(capture).size(), cv::Size(1920, 1080));
    EXPECT_FALSE(capture.set(cv::CAP_PROP_FRAME_WIDTH, 0));
}

TEST(SyntheticSource, AnswersFourccAndRateLikeACamera)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=20"));
    CameraCapture capture;
    EXPECT_EQ(capture.get(cv::CAP_PROP_FPS), 0.0);   // nothing open yet
    ASSERT_TRUE(capture.open(kFirst));
    EXPECT_EQ(capture.get(cv::CAP_PROP_FPS), 20.0);
    EXPECT_TRUE(capture.set(cv::CAP_PROP_FPS, 100.0));   // asks for the fastest: gets its own
    EXPECT_EQ(capture.get(cv::CAP_PROP_FPS), 20.0);
    EXPECT_TRUE(capture.set(cv::CAP_PROP_FPS, 10.0));
    EXPECT_EQ(capture.get(cv::CAP_PROP_FPS), 10.0);

    const int mjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    EXPECT_EQ(int(capture.get(cv::CAP_PROP_FOURCC)), mjpg);
    EXPECT_TRUE(capture.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V')));
    EXPECT_FALSE(capture.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('P', 'I', 'M', '1')));
    EXPECT_EQ(int(capture.get(cv::CAP_PROP_FOURCC)), cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V'));
    EXPECT_FALSE(capture.set(cv::CAP_PROP_BRIGHTNESS, 10));
}

TEST(SyntheticSource, ReadsArePacedAtTheRate)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=25"));
    CameraCapture capture;
    ASSERT_TRUE(capture.open(kFirst));
    readOne(capture);   // the first frame draws the scene
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 10; ++i)
        ASSERT_FALSE(readOne(capture).empty());
    // Ten frames at 25 per second cannot come faster than 0.4 s (a margin for the clock).
    EXPECT_GE(timer.elapsed(), 300);
}

TEST(SyntheticSource, FramesAreFreshCopies)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=60"));
    CameraCapture capture;
    ASSERT_TRUE(capture.open(kFirst));
    cv::Mat first = readOne(capture);
    const cv::Mat pristine = first.clone();
    first.setTo(cv::Scalar::all(255));   // a reader scribbling on its frame
    const cv::Mat second = readOne(capture);
    EXPECT_EQ(cv::norm(second, pristine, cv::NORM_INF), 0.0);
}

TEST(SyntheticSource, TimelineGoesDarkAndComesBack)
{
    FakeClock clock;   // before the cameras: their timelines start on it
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=60,dark=0+0.3"));
    CameraCapture capture;
    ASSERT_TRUE(capture.open(kFirst));
    const cv::Mat dark = readOne(capture);
    ASSERT_FALSE(dark.empty());
    EXPECT_LT(maxGrey(dark), 20);
    clock.advance(350);
    EXPECT_GT(maxGrey(readOne(capture)), 200);   // the sheets are back
}

TEST(SyntheticSource, VanishedCameraCannotBeOpenedUntilItReturns)
{
    FakeClock clock;
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=60,vanish=0+0.4;"
                                         "synthetic:sizes=1280x720,fps=60,vanish=0.2+"));
    CameraCapture first;
    EXPECT_FALSE(first.open(kFirst));
    EXPECT_TRUE(readOne(first).empty());
    CameraCapture second;
    ASSERT_TRUE(second.open(kFirst + 1));
    EXPECT_FALSE(readOne(second).empty());
    clock.advance(450);
    // The first is back; the second went away for good and its frames are empty.
    EXPECT_TRUE(first.open(kFirst));
    EXPECT_FALSE(readOne(first).empty());
    cv::Mat frame;
    EXPECT_FALSE(second.read(frame));
    EXPECT_TRUE(frame.empty());
    EXPECT_FALSE(second.open(kFirst + 1));
}

TEST(SyntheticSource, PageTurnsChangeTheScene)
{
    FakeClock clock;
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=30,page=0.3"));
    CameraCapture capture;
    ASSERT_TRUE(capture.open(kFirst));
    const cv::Mat first = readOne(capture);
    clock.advance(250);
    EXPECT_EQ(cv::norm(readOne(capture), first, cv::NORM_L1), 0.0) << "the same page until it turns";
    bool turned = false;
    while (!turned && clock.elapsedMs() < 5000) {
        clock.advance(30);
        turned = cv::norm(readOne(capture), first, cv::NORM_L1) > 0;
    }
    EXPECT_TRUE(turned);
}

TEST(VirtualSources, UnpluggedCameraDeliversNothingUntilPluggedBack)
{
    VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=60"));
    CameraCapture capture;
    const int opensBefore = VirtualCameras::openCount(kFirst);
    ASSERT_TRUE(capture.open(kFirst));
    ASSERT_FALSE(readOne(capture).empty());
    VirtualCameras::setPlugged(kFirst, false);
    EXPECT_FALSE(capture.isOpened());
    EXPECT_TRUE(readOne(capture).empty());
    EXPECT_FALSE(capture.open(kFirst));
    VirtualCameras::setPlugged(kFirst, true);
    ASSERT_TRUE(capture.open(kFirst));
    EXPECT_FALSE(readOne(capture).empty());
    EXPECT_EQ(VirtualCameras::openCount(kFirst) - opensBefore, 3);
    capture.release();
    EXPECT_FALSE(capture.isOpened());
    EXPECT_TRUE(readOne(capture).empty());
}

TEST(VideoSource, PlaysTheFileInALoopAtItsOwnSize)
{
    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("clip.avi"));
    ASSERT_TRUE(mediafiles::writeVideo(clip, 4, 50, cv::Size(320, 240)));
    VirtualCameras::parse(QStringLiteral("video:") + clip);
    CameraCapture capture;
    ASSERT_TRUE(capture.open(kFirst));
    EXPECT_NEAR(capture.get(cv::CAP_PROP_FPS), 50.0, 0.01);
    // A file keeps its size.
    EXPECT_FALSE(capture.set(cv::CAP_PROP_FRAME_WIDTH, 1920) && capture.set(cv::CAP_PROP_FRAME_HEIGHT, 1080));
    EXPECT_EQ(sizeOf(capture), cv::Size(320, 240));
    for (int i = 0; i < 10; ++i) {
        const cv::Mat frame = readOne(capture);
        ASSERT_EQ(frame.size(), cv::Size(320, 240)) << "frame " << i;
        EXPECT_NEAR(mediafiles::meanLevel(frame), mediafiles::levelOfFrame(i % 4), 6) << "frame " << i;
    }
}

TEST(ImageSource, SequenceLoopsAndStillImageRepeats)
{
    QTemporaryDir dir;
    const int levels[] = {60, 120, 180};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(mediafiles::writeImage(dir.filePath(QStringLiteral("p%1.png").arg(i)), levels[i],
                                           i == 1 ? cv::Size(100, 80) : cv::Size(200, 160)));
    VirtualCameras::parse(QStringLiteral("images:%1?fps=60;image:%2?fps=60")
                              .arg(dir.filePath(QStringLiteral("p*.png")), dir.filePath(QStringLiteral("p2.png"))));
    CameraCapture sequence;
    ASSERT_TRUE(sequence.open(kFirst));
    for (int i = 0; i < 7; ++i) {
        const cv::Mat frame = readOne(sequence);
        ASSERT_EQ(frame.size(), cv::Size(200, 160)) << "frame " << i;   // every image at the first one's size
        EXPECT_NEAR(mediafiles::meanLevel(frame), levels[i % 3], 1) << "frame " << i;
    }
    CameraCapture still;
    ASSERT_TRUE(still.open(kFirst + 1));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(mediafiles::meanLevel(readOne(still)), 180, 1);
}

} // namespace
