#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <opencv2/core.hpp>

#include <atomic>
#include <thread>

class ImageProcessing;

// Records the addresses the program hands to the desktop instead of opening them.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

namespace uitest {

// A BGR camera frame with a coloured block, so painted pixels can be told apart.
cv::Mat testFrame(int width, int height);
QImage toImage(const cv::Mat &frame);

// A stand-in "arecord" at the front of PATH that writes its arguments, one a
// line, to `argsFile` and then waits to be stopped.
void installRecorderStandIn(QTemporaryDir &dir, const QString &argsFile);
QStringList readLines(const QString &path);

// Hands frames to the receivers of `capture`'s sendFarmeSignal from another
// thread without pause, as the capture loop does, so one is always in flight.
class FrameFlood
{
public:
    FrameFlood(ImageProcessing *capture, const QImage &frame);
    ~FrameFlood();   // stops emitting and joins
    bool waitUntilFlowing(int timeoutMs);   // a few frames have been delivered
    bool stop(int timeoutMs);               // the emitter has left its loop

private:
    std::atomic<bool> keepEmitting{true};
    std::atomic<int> delivered{0};
    std::atomic<bool> finished{false};
    std::thread emitter;
};

} // namespace uitest
