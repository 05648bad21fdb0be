#include "cameracapture.h"

#include "cameraenumeration.h"
#include "fullsizeframe.h"
#include "mjpgframe.h"
#include "virtualcameras.h"
#include "virtualsource.h"

#include <QDebug>
#include <QMutexLocker>

namespace {

QMutex &observerMutex()
{
    static QMutex mutex;
    return mutex;
}

CameraCapture::RequestObserver &observerSlot()
{
    static CameraCapture::RequestObserver observer;
    return observer;
}

void reportRequest(int propId, double value)
{
    QMutexLocker lock(&observerMutex());
    if (observerSlot())
        observerSlot()(propId, value);
}

const int kMjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');

// How the Video4Linux back end hands out a raw buffer.
bool isByteRow(const cv::Mat &frame)
{
    return frame.rows == 1 && frame.type() == CV_8UC1;
}

// A device node that exists but does not answer as a Video4Linux device.
bool isOtherDevice(int deviceNumber)
{
    V4l2Api &api = V4l2Api::system();
    const int fd = api.open(QStringLiteral("/dev/video") + QString::number(deviceNumber));
    if (fd < 0)
        return false;
    v4l2_capability capability{};
    const bool v4l2 = api.queryCap(fd, &capability) == 0;
    api.close(fd);
    return !v4l2;
}

} // namespace

void CameraCapture::setRequestObserver(RequestObserver observer)
{
    QMutexLocker lock(&observerMutex());
    observerSlot() = std::move(observer);
}

CameraCapture::CameraCapture() = default;

CameraCapture::~CameraCapture()
{
    release();
}

bool CameraCapture::open(int deviceNumber)
{
    MutexLocker lock(&mutex);
    device.release();
    virtualSource.reset();
    newest.reset();
    rawModeChecked = false;
    rawMode = false;
    deviceSize = cv::Size();
    if (VirtualCameras::isVirtual(deviceNumber)) {
        virtualSource = VirtualCameras::createSource(deviceNumber);
        return virtualSource && virtualSource->open();
    }
    return openDevice(deviceNumber);
}

bool CameraCapture::openDevice(int deviceNumber)
{
    if (device.open(deviceNumber, cv::CAP_V4L2))
        return true;
    // A Video4Linux node that cannot be opened now (just plugged in, not
    // capturing yet, gone) waits for the next reopen: another back end would
    // only hold it. A node that is no Video4Linux device may be another's camera.
    if (!isOtherDevice(deviceNumber) || !device.open(deviceNumber, cv::CAP_ANY))
        return false;
    qDebug() << "camera" << deviceNumber << "opened through the"
             << QString::fromStdString(device.getBackendName()) << "back end, not Video4Linux";
    return true;
}

bool CameraCapture::isOpened() const
{
    MutexLocker lock(&mutex);
    return virtualSource ? virtualSource->isOpened() : device.isOpened();
}

void CameraCapture::setLiveSize(LiveSize size)
{
    MutexLocker lock(&mutex);
    liveSize = std::move(size);
}

bool CameraCapture::read(cv::OutputArray image)
{
    std::shared_ptr<FullSizeFrame> kept;
    cv::Mat picture;
    const bool delivered = read(picture, kept);
    image.assign(picture);
    return delivered;
}

bool CameraCapture::read(cv::Mat &image, std::shared_ptr<FullSizeFrame> &kept)
{
    MutexLocker lock(&mutex);
    kept.reset();
    newest.reset();
    lastFrameDropped = false;
    const bool delivered = readLocked(image);
    kept = newest;
    return delivered;
}

bool CameraCapture::readLocked(cv::OutputArray image)
{
    cv::Mat frame;
    const bool fromDevice = !virtualSource;
    const bool delivered = fromDevice ? readDevice(frame) : virtualSource->read(frame);
    if (!delivered || frame.empty()) {
        image.release();
        return false;
    }
    const bool compressed = fromDevice ? rawMode && isByteRow(frame) : virtualSource->deliversMjpg();
    if (compressed) {
        const QString problem = mjpgFrameProblem(frame, negotiatedSize());
        if (!problem.isEmpty()) {
            qDebug() << "camera frame dropped:" << problem;
            lastFrameDropped = true;
            image.release();
            return false;
        }
        // A device's raw buffer goes back to the driver at the next grab.
        return decodeLive(frame, !fromDevice, image);
    }
    keepPicture(frame, image);
    return true;
}

cv::Size CameraCapture::negotiatedSize() const
{
    if (virtualSource)
        return cv::Size(int(virtualSource->get(cv::CAP_PROP_FRAME_WIDTH)),
                        int(virtualSource->get(cv::CAP_PROP_FRAME_HEIGHT)));
    return deviceSize;
}

bool CameraCapture::droppedFrame() const
{
    MutexLocker lock(&mutex);
    return lastFrameDropped;
}

bool CameraCapture::readDevice(cv::Mat &frame)
{
    if (!device.isOpened())
        return false;
    if (!rawModeChecked) {
        rawModeChecked = true;
        const bool mjpg = int(device.get(cv::CAP_PROP_FOURCC)) == kMjpg;
        if (mjpg) {
            rawMode = switchDeviceToRaw(true);
        } else if (rawMode) {
            switchDeviceToRaw(false);
            rawMode = false;
        }
        deviceSize = cv::Size(int(device.get(cv::CAP_PROP_FRAME_WIDTH)),
                              int(device.get(cv::CAP_PROP_FRAME_HEIGHT)));
    }
    return device.read(frame);
}

bool CameraCapture::switchDeviceToRaw(bool raw)
{
    if (raw) {
        const bool format = device.set(cv::CAP_PROP_FORMAT, -1);
        const bool convert = device.set(cv::CAP_PROP_CONVERT_RGB, 0);
        return format || convert;
    }
    return device.set(cv::CAP_PROP_CONVERT_RGB, 1);
}

bool CameraCapture::decodeLive(const cv::Mat &compressed, bool ownBytes, cv::OutputArray image)
{
    const cv::Mat bytes = ownBytes ? compressed : compressed.clone();
    const cv::Size full = mjpgFrameSize(bytes);
    const int reduction = liveSize ? reductionFor(full, liveSize(full)) : 1;
    cv::Mat live;
    if (!decodeMjpgFrame(bytes, live, reduction)) {
        image.release();
        return false;
    }
    newest = FullSizeFrame::ofCompressed(bytes, live, reduction);
    image.assign(live);
    return true;
}

void CameraCapture::keepPicture(const cv::Mat &picture, cv::OutputArray image)
{
    newest = FullSizeFrame::ofPicture(picture);
    image.assign(picture);
}

bool CameraCapture::set(int propId, double value)
{
    reportRequest(propId, value);
    MutexLocker lock(&mutex);
    if (virtualSource)
        return virtualSource->set(propId, value);
    if (propId == cv::CAP_PROP_FOURCC || propId == cv::CAP_PROP_FRAME_WIDTH
        || propId == cv::CAP_PROP_FRAME_HEIGHT)
        rawModeChecked = false;
    return device.set(propId, value);
}

double CameraCapture::get(int propId) const
{
    MutexLocker lock(&mutex);
    return virtualSource ? virtualSource->get(propId) : device.get(propId);
}

void CameraCapture::release()
{
    MutexLocker lock(&mutex);
    virtualSource.reset();
    device.release();
    newest.reset();
}
