// The read time a synthetic camera paints into its frames ("stamp=1") comes
// back from a scaled, JPEG-compressed copy, as latency measurements read it.
#include "cameracapture.h"
#include "timestamp.h"
#include "virtualcameras.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

cv::Mat throughPreview(const cv::Mat &frame, double scale, int quality)
{
    cv::Mat small;
    cv::resize(frame, small, cv::Size(), scale, scale, cv::INTER_AREA);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", small, jpeg, {cv::IMWRITE_JPEG_QUALITY, quality});
    return cv::imdecode(jpeg, cv::IMREAD_COLOR);
}

TEST(Timestamp, SurvivesScalingAndJpegAndRefusesDamage)
{
    cv::Mat frame(1080, 1920, CV_8UC3, cv::Scalar(30, 30, 30));
    const std::int64_t when = 0x12345678abLL;
    docscene::paintTimestamp(frame, when);
    const cv::Rect area = docscene::stampArea(frame.size());
    EXPECT_EQ(area, cv::Rect(0, 0, 960, 80));

    for (double scale : {1.0, 1.0 / 3, 0.25}) {
        const cv::Mat seen = throughPreview(frame, scale, 70);
        std::int64_t read = 0;
        ASSERT_TRUE(docscene::readTimestamp(
            seen, cv::Rect2d(area.x * scale, area.y * scale, area.width * scale, area.height * scale), &read))
            << scale;
        EXPECT_EQ(read, when) << scale;
    }

    cv::Mat damaged = frame.clone();
    const bool white = damaged.at<cv::Vec3b>(20, 20)[0] > 127;
    cv::rectangle(damaged, cv::Rect(0, 0, 40, 40), cv::Scalar::all(white ? 0 : 255), cv::FILLED);
    std::int64_t read = 0;
    EXPECT_FALSE(docscene::readTimestamp(damaged, area, &read)) << "one flipped cell fails the check";
    EXPECT_FALSE(docscene::readTimestamp(cv::Mat(1080, 1920, CV_8UC3, cv::Scalar::all(0)), area, &read));

    EXPECT_EQ(docscene::stampAge(5, 20), 15);
    EXPECT_EQ(docscene::stampAge((std::int64_t(1) << 40) - 10, 5), 15) << "across the wrap";
}

TEST(Timestamp, SyntheticCameraStampsEachReadWithItsTime)
{
    EXPECT_TRUE(VirtualCameras::parse(QStringLiteral("synthetic:stamp=7")).isEmpty());
    ASSERT_EQ(VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720,fps=30,stamp=1")).size(), 1);
    CameraCapture capture;
    ASSERT_TRUE(capture.open(VirtualCameras::firstIndex));
    std::int64_t previous = -1;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t before = docscene::stampClock();
        cv::Mat frame;
        ASSERT_TRUE(capture.read(frame));
        const std::int64_t after = docscene::stampClock();
        std::int64_t stamp = 0;
        ASSERT_TRUE(docscene::readTimestamp(frame, docscene::stampArea(frame.size()), &stamp));
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, after);
        EXPECT_GT(stamp, previous) << "every frame its own time";
        previous = stamp;
    }

    ASSERT_EQ(VirtualCameras::parse(QStringLiteral("synthetic:sizes=1280x720")).size(), 1);
    CameraCapture plain;
    ASSERT_TRUE(plain.open(VirtualCameras::firstIndex));
    cv::Mat frame;
    ASSERT_TRUE(plain.read(frame));
    std::int64_t stamp = 0;
    EXPECT_FALSE(docscene::readTimestamp(frame, docscene::stampArea(frame.size()), &stamp))
        << "no stamp unless asked for";
}

} // namespace
