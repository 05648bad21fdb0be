// The camera path on a real kernel: the virtual V4L2 capture driver of the
// lab's guest stands in for the document camera. Runs inside the lab only.
#include "cache.h"
#include "cameraenumeration.h"
#include "config.h"
#include "guestkernel.h"
#include "imageprocessing.h"
#include "testenv.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

const QString kDriverBind = QStringLiteral("/sys/bus/platform/drivers/vivid/");

// Frame sizes of 1280 pixels width and more that v4l2-ctl lists for the
// node's first pixel format, in its order, each once.
QList<QSize> wideSizesFromTool(const QString &node)
{
    const QString formats = guestkernel::run(QStringLiteral("v4l2-ctl"),
        {QStringLiteral("-d"), node, QStringLiteral("--list-formats-ext")});
    QList<QSize> sizes;
    const QRegularExpression discrete(QStringLiteral("Size: Discrete (\\d+)x(\\d+)"));
    for (auto it = discrete.globalMatch(formats); it.hasNext();) {
        const auto match = it.next();
        const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
        if (size.width() >= 1280 && !sizes.contains(size))
            sizes.append(size);
    }
    return sizes;
}

// GStreamer's V4L2 source, which the good plug-ins bring and desktops have.
bool gstreamerCameraPluginInstalled()
{
    const QStringList found = QDir(QStringLiteral("/usr/lib/x86_64-linux-gnu/gstreamer-1.0"))
                                  .entryList({QStringLiteral("libgstvideo4linux2.so")});
    return !found.isEmpty();
}

QString ctl(const QStringList &arguments)
{
    return guestkernel::run(QStringLiteral("v4l2-ctl"),
                            QStringList{QStringLiteral("-d"), QStringLiteral("/dev/video0")} + arguments);
}

class VividCamera : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!guestkernel::inGuest())
            GTEST_SKIP() << "runs inside the hardware lab only";
        testenv::resetConfig(documents);
        Cache::cameras->clear();
    }
    void TearDown() override
    {
        Cache::cameras->clear();
        if (guestkernel::inGuest()) {
            EXPECT_TRUE(guestkernel::unload(QStringLiteral("vivid"))) << "the camera is still held open";
        }
    }
    // One capture node per instance unless told otherwise.
    void loadVivid(const QStringList &parameters = {QStringLiteral("node_types=0x1")})
    {
        ASSERT_TRUE(guestkernel::load(QStringLiteral("vivid"), parameters));
        ASSERT_TRUE(guestkernel::waitForPath(QStringLiteral("/dev/video0"), 10000));
    }
    QTemporaryDir documents;
};

TEST_F(VividCamera, EnumerationKeepsTheWideSizesTheDriverOffers)
{
    loadVivid();
    const QList<CameraInfo> cameras = enumerateCameras(V4l2Api::system());
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].index, 0);
    EXPECT_EQ(cameras[0].devicePath, QStringLiteral("/dev/video0"));
    EXPECT_EQ(cameras[0].name, QStringLiteral("vivid"));
    const QList<QSize> expected = wideSizesFromTool(QStringLiteral("/dev/video0"));
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(cameras[0].resolutions, expected);
    for (const QSize &size : cameras[0].resolutions)
        EXPECT_GE(size.width(), 1280);
}

TEST_F(VividCamera, EnumerationEndsAtTheFirstNodeThatCannotCapture)
{
    // video0 captures, video1 is the first instance's output node, video2
    // is the second instance's capture node: only video0 is listed.
    loadVivid({QStringLiteral("n_devs=2"), QStringLiteral("node_types=0x101,0x1")});
    ASSERT_TRUE(guestkernel::waitForPath(QStringLiteral("/dev/video2"), 10000));
    const QList<CameraInfo> cameras = enumerateCameras(V4l2Api::system());
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].devicePath, QStringLiteral("/dev/video0"));
}

TEST_F(VividCamera, TwoCamerasOfOneModelAreListedOnce)
{
    loadVivid({QStringLiteral("n_devs=2"), QStringLiteral("node_types=0x1,0x1")});
    ASSERT_TRUE(guestkernel::waitForPath(QStringLiteral("/dev/video1"), 10000));
    const QString second = guestkernel::run(QStringLiteral("v4l2-ctl"),
        {QStringLiteral("-d"), QStringLiteral("/dev/video1"), QStringLiteral("--info")});
    ASSERT_TRUE(second.contains(QStringLiteral("Video Capture"))) << second.toStdString();
    const QList<CameraInfo> cameras = enumerateCameras(V4l2Api::system());
    ASSERT_EQ(cameras.size(), 1);
    EXPECT_EQ(cameras[0].devicePath, QStringLiteral("/dev/video0"));
}

// Counts the capture thread's frames and remembers the last size.
struct FrameWatch
{
    std::atomic<int> frames{0};
    std::atomic<int> closes{0};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    void attach(ImageProcessing &capture)
    {
        QObject::connect(&capture, &ImageProcessing::sendFarmeSignal, &capture,
                         [this](const QImage &image) {
                             width = image.width();
                             height = image.height();
                             ++frames;
                         }, Qt::DirectConnection);
        QObject::connect(&capture, &ImageProcessing::closeCameraSignal, &capture,
                         [this] { ++closes; }, Qt::DirectConnection);
    }
    bool waitForFrames(int count, int timeoutMs)
    {
        const int target = frames + count;
        return testenv::waitFor([&] { return frames >= target; }, timeoutMs);
    }
};

