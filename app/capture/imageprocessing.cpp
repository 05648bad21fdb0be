#include "imageprocessing.h"

#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "documentdetection.h"

#include <QDebug>
#include <QTransform>

#include <opencv2/highgui.hpp>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {

// Idle pass while no camera is open, and the wait before reopening a camera
// that stopped delivering frames.
constexpr int kIdleMs = 33;
constexpr int kReopenDelayMs = 5000;
// How long end() waits for the loop to leave.
constexpr int kStopGraceMs = 1000;

const char kFourccTable[8][5] = {"MJPG", "PIM1", "MP42", "DIV3", "DIVX", "U263", "I263", "FLV1"};

struct MetaTypes {
    MetaTypes()
    {
        qRegisterMetaType<QList<QString>>("QList<QString>");
        qRegisterMetaType<std::vector<QImage>>("std::vector<QImage>");
    }
};

} // namespace

ImageProcessing::ImageProcessing(QObject *parent) : QThread(parent)
{
    static MetaTypes registered;
    capture.setLiveSize([this](cv::Size full) { return liveSizeNeeded(full); });
    // Names the OS thread, so the capture loop is recognisable in tools.
    setObjectName(QStringLiteral("ImageProcessing"));
    const QString cascade = Cache::config->appDir
                            + QStringLiteral("/Resources/face/haarcascade_frontalface_default.xml");
    faceClassifier.load(cascade.toStdString());
}

ImageProcessing::~ImageProcessing()
{
    end();
    // The loop may still be inside a blocking delivery to this thread or a
    // camera read; it ends by itself once running is false, and the object
    // must outlive it.
    while (!ThreadStopper::waitDelivering(*this, kStopGraceMs))
        qDebug() << "capture thread still finishing its pass";
    cv::waitKey(100);
    // The slot only shows the recorder's writer; the recorder owns and
    // finishes it.
    videoWriter = nullptr;
    capture.release();
}

cv::Mat ImageProcessing::currentFrame() const
{
    std::shared_ptr<FullSizeFrame> kept;
    {
        MutexLocker lock(&frameMutex);
        kept = keptFrame;
    }
    // Decoded outside the lock (the loop goes on publishing meanwhile), and
    // kept with the frame, so every reader of the same frame shares one decode.
    return kept ? kept->picture() : cv::Mat();
}

std::shared_ptr<FullSizeFrame> ImageProcessing::currentFullSizeFrame() const
{
    MutexLocker lock(&frameMutex);
    return keptFrame;
}

void ImageProcessing::setCurrentFrame(const cv::Mat &fresh)
{
    setCurrentFrame(fresh.empty() ? nullptr : FullSizeFrame::ofPicture(fresh));
}

void ImageProcessing::setCurrentFrame(std::shared_ptr<FullSizeFrame> fresh)
{
    cv::Mat full;
    if (fresh && fresh->liveReduction() == 1)
        full = fresh->picture();
    MutexLocker lock(&frameMutex);
    keptFrame = std::move(fresh);
    frame = full;
}

cv::Rect ImageProcessing::objectFaceNow() const
{
    MutexLocker lock(&faceMutex);
    return objectFace;
}

void ImageProcessing::setObjectFace(const cv::Rect &face)
{
    MutexLocker lock(&faceMutex);
    objectFace = face;
}

std::vector<cv::Rect> ImageProcessing::detectFaces(const cv::Mat &grey, cv::Size smallest, cv::Size largest)
{
    std::vector<cv::Rect> faces;
    MutexLocker lock(&faceMutex);
    if (!faceClassifier.empty())
        faceClassifier.detectMultiScale(grey, faces, 1.1, 3, 0, smallest, largest);
    return faces;
}

bool ImageProcessing::keepLiveFrame(std::shared_ptr<FullSizeFrame> fresh, quint64 generation)
{
    cv::Mat full;
    if (fresh && fresh->liveReduction() == 1)
        full = fresh->picture();
    MutexLocker lock(&frameMutex);
    if (!cameraOpen || generation != cameraGeneration)
        return false;
    keptFrame = std::move(fresh);
    frame = full;
    return true;
}

void ImageProcessing::setCameraState(bool open)
{
    MutexLocker lock(&frameMutex);
    ++cameraGeneration;
    cameraOpen = open;
    if (!open) {
        keptFrame.reset();
        frame = cv::Mat();
    }
}

quint64 ImageProcessing::cameraGenerationNow() const
{
    MutexLocker lock(&frameMutex);
    return cameraGeneration;
}

