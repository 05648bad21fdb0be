#pragma once

#include "threadstopper.h"

#include <QByteArray>
#include <QThread>

#include <atomic>
#include <functional>

class FPSensor;

// Waits for fingers on an open sensor off the window's thread: the plug-in's
// capture holds its caller for as long as a finger lies on the glass, and the
// template extraction takes long too. Each image taken is handed over with its
// template, and the thread waits until the receiver has dealt with it before
// the next capture, so captures and their answers keep their order.
class FingerCaptureThread : public QThread
{
    Q_OBJECT
public:
    // The template of one image; empty when none could be extracted.
    using Extract = std::function<QByteArray(const QByteArray &image)>;

    // `sensor` and `handle` must stay valid until stop() returned; `extract`
    // runs on this thread.
    FingerCaptureThread(FPSensor &sensor, void *handle, int imageBytes, int intervalMs,
                        Extract extract, QObject *parent = nullptr);
    ~FingerCaptureThread() override;

    void begin();
    // Returns once the thread no longer uses the sensor.
    void stop();

signals:
    // One image of `imageBytes` bytes as the sensor delivered it, and its
    // template (empty when none). Connect it blocking.
    void captured(QByteArray image, QByteArray templ);

protected:
    void run() override;

private:
    FPSensor &sensor;
    void *const handle;
    const int imageBytes;
    const int intervalMs;
    const Extract extract;
    std::atomic<bool> running{false};
    ThreadStopper stopper{running};
};
