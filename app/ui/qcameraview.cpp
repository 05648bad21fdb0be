#include "qcameraview.h"

#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "iamgezhuapai.h"
#include "imageprocessing.h"
#include "threadstopper.h"
#include "warningbox.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr double kZoomStep = 0.2;
// Upper bound for waiting on a thread that is finishing its last pass.
constexpr int kStopGraceMs = 3000;

// Formats whose pixels OpenCV can resize in place of Qt.
int matTypeOf(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB888: return CV_8UC3;
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8: return CV_8UC1;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: return CV_8UC4;
    default: return -1;
    }
}

// The frame scaled smoothly to `size`, keeping its aspect ratio by expanding.
// Camera frames are several times larger than the widget: an area-averaging
// resize of the frame's own pixels costs a fraction of Qt's smooth scaling,
// which first converts a whole RGB888 frame to 32 bits.
QImage fitImage(const QImage &frame, const QSize &size)
{
    const QSize target = frame.size().scaled(size, Qt::KeepAspectRatioByExpanding);
    const int type = matTypeOf(frame.format());
    if (type < 0 || target.isEmpty())
        return frame.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const cv::Mat source(frame.height(), frame.width(), type, const_cast<uchar *>(frame.constBits()),
                         size_t(frame.bytesPerLine()));
    QImage fitted(target, frame.format());
    if (frame.format() == QImage::Format_Indexed8)
        fitted.setColorTable(frame.colorTable());
    cv::Mat destination(fitted.height(), fitted.width(), type, fitted.bits(),
                        size_t(fitted.bytesPerLine()));
    // Whole-number area averaging first (OpenCV's fast case), then a linear
    // step for the remaining fraction.
    const int factor = std::min(frame.width() / target.width(), frame.height() / target.height());
    if (factor >= 2) {
        cv::Mat reduced;
        cv::resize(source, reduced, cv::Size(frame.width() / factor, frame.height() / factor), 0, 0,
                   cv::INTER_AREA);
        cv::resize(reduced, destination, destination.size(), 0, 0, cv::INTER_LINEAR);
    } else {
        cv::resize(source, destination, destination.size(), 0, 0, cv::INTER_LINEAR);
    }
    return fitted;
}

} // namespace

QCameraView::QCameraView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);

    selectionLabel = new QLabel(this);
    selectionLabel->setObjectName(QStringLiteral("cropLabel"));
    selectionLabel->setStyleSheet(QStringLiteral("border:2px groove blue;\ncolor: rgb(255, 0, 0);"));
    selectionLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    selectionLabel->hide();

    capture = new ImageProcessing(this);
    connect(capture, &ImageProcessing::sendFarmeSignal, this, &QCameraView::updateImage,
            Qt::BlockingQueuedConnection);
    connect(capture,
            static_cast<void (ImageProcessing::*)(QList<QString>, int)>(
                &ImageProcessing::sendTakePhotoImageSignal),
            this, &QCameraView::relayPhotoPaths, Qt::BlockingQueuedConnection);
    connect(capture, &ImageProcessing::closeCameraSignal, this, &QCameraView::closeCameraSlot);
    connect(capture, &ImageProcessing::sendPhotoFailedSignal, this,
            &QCameraView::photoFailedSignal, Qt::QueuedConnection);
    connect(capture, &ImageProcessing::sendPhotoNoticeSignal, this,
            &QCameraView::photoNoticeSignal, Qt::QueuedConnection);
    recorder = new Recording(*capture, this);
    connect(recorder, &Recording::problem, this,
            [this](const QString &text) { WarningBox::warning(window(), QStringLiteral("警告"), text); });
    connect(recorder, &Recording::finished, this, [this](const QString &path, bool saved) {
        if (videosFinishing.removeOne(path) && saved)
            emit sendTakePhotoImageSignal(QList<QString>{path}, 0);
    });
    capture->begin();
}

QCameraView::~QCameraView()
{
    stop();
    delete recorder;   // before the capture thread whose writer slot it uses
}

void QCameraView::init(int index)
{
    cameraListIndex = index;
    capture->cameraListIndex = index;
}

void QCameraView::stop()
{
    if (stopped)
        return;
    stopped = true;
    recorder->endQuietly();
    if (zhuapai) {
        zhuapai->end();
        ThreadStopper::waitDelivering(*zhuapai, kStopGraceMs);
    }
    capture->end();
    ThreadStopper::waitDelivering(*capture, kStopGraceMs);
}

// ---------------------------------------------------------------- frames

void QCameraView::updateImage(QImage frame)
{
    if (stopped)
        return;
    ++receiveCount;
    // A frame of the previous camera may still arrive before the thread has
    // picked up a reopen request; only a frame after the reopen counts.
    const bool reopenPending = capture->resolutionChanged || capture->restartRequested;
    if (waitingFirstFrame && !reopenPending) {
        waitingFirstFrame = false;
        emit openCameraSignal();
        emit sendChangeBtn2Signal();
    }
    image = frame;
    if (erweimaOn)
        emit sendErweimaSignal(frame);
    if (zhuapaiOn && Cache::config->autoCaptureOn) {
        emit readFarme(frame);
        emit sendZhuapaiSignal(frame);
    }
    update();
}