void ImageProcessing::setPreviewSize(QSize size)
{
    previewWidth = size.width();
    previewHeight = size.height();
}

namespace {

// `full` fitted into `box` keeping its aspect ratio, enlarged by `zoom` when
// the view is zoomed in, rounded up.
cv::Size fittedNeed(cv::Size full, cv::Size box, double zoom)
{
    const double scale = std::min(double(box.width) / full.width, double(box.height) / full.height)
                         * std::max(1.0, zoom);
    return cv::Size(int(std::ceil(full.width * scale)), int(std::ceil(full.height * scale)));
}

cv::Size largerOf(cv::Size a, cv::Size b)
{
    return cv::Size(std::max(a.width, b.width), std::max(a.height, b.height));
}

} // namespace

cv::Size ImageProcessing::liveSizeNeeded(cv::Size full) const
{
    const Config &config = *Cache::config;
    if (erweima != 0 || full.width <= 0 || full.height <= 0)
        return cv::Size();
    // Boxes are measured on the shown picture, which the user rotation may turn.
    const bool turned = angle % 2 != 0;
    const auto inFrame = [turned](int width, int height) {
        return turned ? cv::Size(height, width) : cv::Size(width, height);
    };
    cv::Size needed;
    bool known = false;
    const int viewWidth = previewWidth;
    const int viewHeight = previewHeight;
    if (!config.webSocketMode && viewWidth > 0 && viewHeight > 0) {
        needed = largerOf(needed, fittedNeed(full, inFrame(viewWidth, viewHeight), config.zoom));
        known = true;
    }
    if (config.webSocketMode && webWidth > 0 && webHeight > 0) {
        const cv::Size canvas = inFrame(webWidth, webHeight);
        // Grey pictures are stretched over the whole canvas.
        needed = largerOf(needed, shootType == 1 ? canvas : fittedNeed(full, canvas, zoomValue));
        known = true;
    }
    return known ? needed : cv::Size();
}

QImage ImageProcessing::MatQImage(const cv::Mat &mat)
{
    if (mat.type() == CV_8UC1) {
        QImage image(mat.cols, mat.rows, QImage::Format_Indexed8);
        QVector<QRgb> palette(256);
        for (int i = 0; i < 256; ++i)
            palette[i] = qRgb(i, i, i);
        image.setColorTable(palette);
        for (int row = 0; row < mat.rows; ++row)
            memcpy(image.scanLine(row), mat.ptr(row), size_t(mat.cols));
        return image;
    }
    if (mat.type() == CV_8UC3) {
        // One OpenCV pass swaps the channels straight into the image's own
        // buffer; QImage::rgbSwapped is several times slower on large frames.
        QImage image(mat.cols, mat.rows, QImage::Format_RGB888);
        cv::Mat target(mat.rows, mat.cols, CV_8UC3, image.bits(), size_t(image.bytesPerLine()));
        cv::cvtColor(mat, target, cv::COLOR_BGR2RGB);
        return image;
    }
    if (mat.type() == CV_8UC4) {
        const QImage wrapped(mat.data, mat.cols, mat.rows, int(mat.step), QImage::Format_ARGB32);
        return wrapped.copy();
    }
    return QImage();
}

cv::Mat ImageProcessing::QImageToMat(QImage image)
{
    cv::Mat mat;
    switch (image.format()) {
    case QImage::Format_Indexed8:
        // Shares the image's pixels, as documented; the caller keeps the image alive.
        mat = cv::Mat(image.height(), image.width(), CV_8UC1, const_cast<uchar *>(image.constBits()),
                      size_t(image.bytesPerLine()));
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: {
        const cv::Mat wrapped(image.height(), image.width(), CV_8UC4,
                              const_cast<uchar *>(image.constBits()), size_t(image.bytesPerLine()));
        cv::cvtColor(wrapped, mat, cv::COLOR_BGRA2BGR);
        break;
    }
    case QImage::Format_RGB888: {
        const cv::Mat wrapped(image.height(), image.width(), CV_8UC3,
                              const_cast<uchar *>(image.constBits()), size_t(image.bytesPerLine()));
        cv::cvtColor(wrapped, mat, cv::COLOR_RGB2BGR);
        break;
    }
    default:
        break;
    }
    return mat;
}

void ImageProcessing::begin()
{
    stopper.start();
    cameraOpen = false;
    start(QThread::InheritPriority);
}

