// Pictures of any format reach the matrix bridge: the formats it takes pass
// untouched, every other one is converted without changing a pixel's colour.
#include "bridgeable.h"
#include "imageprocessing.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

namespace {

QImage indexedGrey(int width, int height, int grey)
{
    QImage image(width, height, QImage::Format_Indexed8);
    QVector<QRgb> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = qRgb(i, i, i);
    image.setColorTable(palette);
    image.fill(grey);
    return image;
}

TEST(Bridge, FormatsTheBridgeTakesPassUntouched)
{
    const QImage::Format taken[] = {QImage::Format_RGB888, QImage::Format_RGB32,
                                    QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied};
    for (QImage::Format format : taken) {
        QImage picture(8, 6, format);
        picture.fill(QColor(10, 120, 230));
        const QImage bridged = bridgeable(picture, QImage::Format_RGB888);
        EXPECT_EQ(bridged.cacheKey(), picture.cacheKey()) << int(format);
    }
    const QImage grey = indexedGrey(8, 6, 77);
    EXPECT_EQ(bridgeable(grey, QImage::Format_RGB32).cacheKey(), grey.cacheKey());
    const cv::Mat mat = ImageProcessing::QImageToMat(grey);
    ASSERT_EQ(mat.type(), CV_8UC1);
    EXPECT_EQ(mat.at<uchar>(3, 4), 77);
}

TEST(Bridge, OtherFormatsAreConvertedWithTheirColoursKept)
{
    const QColor colour(200, 40, 90);
    const QImage::Format others[] = {QImage::Format_RGB16, QImage::Format_RGBA8888,
                                     QImage::Format_RGBX8888, QImage::Format_ARGB4444_Premultiplied,
                                     QImage::Format_BGR30};
    for (QImage::Format otherwise : {QImage::Format_RGB888, QImage::Format_RGB32}) {
        for (QImage::Format format : others) {
            QImage picture(8, 6, format);
            picture.fill(colour);
            const QImage bridged = bridgeable(picture, otherwise);
            EXPECT_EQ(bridged.format(), otherwise) << int(format);
            const cv::Mat mat = ImageProcessing::QImageToMat(bridged);
            ASSERT_EQ(mat.type(), CV_8UC3) << int(format);
            const cv::Vec3b bgr = mat.at<cv::Vec3b>(2, 5);
            const QColor seen = picture.pixelColor(5, 2);
            EXPECT_EQ(bgr[2], seen.red()) << int(format);
            EXPECT_EQ(bgr[1], seen.green()) << int(format);
            EXPECT_EQ(bgr[0], seen.blue()) << int(format);
        }
    }
    QImage grey8(8, 6, QImage::Format_Grayscale8);
    grey8.fill(QColor(90, 90, 90));
    const cv::Mat greyMat = ImageProcessing::QImageToMat(bridgeable(grey8, QImage::Format_RGB32));
    ASSERT_EQ(greyMat.type(), CV_8UC3);
    EXPECT_EQ(greyMat.at<cv::Vec3b>(1, 1), cv::Vec3b(90, 90, 90));
}

} // namespace
