// What the capture thread asks of its camera and what it does when the
// camera has nothing to give: the exposure and format requests as they
// reach the camera, a camera without a listed size, and photos while the
// camera is gone.
#include "cache.h"
#include "camerainfo.h"
#include "cameracapture.h"
#include "config.h"
#include "fakeclock.h"
#include "imageprocessing.h"
#include "testenv.h"
#include "virtualcameras.h"

#include <QDir>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <opencv2/videoio.hpp>

#include <utility>
#include <vector>

namespace {

const int kDevice = VirtualCameras::firstIndex;

using Request = std::pair<int, double>;

// Every property request on its way to any camera.
class RequestLog
{
public:
    RequestLog()
    {
        CameraCapture::setRequestObserver([this](int id, double value) {
            QMutexLocker lock(&mutex);
            requests.emplace_back(id, value);
        });
    }
    ~RequestLog() { CameraCapture::setRequestObserver({}); }

    std::vector<Request> take()
    {
        QMutexLocker lock(&mutex);
        return std::exchange(requests, {});
    }

private:
    QMutex mutex;
    std::vector<Request> requests;
};

std::vector<double> valuesOf(const std::vector<Request> &requests, int id)
{
    std::vector<double> values;
    for (const Request &request : requests)
        if (request.first == id)
            values.push_back(request.second);
    return values;
}

class CameraRequests : public ::testing::Test
{
protected:
    void SetUp() override { testenv::resetConfig(documents); }
    void TearDown() override
    {
        VirtualCameras::setPlugged(kDevice, true);
        processing.end();
        Cache::cameras->clear();
    }

    void startOn(const QString &entries)
    {
        *Cache::cameras = VirtualCameras::parse(entries);
        ASSERT_EQ(Cache::cameras->size(), 1);
        QObject::connect(&processing, &ImageProcessing::sendFarmeSignal, &receiver,
                         [this](QImage image) { frames.append(image.size()); },
                         Qt::BlockingQueuedConnection);
        QObject::connect(&processing, &ImageProcessing::closeCameraSignal, &receiver,
                         [this] { ++closes; }, Qt::QueuedConnection);
        QObject::connect(&processing, &ImageProcessing::sendPhotoFailedSignal, &receiver,
                         [this](QString text) { failures.append(text); }, Qt::QueuedConnection);
        processing.cameraListIndex = 0;
        processing.begin();
    }

    QTemporaryDir documents;
    RequestLog log;
    QObject receiver;
    QList<QSize> frames;
    QStringList failures;
    int closes = 0;
    ImageProcessing processing;
};

TEST_F(CameraRequests, AutomaticExposureAsksForTheAutomaticModeAndManualSwitchesBackFirst)
{
    processing.setCameraExposure(-100);
    const std::vector<Request> automatic = log.take();
    EXPECT_EQ(valuesOf(automatic, cv::CAP_PROP_AUTO_EXPOSURE), std::vector<double>{3.0});
    EXPECT_EQ(valuesOf(automatic, cv::CAP_PROP_AUTOFOCUS), std::vector<double>{1.0});
    EXPECT_TRUE(valuesOf(automatic, cv::CAP_PROP_BRIGHTNESS).empty());

    for (int value : {0, 40, -64}) {
        processing.setCameraExposure(value);
        const std::vector<Request> manual = log.take();
        ASSERT_EQ(manual.size(), 2u) << value;
        EXPECT_EQ(manual[0], Request(cv::CAP_PROP_AUTO_EXPOSURE, 1.0)) << value;
        EXPECT_EQ(manual[1], Request(cv::CAP_PROP_BRIGHTNESS, double(value))) << value;
    }
}

TEST_F(CameraRequests, EachFormatCodeRequestsItsFourCharacterCode)
{
    const char *const codes[] = {"MJPG", "PIM1", "MP42", "DIV3", "DIVX", "U263", "I263", "FLV1"};
    for (int code = 0; code < 8; ++code) {
        Cache::config->fourcc = code;
        processing.videoParameterSettings();
        const char *c = codes[code];
        EXPECT_EQ(valuesOf(log.take(), cv::CAP_PROP_FOURCC),
                  std::vector<double>{double(cv::VideoWriter::fourcc(c[0], c[1], c[2], c[3]))})
            << c;
    }
    for (int outside : {-1, 8, 9}) {
        Cache::config->fourcc = outside;
        processing.videoParameterSettings();
        EXPECT_TRUE(valuesOf(log.take(), cv::CAP_PROP_FOURCC).empty()) << outside;
    }
}

TEST_F(CameraRequests, ACameraWithoutAListedSizeOpensAtItsOwnSize)
{
    // Enumeration keeps a camera whose sizes are all narrower than 1280
    // with an empty list.
    startOn(QStringLiteral("synthetic:sizes=640x480,fps=30"));
    (*Cache::cameras)[0].resolutions.clear();
    Cache::config->cameraIndex = 0;
    Cache::config->resolution = 0;
    processing.reConfigVideoSetting();
    ASSERT_TRUE(testenv::waitFor([&] { return frames.size() >= 2; }, 15000));
    EXPECT_EQ(frames.last(), QSize(640, 480));
    // No size was forced on it.
    const std::vector<Request> requests = log.take();
    EXPECT_TRUE(valuesOf(requests, cv::CAP_PROP_FRAME_WIDTH).empty());
}

TEST_F(CameraRequests, NoPhotoIsTakenOfAFrameFromBeforeTheCameraWentAway)
{
    startOn(QStringLiteral("synthetic:sizes=1280x720,fps=30"));
    processing.setFrameWidthAndHeight(1280, 720);
    processing.openCamara();
    ASSERT_TRUE(testenv::waitFor([&] { return frames.size() >= 2; }, 15000));
    EXPECT_TRUE(processing.hasLiveFrame());

    Cache::config->saveNumber = 4;
    FakeClock clock;   // from here the loop's waits pass as the test advances
    VirtualCameras::setPlugged(kDevice, false);
    ASSERT_TRUE(clock.advanceUntil([&] { return closes >= 1; }, 5000));
    EXPECT_TRUE(processing.currentFrame().empty());
    EXPECT_FALSE(processing.hasLiveFrame());
    EXPECT_FALSE(processing.setTakePhotoCammond(QImage(), QImage(), false, false));
    EXPECT_FALSE(processing.photoRequested);

    // A request that slipped in while the loop waits to reopen is not
    // served with an old frame either.
    processing.photoRequested = true;
    ASSERT_TRUE(clock.advanceUntil([&] { return !failures.isEmpty(); }, 9000));
    EXPECT_TRUE(QDir(documents.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(Cache::config->saveNumber, 4);
}

} // namespace
