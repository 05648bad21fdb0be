#include "photosteps.h"

#include "bridgeable.h"
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "imageprocessing.h"
#include "paperresolution.h"
#include "photonaming.h"
#include "pipelinestate.h"
#include "watermark.h"

#include <QDebug>
#include <QPainter>

namespace photosteps {

namespace {

constexpr qint64 kFaceReplacesArea = 250000;

// Scales a frame taken below the configured resolution up to it, aspect
// kept; the service modes send what the camera gave.
QImage upscaled(const ImageProcessing &camera, const QImage &base)
{
    const Config &config = *Cache::config;
    if (config.webSocketMode || config.httpMode)
        return base;
    const QList<CameraInfo> &cameras = *Cache::cameras;
    if (camera.cameraListIndex < 0 || camera.cameraListIndex >= cameras.size())
        return base;
    const QList<QSize> &sizes = cameras.at(camera.cameraListIndex).resolutions;
    if (config.resolution < 0 || config.resolution >= sizes.size())
        return base;
    const QSize target = sizes.at(config.resolution);
    if (camera.frameWidth >= target.width())
        return base;
    return base.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// Pictures the matrix bridge does not take become this; a grey photo stays
// grey (indexed), which the bridge and, through paintable(), the painter take.
const QImage::Format kOtherPictures = QImage::Format_RGB888;

// A grey photo is painted on as Grayscale8: the painter cannot draw into
// an indexed picture, and the grey values stay the same.
QImage paintable(const QImage &photo)
{
    if (photo.format() == QImage::Format_Indexed8)
        return photo.convertToFormat(QImage::Format_Grayscale8);
    return photo;
}

QImage whiteBackground(ImageProcessing &camera, const QImage &picture)
{
    const QImage source = bridgeable(picture, kOtherPictures);
    cv::Mat mat = ImageProcessing::QImageToMat(source);
    if (source.format() == QImage::Format_Indexed8)
        mat = mat.clone();   // the bridge shares the picture's pixels; it is painted over
    if (mat.empty())
        return QImage();
    cv::Mat cleaned;
    camera.toWhiteBackgroup(mat, cleaned);
    return ImageProcessing::MatQImage(cleaned);
}

void drawInset(QPainter &painter, const QImage &child, int photoWidth, int width, bool right)
{
    if (child.isNull() || child.width() <= 0)
        return;
    const int height = int(qint64(child.height()) * width / child.width());
    const int x = right ? photoWidth - width : 0;
    painter.drawImage(QRect(x, 0, width, height), child);
}

} // namespace

bool shoot(ImageProcessing &camera, Shot &shot)
{
    const cv::Mat frame = camera.currentFrame();
    if (frame.empty())
        return false;
    shot.detections = camera.handleMat(frame, shot.processed, false);
    return !shot.processed.empty();
}

QImage basePicture(const ImageProcessing &camera, const Shot &shot)
{
    return upscaled(camera, ImageProcessing::MatQImage(shot.processed));
}

std::vector<QImage> cutOuts(ImageProcessing &camera, const Shot &shot, int correction)
{
    std::vector<QImage> pictures;
    if (correction != 1 && correction != 2)
        return pictures;
    const QSize frame(shot.processed.cols, shot.processed.rows);
    for (const cv::RotatedRect &rect : shot.detections) {
        QImage sheet = camera.cutOutDocument(shot.processed, rect);
        // A sheet of a standard paper size says so through its resolution,
        // so that other programs lay it out at its real size.
        const double ppi = paperresolution::sheetPpi(sheet.size(), frame);
        if (ppi > 0.0) {
            sheet.setDotsPerMeterX(paperresolution::dotsPerMeter(ppi));
            sheet.setDotsPerMeterY(paperresolution::dotsPerMeter(ppi));
        }
        pictures.push_back(sheet);
    }
    return pictures;
}

bool faceReplacesPictures(const ImageProcessing &camera, const Config &config)
{
    if (config.cameraIndex != 0 || !config.gnRenlian)
        return false;
    const cv::Rect face = camera.objectFaceNow();
    return qint64(face.width) * qint64(face.height) >= kFaceReplacesArea;
}

QImage manualSelection(const QImage &rotated, const QSize &baseSize, const Config &config)
{
    const int W = baseSize.width();
    const int H = baseSize.height();
    if (config.viewWidth <= 0 || config.viewHeight <= 0 || W <= 0 || H <= 0)
        return QImage();
    const double sx = double(W) / config.viewWidth;
    const double sy = double(H) / config.viewHeight;
    const int a = int(config.drawWidth * sx);
    const int b = int(config.drawHeight * sy);
    if (a <= 0 || b <= 0)
        return QImage();
    const double ratio = double(a) / b;
    const int w1 = qMin(a, W);
    const int h = qMin(int(w1 / ratio), H);
    const int w = int(h * ratio);

    const QImage source = paintable(bridgeable(rotated, kOtherPictures));
    QImage canvas(W, H, source.format());
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRect target(-w / 2, -h / 2, w, h);
        if (config.zoom <= 1.0) {
            painter.translate(config.panX + W / 2, config.panY + H / 2);
            if (w > 0 && h > 0)
                painter.drawImage(target, source.scaled(w, h, Qt::KeepAspectRatioByExpanding,
                                                        Qt::SmoothTransformation));
        } else {
            painter.translate(W / 2 + config.panX * sx, H / 2 + config.panY * sy);
            painter.scale(config.zoom, config.zoom);
            painter.drawImage(target, source);
        }
    }

    const QSize selected(int(config.selectionWidth * sx), int(config.selectionHeight * sy));
    if (selected.isEmpty())
        return QImage();
    QImage result(selected, canvas.format());
    result.fill(Qt::white);
    QPainter painter(&result);
    painter.drawImage(QPoint(0, 0), canvas,
                      QRect(QPoint(int(config.selectionX * sx), int(config.selectionY * sy)),
                            selected));
    return result;
}

QImage finish(ImageProcessing &camera, const QImage &picture, bool whiteBackground_,
              const Insets &insets)
{
    const Config &config = *Cache::config;
    QImage photo = whiteBackground_ ? whiteBackground(camera, picture)
                                    : bridgeable(picture, kOtherPictures);
    if (photo.isNull())
        return photo;
    photo = paintable(photo);
    // The sheet's resolution outlives the conversions (each setter copies a
    // shared picture, hence only when it differs).
    if (photo.dotsPerMeterX() != picture.dotsPerMeterX())
        photo.setDotsPerMeterX(picture.dotsPerMeterX());
    if (photo.dotsPerMeterY() != picture.dotsPerMeterY())
        photo.setDotsPerMeterY(picture.dotsPerMeterY());

    const QString text = watermark::textFor(config, photonaming::now());
    const bool anyInset = (insets.first && !insets.first->isNull())
                          || (insets.second && !insets.second->isNull());
    if (text.isEmpty() && !anyInset)
        return photo;

    QPainter painter(&photo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    watermark::draw(painter, photo.size(), config, text);
    if (anyInset) {
        painter.setOpacity(1.0);
        const int width = int(photo.width() * config.paintingPercentage / 100.0);
        if (insets.first)
            drawInset(painter, *insets.first, photo.width(), width, false);
        if (insets.second)
            drawInset(painter, *insets.second, photo.width(), width, true);
    }
    painter.end();
    return photo;
}

} // namespace photosteps