QImage QCameraView::keptImage() const
{
    return keptPicture().resolve();
}

ChildPicture QCameraView::keptPicture() const
{
    if (image.isNull())
        return ChildPicture();
    return ChildPicture{image, capture->currentFullSizeFrame(), capture};
}

void QCameraView::relayPhotoPaths(QList<QString> paths, int type)
{
    emit sendTakePhotoImageSignal(paths, type);
}

void QCameraView::closeCameraSlot()
{
    waitingFirstFrame = true;
    emit closeCameraSignal();
}

void QCameraView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x1f, 0x23, 0x2a));
    if (image.isNull() || image.height() == 0)
        return;
    Config &config = *Cache::config;
    const double aspect = double(image.width()) / image.height();
    const int drawHeight = std::min(int(std::min(image.width(), width()) / aspect), height());
    const int drawWidth = int(aspect * drawHeight);
    config.drawWidth = drawWidth;
    config.drawHeight = drawHeight;
    if (drawWidth <= 0 || drawHeight <= 0)
        return;

    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2 + config.panX, height() / 2 + config.panY);
    const QRect target(-drawWidth / 2, -drawHeight / 2, drawWidth, drawHeight);
    if (config.zoom <= 1.0) {
        const QImage fitted = fitImage(image, QSize(drawWidth, drawHeight));
        painter.drawImage(QPoint(-fitted.width() / 2, -fitted.height() / 2), fitted);
        config.zoom = 1.0;
        config.panX = 0;
        config.panY = 0;
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.scale(config.zoom, config.zoom);
        painter.drawImage(target, image);
    }
    ++paintCount;
}

void QCameraView::resizeEvent(QResizeEvent *event)
{
    capture->setPreviewSize(size());
    QWidget::resizeEvent(event);
}

// ---------------------------------------------------------------- zoom and mouse

void QCameraView::onZoomInImage()
{
    Cache::config->zoom += kZoomStep;
    update();
}

void QCameraView::onZoomOutImage()
{
    const double next = Cache::config->zoom - kZoomStep;
    // Rounding of repeated 0.2 steps must not let 0.2 - 0.2 count as above 0.
    if (next > 1e-9)
        Cache::config->zoom = next;
    update();
}

void QCameraView::onPresetImage()
{
    Cache::config->zoom = 1.0;
    Cache::config->panX = 0;
    Cache::config->panY = 0;
    update();
}

void QCameraView::locaAndZoom(int direction)
{
    if (direction == 0)
        onZoomInImage();
    else if (direction == 1)
        onZoomOutImage();
}

void QCameraView::wheelEvent(QWheelEvent *event)
{
    if (event->angleDelta().y() < 1)
        onZoomOutImage();
    else
        onZoomInImage();
    event->accept();
}

void QCameraView::mousePressEvent(QMouseEvent *event)
{
    pressPoint = event->localPos().toPoint();
    lastPoint = pressPoint;
    dragging = true;
    if (Cache::config->correctionMode == 3) {
        selectionLabel->move(pressPoint);
        selectionLabel->setFixedSize(0, 0);
    }
}

void QCameraView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint point = event->localPos().toPoint();
    if (Cache::config->correctionMode == 3) {
        if (!dragging)
            return;
        // Dragging up or left of the press point draws the rectangle from
        // the other corner instead of asking for a negative size.
        selectionLabel->move(std::min(pressPoint.x(), point.x()), std::min(pressPoint.y(), point.y()));
        selectionLabel->setFixedSize(std::abs(point.x() - pressPoint.x()),
                                     std::abs(point.y() - pressPoint.y()));
        return;
    }
    if (!dragging)
        return;
    setCursor(Qt::SizeAllCursor);
    Cache::config->panX += point.x() - lastPoint.x();
    Cache::config->panY += point.y() - lastPoint.y();
    lastPoint = point;
    update();
}

void QCameraView::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
    if (Cache::config->correctionMode != 3)
        setCursor(Qt::ArrowCursor);
}

// ---------------------------------------------------------------- forwarding