// The one way to stop the loop: it wakes any wait of the loop, and while it
// waits it delivers the loop's blocking frame hand-over when this thread is
// the receiver, so a frame in flight cannot deadlock the shutdown.
void ImageProcessing::end()
{
    cameraOpen = false;
    stopper.stop();
    quit();
    ThreadStopper::waitDelivering(*this, kStopGraceMs);
}

void ImageProcessing::openCamara()
{
    if (cameraListIndex < 0 || cameraListIndex >= Cache::cameras->size()) {
        qDebug() << "openCamara: no camera at" << cameraListIndex;
        setCameraState(true);   // the empty-frame rule retries later
        return;
    }
    const int device = Cache::cameras->at(cameraListIndex).index;
    {
        CameraCapture probe;
        if (probe.open(device)) {
            qDebug() << "isOpened" << device;
            probe.release();
            CameraCapture second;
            second.open(device);
            second.release();
        }
    }
    if (frameWidth > 3264) {
        frameWidth = 3264;
        frameHeight = 2448;
    }
    capture.open(device);
    videoParameterSettings();
    setCameraState(true);
}

void ImageProcessing::closeCamara(bool)
{
    // A photo must never be taken of a frame from before the camera closed,
    // nor of the one a read under way brings after it.
    setCameraState(false);
    if (QThread::currentThread() != this && isRunning()) {
        // A reopen asked for earlier must not bring the camera back, and the
        // loop's read in flight ends on the loop's own time.
        resolutionChanged = false;
        restartRequested = false;
        closeRequested = true;
        emit closeCameraSignal();
        return;
    }
    // On the loop's own thread no read is in flight: nothing to wait for.
    capture.release();
    emit closeCameraSignal();
}

void ImageProcessing::requestCameraSwitch(int index)
{
    cameraListIndex = index;
    restartRequested = true;
}

void ImageProcessing::videoParameterSettings()
{
    const int code = Cache::config->fourcc;
    if (code >= 0 && code <= 7) {
        const char *c = kFourccTable[code];
        capture.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc(c[0], c[1], c[2], c[3]));
    }
    qDebug() << "fps" << capture.get(cv::CAP_PROP_FPS) << "width"
             << capture.get(cv::CAP_PROP_FRAME_WIDTH) << "height"
             << capture.get(cv::CAP_PROP_FRAME_HEIGHT);
    qDebug() << (capture.set(cv::CAP_PROP_FPS, 100.0) ? "true" : "false");
    // No size chosen (a camera without a listed size): the driver's own.
    if (frameWidth > 0 && frameHeight > 0) {
        qDebug() << (capture.set(cv::CAP_PROP_FRAME_WIDTH, frameWidth) ? "true" : "false");
        qDebug() << (capture.set(cv::CAP_PROP_FRAME_HEIGHT, frameHeight) ? "true" : "false");
    }
    qDebug() << "fps" << capture.get(cv::CAP_PROP_FPS) << "width"
             << capture.get(cv::CAP_PROP_FRAME_WIDTH) << "height"
             << capture.get(cv::CAP_PROP_FRAME_HEIGHT);
}

void ImageProcessing::reConfigVideoSetting()
{
    const Config &config = *Cache::config;
    if (config.cameraIndex < 0 || config.cameraIndex >= Cache::cameras->size())
        return;
    const QList<QSize> &sizes = Cache::cameras->at(config.cameraIndex).resolutions;
    if (config.resolution >= 0 && config.resolution < sizes.size()) {
        frameWidth = sizes.at(config.resolution).width();
        frameHeight = sizes.at(config.resolution).height();
    } else {
        // A camera that lists no size of its own still opens, at the size
        // its driver gives.
        frameWidth = 0;
        frameHeight = 0;
    }
    resolutionChanged = true;
}

void ImageProcessing::setCameraResolution(QSize size)
{
    frameWidth = size.width();
    frameHeight = size.height();
    resolutionChanged = true;
}

void ImageProcessing::setCameraRNAgain(QSize size)
{
    frameWidth = size.width();
    frameHeight = size.height();
    restartRequested = true;
}

void ImageProcessing::setFrameWidth(int width) { frameWidth = width; }
void ImageProcessing::setFrameHeight(int height) { frameHeight = height; }

void ImageProcessing::setFrameWidthAndHeight(int width, int height)
{
    frameWidth = width;
    frameHeight = height;
}

