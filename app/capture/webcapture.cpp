#include "base64.h"
#include "bridgeable.h"
#include "cache.h"
#include "config.h"
#include "imagefile.h"
#include "imageprocessing.h"
#include "photonaming.h"
#include "photosteps.h"

#include <QDebug>
#include <QFileInfo>
#include <QPainter>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <vector>

namespace {

// A colour picture the matrix bridge converts and the painter draws on: the
// web canvas is always colour, so a grey (indexed) picture becomes colour too.
QImage colourBridgeable(const QImage &image)
{
    if (image.format() == QImage::Format_Indexed8)
        return image.convertToFormat(QImage::Format_RGB32);
    return bridgeable(image, QImage::Format_RGB32);
}

// The letterboxed canvas drawn straight into a BGR matrix: the picture
// scaled smoothly to w x h and centred on white, as the painter would, without
// the painter's detour through a Qt canvas and a second colour conversion.
cv::Mat letterboxed(const QImage &image, int canvasWidth, int canvasHeight, int w, int h)
{
    cv::Mat canvas(canvasHeight, canvasWidth, CV_8UC3, cv::Scalar::all(255));
    const QRect target(canvasWidth / 2 - w / 2, canvasHeight / 2 - h / 2, w, h);
    const QRect visible = target.intersected(QRect(0, 0, canvasWidth, canvasHeight));
    if (w <= 0 || h <= 0 || visible != target)
        return cv::Mat();   // only a picture that fits is drawn this way
    const bool threeChannels = image.format() == QImage::Format_RGB888;
    const cv::Mat source(image.height(), image.width(), threeChannels ? CV_8UC3 : CV_8UC4,
                         const_cast<uchar *>(image.constBits()), size_t(image.bytesPerLine()));
    cv::Mat scaled;
    const bool shrinking = w <= image.width() && h <= image.height();
    cv::resize(source, scaled, cv::Size(w, h), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::Mat into = canvas(cv::Rect(target.x(), target.y(), w, h));
    cv::cvtColor(scaled, into, threeChannels ? cv::COLOR_RGB2BGR : cv::COLOR_BGRA2BGR);
    return canvas;
}

} // namespace

// One photo written to the path a web page gave, with its quality and
// rotation; several documents all go to that path, the last one stays. True
// only when every picture was written: a failed write leaves the file that
// was there before, and the page must not take that one for the new photo.
bool ImageProcessing::takePhotoByWeb(QString path, int quality, int angleCode, int)
{
    Config &config = *Cache::config;
    const int correctionNow = correction;

    photosteps::Shot shot;
    if (!photosteps::shoot(*this, shot))
        return false;

    std::vector<QImage> pictures;
    if (correctionNow == 0)
        pictures.push_back(handleAngleQImage(photosteps::basePicture(*this, shot), angleCode));
    else
        pictures = photosteps::cutOuts(*this, shot, correctionNow);
    if (photosteps::faceReplacesPictures(*this, config))
        pictures = {cutOutFace(shot.processed)};

    const bool white = config.gnIswhite && correctionNow != 0;
    const QString extension = photonaming::extensionFor(config, saveImageToTiff);
    bool written = false;
    for (const QImage &picture : pictures) {
        if (picture.isNull())
            continue;
        const QImage photo = photosteps::finish(*this, picture, white, photosteps::Insets());
        if (photo.isNull())
            continue;
        written = imagefile::saveOver(photo, path, extension, quality);
        if (!written) {
            qDebug() << "photo not written:" << path;
            return false;
        }
    }
    return written;
}

QString ImageProcessing::takePhotoByWebBase64(int quality, int angleCode, int extra)
{
    // Always the numbered pattern with the codec's extension, even when the
    // content is TIFF.
    const QString path =
        photonaming::reserveNumberedPath(*Cache::config, Cache::config->texts().codec);
    if (path.isEmpty())
        return QString();
    const bool taken = takePhotoByWeb(path, quality, angleCode, extra);
    photonaming::giveBack(*Cache::config, path);
    return taken ? fileToBase64(path) : QString();
}

QString ImageProcessing::fileToBase64(QString path)
{
    if (!QFileInfo::exists(path))
        return QString();
    const QImage image(path);
    if (image.isNull())
        return QString();
    return image2Data(image);
}

// The picture fitted into the web canvas (letterboxed on white, or zoomed
// into its centre; stretched in grey mode) as Base64 JPEG text.
QString ImageProcessing::image2Data(QImage image)
{
    if (image.isNull() || webWidth <= 0 || webHeight <= 0)
        return QString();
    image = colourBridgeable(image);
    QImage canvas;
    if (shootType == 1) {
        canvas = image.scaled(webWidth, webHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        const double aspect = double(image.width()) / image.height();
        int w = qMin(webWidth, image.width());
        const int h = qMin(int(w / aspect), webHeight);
        w = int(aspect * h);
        const bool opaque = image.format() == QImage::Format_RGB888
                            || image.format() == QImage::Format_RGB32;
        if (zoomValue <= 1.0 && opaque) {
            const cv::Mat fitted = letterboxed(image, webWidth, webHeight, w, h);
            if (!fitted.empty()) {
                zoomValue = 1.0;
                return QString::fromLatin1(Mat2Base64(fitted).c_str());
            }
        }
        canvas = QImage(webWidth, webHeight, image.format());
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(canvas.rect(), Qt::white);
        painter.translate(webWidth / 2, webHeight / 2);
        const QRect target(-w / 2, -h / 2, w, h);
        if (zoomValue <= 1.0) {
            if (w > 0 && h > 0)
                painter.drawImage(target, image.scaled(w, h, Qt::KeepAspectRatioByExpanding,
                                                       Qt::SmoothTransformation));
            zoomValue = 1.0;
        } else {
            painter.scale(zoomValue, zoomValue);
            painter.drawImage(target, image);
        }
    }
    const cv::Mat mat = QImageToMat(colourBridgeable(canvas));
    return QString::fromLatin1(Mat2Base64(mat).c_str());
}

std::string ImageProcessing::Mat2Base64(const cv::Mat &mat)
{
    if (mat.empty())
        return std::string();
    std::vector<uchar> buffer;
    cv::imencode(".jpg", mat, buffer, {cv::IMWRITE_JPEG_QUALITY, 90});
    return base64Encode(buffer.data(), int(buffer.size()));
}

std::string ImageProcessing::base64Encode(const unsigned char *bytes, int length)
{
    return base64::encode(bytes, length);
}
