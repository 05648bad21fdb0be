#pragma once

#include "threadstopper.h"

#include <QByteArray>
#include <QThread>

#include <atomic>

class FPSensor;

// Waits for fingers on an open sensor off the window's thread: the plug-in's
// capture holds its caller for as long as a finger lies on the glass. Each
// image taken is handed over by signal, one capture every interval.
class FingerCaptureThread : public QThread
{
    Q_OBJECT
public:
    // `sensor` and `handle` must stay valid until stop() returned.
    FingerCaptureThread(FPSensor &sensor, void *handle, int imageBytes, int intervalMs,
                        QObject *parent = nullptr);
    ~FingerCaptureThread() override;

    void begin();
    // Returns once the thread no longer uses the sensor.
    void stop();

signals:
    // One image of `imageBytes` bytes, as the sensor delivered it.
    void captured(QByteArray image);

protected:
    void run() override;

private:
    FPSensor &sensor;
    void *const handle;
    const int imageBytes;
    const int intervalMs;
    std::atomic<bool> running{false};
    ThreadStopper stopper{running};
};