void ImageProcessing::setCameraExposure(int value)
{
    // The V4L2 back end passes CAP_PROP_AUTO_EXPOSURE to the UVC control
    // as it stands: 1 is manual, 3 is aperture priority (automatic).
    if (value == kAutomaticExposure) {
        capture.set(cv::CAP_PROP_AUTO_EXPOSURE, kExposureAutomatic);
        capture.set(cv::CAP_PROP_AUTOFOCUS, 1.0);
        capture.set(cv::CAP_PROP_SETTINGS, 0.0);
    } else {
        capture.set(cv::CAP_PROP_AUTO_EXPOSURE, kExposureManual);
        capture.set(cv::CAP_PROP_BRIGHTNESS, value);
    }
}

void ImageProcessing::setAngle(int step)
{
    int next;
    if (step == 1)
        next = angle + 1;
    else if (step == -1)
        next = angle - 1;
    else if (step == 0)
        next = angle + 2;
    else
        return;
    angle = ((next % 4) + 4) % 4;
}

void ImageProcessing::setZoomValue(double delta)
{
    zoomValue += delta;
    if (!(zoomValue > 0.0))
        zoomValue += 0.2;
}

void ImageProcessing::setWebSize(int w, int h)
{
    if (w > 0)
        webWidth = qMin(w, kMaxWebSide);
    if (h > 0)
        webHeight = qMin(h, kMaxWebSide);
}

void ImageProcessing::setCameraCorrection(int value) { correction = value; }
void ImageProcessing::setErweima(int value) { erweima = value; }
void ImageProcessing::setCameraShootType(int value) { shootType = value; }
void ImageProcessing::setTakePhotoChildCamera(bool value) { childCamera = value; }
void ImageProcessing::setSaveImageToTiff(bool value) { saveImageToTiff = value; }

bool ImageProcessing::hasLiveFrame() const
{
    MutexLocker lock(&frameMutex);
    return !frame.empty() || keptFrame;
}

bool ImageProcessing::setTakePhotoCammond(QImage child1, QImage child2, bool use1, bool use2)
{
    if (!hasLiveFrame()) {
        qDebug() << "photo refused: no live frame";
        return false;
    }
    {
        MutexLocker lock(&childPicturesMutex);
        childPicture1 = ChildPicture();
        childPicture2 = ChildPicture();
    }
    childImage1 = child1;
    childImage2 = child2;
    useChildImage1 = use1;
    useChildImage2 = use2;
    photoRequested = true;
    return true;
}

bool ImageProcessing::setTakePhotoCammond(ChildPicture child1, ChildPicture child2, bool use1,
                                          bool use2)
{
    if (!hasLiveFrame()) {
        qDebug() << "photo refused: no live frame";
        return false;
    }
    childImage1 = child1.shown;
    childImage2 = child2.shown;
    {
        MutexLocker lock(&childPicturesMutex);
        childPicture1 = std::move(child1);
        childPicture2 = std::move(child2);
    }
    useChildImage1 = use1;
    useChildImage2 = use2;
    photoRequested = true;
    return true;
}

void ImageProcessing::resolveChildPictures()
{
    ChildPicture child1;
    ChildPicture child2;
    {
        MutexLocker lock(&childPicturesMutex);
        std::swap(child1, childPicture1);
        std::swap(child2, childPicture2);
    }
    if (useChildImage1 && child1.full)
        childImage1 = child1.resolve();
    if (useChildImage2 && child2.full)
        childImage2 = child2.resolve();
}

void ImageProcessing::readFarme(QImage image)
{
    {
        MutexLocker lock(&pushedFrameMutex);
        pushedFrame = image;
    }
    cameraOpen = true;
}

QImage ImageProcessing::handleQImage(QImage image)
{
    return handleAngleQImage(image, angle);
}

QImage ImageProcessing::handleAngleQImage(QImage image, int angleCode)
{
    int degrees;
    switch (angleCode) {
    case 1: degrees = 90; break;
    case 2: degrees = 180; break;
    case 3: degrees = 270; break;
    default: return image;
    }
    QTransform matrix;
    matrix.rotate(degrees);
    return image.transformed(matrix, Qt::SmoothTransformation);
}

void ImageProcessing::deliverPhotoPaths(const QList<QString> &paths)
{
    if (QThread::currentThread() == this || !isRunning()) {
        emit sendTakePhotoImageSignal(paths, 0);
        return;
    }
    // Called on the owner's thread: a blocking delivery to that same thread
    // could never complete, so the loop hands the paths over on its next pass.
    MutexLocker lock(&pendingPathsMutex);
    pendingPhotoPaths.append(paths);
}

