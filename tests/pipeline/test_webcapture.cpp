#include "base64.h"
#include "imageprocessing.h"
#include "testframes.h"

#include "cache.h"
#include "config.h"
#include "capturetest.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImageReader>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>
#include <string>

using testframes::Sheet;

namespace {

class Web : public testenv::CaptureTest
{
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        Cache::config->gnIswhite = false;
    }
};

cv::Mat decode(const QString &text)
{
    const QByteArray jpeg = QByteArray::fromBase64(text.toLatin1());
    return cv::imdecode(std::vector<uchar>(jpeg.begin(), jpeg.end()), cv::IMREAD_COLOR);
}

std::string encode(const std::string &bytes)
{
    return base64::encode(reinterpret_cast<const unsigned char *>(bytes.data()), int(bytes.size()));
}

TEST(Base64, KnownVectors)
{
    const struct {
        const char *in;
        const char *out;
    } cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                 {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                 {"foobar", "Zm9vYmFy"}};
    for (const auto &c : cases)
        EXPECT_EQ(encode(c.in), c.out) << c.in;
    const unsigned char high[] = {0xfb, 0xff, 0xbf};
    EXPECT_EQ(base64::encode(high, 3), "+/+/");
}

TEST(Base64, LineBreakAfterEverySeventySixCharacters)
{
    std::string bytes57;
    for (int i = 0; i < 57; ++i)
        bytes57.push_back(char(i * 7));
    const std::string text57 = encode(bytes57);
    ASSERT_EQ(text57.size(), 78u);
    EXPECT_EQ(text57.substr(76), "\r\n");
    EXPECT_EQ(QByteArray::fromStdString(text57.substr(0, 76)),
              QByteArray::fromStdString(bytes57).toBase64());

    const std::string text58 = encode(bytes57 + char(0xff));
    ASSERT_EQ(text58.size(), 82u);
    EXPECT_EQ(text58.substr(0, 78), text57);
    EXPECT_EQ(text58.substr(78), "/w==");

    // 114 bytes: two full lines, each followed by CR LF; 115: no break after the tail.
    const std::string text114 = encode(bytes57 + bytes57);
    EXPECT_EQ(text114.size(), 156u);
    EXPECT_EQ(text114.substr(154), "\r\n");
    const std::string text115 = encode(bytes57 + bytes57 + "a");
    EXPECT_EQ(text115.substr(text115.size() - 4), "YQ==");

    ImageProcessing camera;
    EXPECT_EQ(camera.base64Encode(reinterpret_cast<const unsigned char *>(bytes57.data()), 57),
              text57);
}

TEST_F(Web, LetterboxesIntoTheWebCanvas)
{
    QImage wide(1920, 1080, QImage::Format_RGB888);
    wide.fill(QColor(0, 0, 0));
    const cv::Mat canvas = decode(camera->image2Data(wide));
    ASSERT_EQ(canvas.size(), cv::Size(640, 480));
    // 640 x 360 centred: white bands of 60 rows above and below.
    EXPECT_GT(canvas.at<cv::Vec3b>(30, 320)[0], 240);
    EXPECT_GT(canvas.at<cv::Vec3b>(480 - 30, 320)[0], 240);
    EXPECT_LT(canvas.at<cv::Vec3b>(70, 320)[0], 15);
    EXPECT_LT(canvas.at<cv::Vec3b>(480 - 70, 320)[0], 15);
    EXPECT_LT(canvas.at<cv::Vec3b>(240, 3)[0], 15);

    camera->setWebSize(1280, 720);
    QImage fourThree(1600, 1200, QImage::Format_RGB888);
    fourThree.fill(QColor(0, 0, 0));
    const cv::Mat big = decode(camera->image2Data(fourThree));
    ASSERT_EQ(big.size(), cv::Size(1280, 720));
    // 960 x 720 centred: white bands of 160 columns left and right.
    EXPECT_GT(big.at<cv::Vec3b>(360, 140)[0], 240);
    EXPECT_GT(big.at<cv::Vec3b>(360, 1280 - 140)[0], 240);
    EXPECT_LT(big.at<cv::Vec3b>(360, 180)[0], 15);
    EXPECT_LT(big.at<cv::Vec3b>(5, 640)[0], 15);
}

