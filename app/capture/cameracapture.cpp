#include "cameracapture.h"

#include "fullsizeframe.h"
#include "mjpgframe.h"
#include "virtualcameras.h"
#include "virtualsource.h"

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

bool isCompressedFrame(const cv::Mat &frame)
{
    return frame.rows == 1 && frame.type() == CV_8UC1 && frame.cols >= 2 && frame.at<uchar>(0) == 0xFF
           && frame.at<uchar>(1) == 0xD8;
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

bool CameraCapture::open(int deviceNumber, int apiPreference)
{
    MutexLocker lock(&mutex);
    device.release();
    virtualSource.reset();
    newest.reset();
    rawModeChecked = false;
    rawMode = false;
    if (VirtualCameras::isVirtual(deviceNumber)) {
        virtualSource = VirtualCameras::createSource(deviceNumber);
        return virtualSource && virtualSource->open();
    }
    return device.open(deviceNumber, apiPreference);
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
    const bool compressed = fromDevice ? rawMode && isCompressedFrame(frame)
                                       : virtualSource->deliversMjpg();
    if (compressed)
        // A device's raw buffer goes back to the driver at the next grab.
        return decodeLive(frame, !fromDevice, image);
    keepPicture(frame, image);
    return true;
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
    }
    if (!device.read(frame))
        return false;
    if (rawMode && !frame.empty() && !isCompressedFrame(frame) && frame.type() != CV_8UC3) {
        // Raw bytes of some other format: let the backend convert them again.
        rawMode = false;
        switchDeviceToRaw(false);
        return device.read(frame);
    }
    return true;
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
