#include "cameracapture.h"

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
    QMutexLocker lock(&mutex);
    device.release();
    virtualSource.reset();
    if (VirtualCameras::isVirtual(deviceNumber)) {
        virtualSource = VirtualCameras::createSource(deviceNumber);
        return virtualSource && virtualSource->open();
    }
    return device.open(deviceNumber, apiPreference);
}

bool CameraCapture::isOpened() const
{
    QMutexLocker lock(&mutex);
    return virtualSource ? virtualSource->isOpened() : device.isOpened();
}

bool CameraCapture::read(cv::OutputArray image)
{
    QMutexLocker lock(&mutex);
    if (virtualSource) {
        cv::Mat frame;
        if (!virtualSource->read(frame)) {
            image.release();
            return false;
        }
        if (virtualSource->deliversMjpg())
            return decodeMjpgFrame(frame, image);
        image.assign(frame);
        return true;
    }
    if (!device.isOpened()) {
        image.release();
        return false;
    }
    return device.read(image);
}

bool CameraCapture::set(int propId, double value)
{
    reportRequest(propId, value);
    QMutexLocker lock(&mutex);
    return virtualSource ? virtualSource->set(propId, value) : device.set(propId, value);
}

double CameraCapture::get(int propId) const
{
    QMutexLocker lock(&mutex);
    return virtualSource ? virtualSource->get(propId) : device.get(propId);
}

void CameraCapture::release()
{
    QMutexLocker lock(&mutex);
    virtualSource.reset();
    device.release();
}
