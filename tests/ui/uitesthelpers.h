#pragma once

#include "urlcatcher.h"

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
class Recording;

namespace uitest {

// A BGR camera frame with a coloured block, so painted pixels can be told apart.
cv::Mat testFrame(int width, int height);
QImage toImage(const cv::Mat &frame);

// A stand-in "arecord" at the front of PATH that writes its arguments, one a
// line, to `argsFile`, then records silence into the WAV file named last
// until SIGINT or SIGTERM, when it writes the header's sizes and exits.
void installRecorderStandIn(QTemporaryDir &dir, const QString &argsFile);
// A stand-in "arecord" that finds no sound device and exits with 1.
void installFailingRecorder(QTemporaryDir &dir);

// The sizes a WAV file's header states and the file's own size (-1 when
// the file or its header is missing).
struct WavSizes {
    qint64 fileSize = -1;
    qint64 riffSize = -1;
    qint64 dataSize = -1;
};
WavSizes wavSizes(const QString &path);
QStringList readLines(const QString &path);

// What OpenCV reads back from a video file: the frame count its header
// states, the declared rate and the picture size.
struct AviInfo {
    bool opened = false;
    double frames = 0;
    double fps = 0;
    cv::Size size;
};
AviInfo readAvi(const QString &path);
// Waits until every video `recorder` stopped is finished and announced.
bool waitUntilFinished(const Recording &recorder);

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