void ImageProcessing::flushPendingPhotoPaths()
{
    QList<QList<QString>> pending;
    {
        MutexLocker lock(&pendingPathsMutex);
        pending.swap(pendingPhotoPaths);
    }
    for (const QList<QString> &paths : pending)
        emit sendTakePhotoImageSignal(paths, 0);
}

// Colour frames with detections get their outlines on the converted picture:
// drawing them on the BGR frame would first need a copy of the whole frame,
// which readers of the current frame must never see drawn on.
QImage ImageProcessing::processLiveFrame(const cv::Mat &grabbed, int reduction)
{
    const Config &config = *Cache::config;
    const int correctionNow = correction;
    const bool faceMarking = config.cameraIndex == 0 && config.gnRenlian && !faceClassifier.empty();
    cv::Mat processed;
    if (shootType != 0 || correctionNow == 0 || faceMarking || grabbed.type() != CV_8UC3) {
        handleMat(grabbed, processed, true, reduction);
        return MatQImage(processed);
    }
    // In colour mode a photo pass differs from a live one only by the outlines.
    const std::vector<cv::RotatedRect> detections = handleMat(grabbed, processed, false, reduction);
    QImage image = MatQImage(processed);
    cv::Mat rgb(image.height(), image.width(), CV_8UC3, image.bits(), size_t(image.bytesPerLine()));
    documentdetection::drawOutlines(rgb, detections, correctionNow, true, reduction);
    return image;
}

QImage ImageProcessing::fullSizeLiveImage()
{
    std::shared_ptr<FullSizeFrame> kept;
    {
        MutexLocker lock(&frameMutex);
        kept = keptFrame;
    }
    if (!kept || kept->liveReduction() == 1)
        return QImage();
    const cv::Mat full = kept->picture();
    if (full.empty())
        return QImage();
    return handleQImage(processLiveFrame(full));
}

void ImageProcessing::publishFrame(const cv::Mat &grabbed, int reduction)
{
    const QImage image = handleQImage(processLiveFrame(grabbed, reduction));
    if (!Cache::config->webSocketMode) {
        emit sendFarmeSignal(image);
        return;
    }
    emit sendImageBase64Signal(image2Data(image));
    if (Cache::config->autoCaptureOn)
        emit sendFarmeSignal(image);
}

void ImageProcessing::runOnePass()
{
    flushPendingPhotoPaths();
    if (closeRequested.exchange(false)) {
        cameraOpen = false;   // also after an open that ran meanwhile
        capture.release();
    }
    if (photoRequested.exchange(false)) {
        resolveChildPictures();
        takePhoto();
    }
    if (resolutionChanged.exchange(false)) {
        closeCamara(false);
        openCamara();
    }
    if (restartRequested.exchange(false)) {
        closeCamara(false);
        openCamara();
    }
    const quint64 generation = cameraGenerationNow();
    if (!cameraOpen) {
        stopper.sleep(kIdleMs);
        return;
    }
    // A fresh matrix every pass: readers holding the previous frame keep
    // their pixels, and nobody sees a half-written one.
    cv::Mat grabbed;
    std::shared_ptr<FullSizeFrame> kept;
    const bool delivered = capture.read(grabbed, kept);
    if (generation != cameraGenerationNow())
        return;   // closed or reopened during the read: that frame is nobody's
    if (!delivered && capture.droppedFrame())
        return;   // logged; the camera goes on, and so does the picture
    if (grabbed.empty() || !kept) {
        closeCamara(false);
        const quint64 closed = cameraGenerationNow();
        // Reopened only if nobody opened or closed it meanwhile: a camera its
        // owner closed during the wait stays closed.
        if (stopper.sleep(kReopenDelayMs) && closed == cameraGenerationNow())
            openCamara();
        return;
    }
    const int reduction = kept->liveReduction();
    // Closed by the owner while the frame was on its way: not shown, not kept.
    if (!keepLiveFrame(std::move(kept), generation))
        return;
    // handleMat never draws into the frame it is given, so readers of the
    // current frame see it as the camera delivered it.
    publishFrame(grabbed, reduction);
}

void ImageProcessing::run()
{
    while (running) {
        try {
            runOnePass();
        } catch (const QString &error) {
            qDebug() << error;
        } catch (const cv::Exception &error) {
            qDebug() << "capture pass failed:" << error.what();
        }
    }
}
