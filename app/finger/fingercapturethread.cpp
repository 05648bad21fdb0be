#include "fingercapturethread.h"

#include "fpsensor.h"

#include <QDebug>

namespace {

// How long stop() waits in one go for a capture still in the plug-in.
constexpr int kStopGraceMs = 3000;

} // namespace

FingerCaptureThread::FingerCaptureThread(FPSensor &sensor, void *handle, int imageBytes,
                                         int intervalMs, Extract extract, QObject *parent)
    : QThread(parent),
      sensor(sensor),
      handle(handle),
      imageBytes(imageBytes),
      intervalMs(intervalMs),
      extract(std::move(extract))
{
    setObjectName(QStringLiteral("FingerCapture"));
}

FingerCaptureThread::~FingerCaptureThread()
{
    stop();
}

void FingerCaptureThread::begin()
{
    stopper.start();
    start();
}

void FingerCaptureThread::stop()
{
    stopper.stop();
    // The sensor may only be closed once no capture runs on it.
    while (!ThreadStopper::waitDelivering(*this, kStopGraceMs))
        qDebug() << "fingerprint capture still in the plug-in";
}

void FingerCaptureThread::run()
{
    QByteArray image(imageBytes, '\0');
    while (running) {
        const int count = sensor.sensorCapture(handle, reinterpret_cast<unsigned char *>(image.data()),
                                               imageBytes);
        // The receiver keeps its own copy: the next capture writes a new buffer.
        if (count > 0 && running)
            emit captured(image, extract(image));
        stopper.sleep(intervalMs);
    }
}