class VividStreaming : public VividCamera
{
protected:
    void SetUp() override
    {
        VividCamera::SetUp();
        if (IsSkipped())
            return;
        // As on a desktop: OpenCV could open a camera number through
        // GStreamer, which passes on none of the station's requests.
        ASSERT_TRUE(gstreamerCameraPluginInstalled()) << "gstreamer1.0-plugins-good is missing";
        loadVivid();
        *Cache::cameras = enumerateCameras(V4l2Api::system());
        ASSERT_EQ(Cache::cameras->size(), 1);
        ASSERT_TRUE(Cache::cameras->at(0).resolutions.contains(QSize(1280, 720)));
        Cache::config->fourcc = 0;   // the factory setting, MJPG
        capture = std::make_unique<ImageProcessing>();
        watch.attach(*capture);
        capture->begin();
        capture->cameraListIndex = 0;
        capture->setCameraResolution(QSize(1280, 720));
        ASSERT_TRUE(watch.waitForFrames(3, 60000)) << "no frames from /dev/video0";
    }
    void TearDown() override
    {
        if (capture) {
            capture->end();
            capture->wait();
            capture.reset();   // lets go of the node, so the module can go
        }
        VividCamera::TearDown();
    }
    std::unique_ptr<ImageProcessing> capture;
    FrameWatch watch;
};

TEST_F(VividStreaming, FramesAndPhotoHaveTheConfiguredSize)
{
    EXPECT_EQ(watch.width, 1280);
    EXPECT_EQ(watch.height, 720);

    // The size reached the driver; the driver has no MJPG, so the station's
    // FOURCC request leaves it at a format it offers, and frames still flow.
    const QString format = ctl({QStringLiteral("--get-fmt-video")});
    EXPECT_TRUE(format.contains(QRegularExpression(QStringLiteral("Width/Height\\s*:\\s*1280/720"))))
        << format.toStdString();
    const QString offered = ctl({QStringLiteral("--list-formats")});
    const QRegularExpression pixelFormat(QStringLiteral("Pixel Format\\s*:\\s*'(\\w+)'"));
    const QString current = pixelFormat.match(format).captured(1);
    ASSERT_FALSE(current.isEmpty()) << format.toStdString();
    EXPECT_TRUE(offered.contains(QLatin1Char('\'') + current + QLatin1Char('\'')));
    EXPECT_FALSE(offered.contains(QStringLiteral("'MJPG'")));

    QList<QString> written;
    QObject::connect(capture.get(), qOverload<QList<QString>, int>(&ImageProcessing::sendTakePhotoImageSignal),
                     capture.get(), [&](QList<QString> paths, int) { written = paths; }, Qt::DirectConnection);
    ASSERT_TRUE(capture->setTakePhotoCammond(QImage(), QImage(), false, false));
    ASSERT_TRUE(testenv::waitFor([&] { return !written.isEmpty(); }, 30000));
    ASSERT_EQ(written.size(), 1);
    const QImage photo(written.first());
    EXPECT_EQ(photo.size(), QSize(1280, 720)) << written.first().toStdString();
}

TEST_F(VividStreaming, BrightnessReachesTheDriver)
{
    capture->setCameraExposure(77);
    EXPECT_TRUE(ctl({QStringLiteral("--get-ctrl=brightness")}).contains(QStringLiteral("brightness: 77")));
    capture->setCameraExposure(200);
    EXPECT_TRUE(ctl({QStringLiteral("--get-ctrl=brightness")}).contains(QStringLiteral("brightness: 200")));
    EXPECT_TRUE(watch.waitForFrames(3, 30000)) << "frames keep flowing after the change";
}

TEST_F(VividStreaming, RemovedDriverIsReopenedAndFramesComeBack)
{
    // Unbinding is what an unplug does to the node under an open file; the
    // module can then be removed once the station has let go of it.
    const int closesBefore = watch.closes;
    ASSERT_TRUE(guestkernel::writeFile(kDriverBind + QStringLiteral("unbind"), "vivid.0"));
    ASSERT_TRUE(testenv::waitFor([&] { return watch.closes > closesBefore; }, 30000))
        << "the capture thread did not notice the camera going away";
    ASSERT_TRUE(testenv::waitFor([] { return guestkernel::unload(QStringLiteral("vivid")); }, 30000))
        << "the station still holds the removed camera open";
    const int framesWhileGone = watch.frames;
    QThread::msleep(6000);   // at least one reopen attempt against a missing node
    EXPECT_EQ(watch.frames, framesWhileGone);

    loadVivid();
    EXPECT_TRUE(watch.waitForFrames(3, 60000)) << "no frames after the driver came back";
    EXPECT_EQ(watch.width, 1280);
}

} // namespace