TEST_F(Web, GreyModeStretchesWithoutBands)
{
    camera->shootType = 1;
    const cv::Mat grey(1080, 1920, CV_8UC1, cv::Scalar(0));
    const cv::Mat canvas = decode(camera->image2Data(ImageProcessing::MatQImage(grey)));
    ASSERT_EQ(canvas.size(), cv::Size(640, 480));
    EXPECT_LT(canvas.at<cv::Vec3b>(3, 320)[0], 15);
    EXPECT_LT(canvas.at<cv::Vec3b>(476, 320)[0], 15);
}

TEST_F(Web, ZoomBelowOneIsResetAboveOneEnlargesTheCentre)
{
    // Black picture with a white centre square a quarter of its width.
    QImage picture(640, 480, QImage::Format_RGB888);
    picture.fill(QColor(0, 0, 0));
    for (int y = 180; y < 300; ++y)
        for (int x = 240; x < 400; ++x)
            picture.setPixelColor(x, y, QColor(255, 255, 255));

    camera->zoomValue = 0.6;
    const cv::Mat plain = decode(camera->image2Data(picture));
    EXPECT_EQ(camera->zoomValue, 1.0);
    EXPECT_LT(plain.at<cv::Vec3b>(240, 200)[0], 15);

    camera->zoomValue = 1.4;
    const cv::Mat zoomed = decode(camera->image2Data(picture));
    EXPECT_EQ(camera->zoomValue, 1.4);
    // The square now reaches 320 - 80 x 1.4 = 208.
    EXPECT_GT(zoomed.at<cv::Vec3b>(240, 220)[0], 240);
    EXPECT_LT(zoomed.at<cv::Vec3b>(240, 195)[0], 15);
}

TEST_F(Web, FileToBase64)
{
    EXPECT_TRUE(camera->fileToBase64(file("missing.jpg")).isEmpty());
    QFile junk(file("junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
    junk.close();
    EXPECT_TRUE(camera->fileToBase64(file("junk.jpg")).isEmpty());

    QImage grey(320, 240, QImage::Format_Grayscale8);
    grey.fill(0);
    ASSERT_TRUE(grey.save(file("grey.png")));
    const cv::Mat canvas = decode(camera->fileToBase64(file("grey.png")));
    ASSERT_EQ(canvas.size(), cv::Size(640, 480));
    EXPECT_LT(canvas.at<cv::Vec3b>(240, 320)[0], 15);
    EXPECT_GT(canvas.at<cv::Vec3b>(10, 10)[0], 240) << "smaller pictures are centred, not enlarged";
}

TEST_F(Web, TakePhotoByWebWritesThePathAsAskedAndCountsNothing)
{
    Cache::config->codec = QStringLiteral("png");
    const QString path = file("page.png");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    camera->setCurrentFrame(testframes::scene({640, 480}, {}));
    EXPECT_TRUE(camera->takePhotoByWeb(path, 90, 1, 0));
    EXPECT_EQ(QImageReader(path).size(), QSize(480, 640)) << "rotated by the argument";
    EXPECT_EQ(Cache::config->saveNumber, 1);

    // Two documents to one path: the last one stays.
    camera->correction = 2;
    camera->setCurrentFrame(testframes::scene(
        {1280, 720}, {Sheet{{330, 360}, {420, 300}}, Sheet{{950, 360}, {300, 420}}}));
    EXPECT_TRUE(camera->takePhotoByWeb(path, 90, 0, 0));
    EXPECT_EQ(QDir(documents.path()).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(QImageReader(path).canRead());
}

TEST_F(Web, TakePhotoByWebBase64NumbersWithoutOverwriting)
{
    Cache::config->saveType = 1;   // ignored here
    QFile old(file("IMG_1.jpg"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("yesterday");
    old.close();
    camera->saveImageToTiff = true;
    camera->setCurrentFrame(testframes::scene({1920, 1080}, {}));
    const QString text = camera->takePhotoByWebBase64(90, 0, 7);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_EQ(decode(text).size(), cv::Size(640, 480));
    EXPECT_EQ(QImageReader(file("IMG_2.jpg")).format(), "tiff") << "TIFF under the codec's name";
    EXPECT_EQ(Cache::config->saveNumber, 3);
    QFile kept(file("IMG_1.jpg"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("yesterday"));

    // Nothing to cut out: no text, and no empty file left behind.
    camera->correction = 1;
    EXPECT_TRUE(camera->takePhotoByWebBase64(90, 0, 0).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(file("IMG_3.jpg")));
}

} // namespace