void QCameraView::setAngle(int step) { capture->setAngle(step); }
void QCameraView::setCameraShootType(int type) { capture->setCameraShootType(type); }
void QCameraView::setTakePhotoChildCamera(bool on) { capture->setTakePhotoChildCamera(on); }
void QCameraView::setSaveImageToTiff(bool on) { capture->setSaveImageToTiff(on); }
void QCameraView::setCameraExposure(int value) { capture->setCameraExposure(value); }
void QCameraView::setCameraResolution(QSize size) { capture->setCameraResolution(size); }
void QCameraView::setCameraRNAgin(QSize size) { capture->setCameraRNAgain(size); }
void QCameraView::changeCameraResolution(bool painting, bool mainCamera)
{
    const Config &config = *Cache::config;
    if (cameraListIndex < 0 || cameraListIndex >= Cache::cameras->size())
        return;
    const QList<QSize> &sizes = Cache::cameras->at(cameraListIndex).resolutions;
    if (sizes.isEmpty())
        return;
    // The configured entry belongs to the main camera's list; a second camera
    // with a shorter list opens at its first size instead of not at all.
    const bool listed = config.resolution >= 0 && config.resolution < sizes.size();
    QSize size = sizes.at(listed ? config.resolution : 0);
    if (painting) {
        const int entry = mainCamera ? config.paintingMainResolution : config.paintingOtherResolution;
        if (entry >= 0 && entry < config.outResolutions.size()
            && config.outResolutions.at(entry).width() < size.width())
            size = config.outResolutions.at(entry);
    }
    waitingFirstFrame = true;
    emit closeCameraSignal();
    capture->setCameraResolution(size);
}

void QCameraView::videoParameterSettings() { capture->videoParameterSettings(); }
void QCameraView::videoSettingOpenWindow() {}
void QCameraView::openCamara() { capture->openCamara(); }
void QCameraView::closeCamara() { capture->closeCamara(false); }

void QCameraView::setCameraCorrection(int mode)
{
    Cache::config->correctionMode = mode;
    if (mode == 3) {
        selectionLabel->move(0, 0);
        selectionLabel->setFixedSize(0, 0);
        selectionLabel->show();
        capture->setCameraCorrection(0);
    } else {
        selectionLabel->hide();
        capture->setCameraCorrection(mode);
    }
}

void QCameraView::reConfigVideoSetting()
{
    waitingFirstFrame = true;
    emit closeCameraSignal();
    capture->reConfigVideoSetting();
}

void QCameraView::changeCamera(int index, int width, int height)
{
    // The capture thread closes and reopens on its next pass, so the GUI
    // never sleeps through the camera's settle time.
    waitingFirstFrame = true;
    emit closeCameraSignal();
    cameraListIndex = index;
    capture->cameraListIndex = index;
    if (width > 0 && height > 0)
        capture->setCameraResolution(QSize(width, height));
    else
        capture->setCameraRNAgain(QSize());   // no listed size: the driver's own
}

void QCameraView::storeSelectionGeometry()
{
    Config &config = *Cache::config;
    config.selectionX = selectionLabel->x();
    config.selectionY = selectionLabel->y();
    config.selectionWidth = selectionLabel->width();
    config.selectionHeight = selectionLabel->height();
    config.viewWidth = width();
    config.viewHeight = height();
}

bool QCameraView::setTakePhotoCammond(QImage child1, QImage child2, bool use1, bool use2)
{
    if (Cache::config->correctionMode == 3)
        storeSelectionGeometry();
    return capture->setTakePhotoCammond(child1, child2, use1, use2);
}

bool QCameraView::setTakePhotoCammond(ChildPicture child1, ChildPicture child2, bool use1, bool use2)
{
    if (Cache::config->correctionMode == 3)
        storeSelectionGeometry();
    return capture->setTakePhotoCammond(std::move(child1), std::move(child2), use1, use2);
}

void QCameraView::takePhoto()
{
    setTakePhotoCammond(QImage(), QImage(), false, false);
}

// ---------------------------------------------------------------- barcode and automatic capture

void QCameraView::shiErweima()
{
    if (waitingFirstFrame)
        return;
    erweimaOn = true;
    capture->setErweima(1);
}

void QCameraView::guanErweima()
{
    if (waitingFirstFrame)
        return;
    erweimaOn = false;
    capture->setErweima(0);
}

void QCameraView::shiZhuapai()
{
    if (waitingFirstFrame)
        return;
    if (!zhuapai) {
        zhuapai = new IamgeZhuaPai(this);
        connect(this, &QCameraView::readFarme, zhuapai, &IamgeZhuaPai::readFarme,
                Qt::DirectConnection);
        connect(zhuapai, &IamgeZhuaPai::sendTakePhoto, this, &QCameraView::takePhoto);
        // A page refused as already taken is said in the status line, so the
        // clerk knows why nothing was shot.
        connect(zhuapai, &IamgeZhuaPai::refusedRepeatedPage, this, [this] {
            emit photoNoticeSignal(QStringLiteral("此页已拍摄，未重复保存"));
        });
        zhuapai->begin();
    }
    zhuapaiOn = true;
    Cache::config->autoCaptureOn = true;
}

void QCameraView::guanZhuapai()
{
    zhuapaiOn = false;
    Cache::config->autoCaptureOn = false;
}

// ---------------------------------------------------------------- recording

QString QCameraView::recordBegin()
{
    if (waitingFirstFrame || stopped)
        return QString();
    return recorder->beginTimedVideo();
}

void QCameraView::recordEnd(QString path)
{
    if (recorder->isRecordingVideo())
        videosFinishing.append(path);
    recorder->end();
}
