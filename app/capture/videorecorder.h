#pragma once

#include <QMutex>
#include <QSize>
#include <QString>

#include <opencv2/core.hpp>

class ImageProcessing;
class QTimer;

// Records a capture thread's current frame into an MJPG video: the writer
// sits in the thread's `videoWriter` slot and is fed on the owner's timer.
// One frame is written per elapsed period of the declared rate (a late tick
// repeats the current picture), so frames / rate is the wall time recorded.
// The desktop preview and the service window both record through it.
class VideoRecorder
{
public:
    // `timer` is the owner's feeding timer; its timeout must call tick().
    // `frameMutex` is held while the current frame is copied.
    VideoRecorder(ImageProcessing &capture, QTimer &timer, QMutex &frameMutex);
    ~VideoRecorder();

    static constexpr int writerIntervalMs = 100;
    static constexpr double writerFps = 1000.0 / writerIntervalMs;

    // Starts a file at `path` (a running recording is finished first, so its
    // file is complete). The size is that of the current frame. Returns
    // whether the writer opened; a writer that did not open writes nothing.
    bool begin(const QString &path);
    // Writes the frames still due and the frame count, and releases the
    // writer. Nothing happens without a recording.
    void end();
    // One timer tick: writes the frames due since the start.
    void tick();

    bool isRecording() const { return recording; }
    int recordedFrames() const { return frameCount - 1; }

private:
    void releaseWriter();
    void writeFrame(const cv::Mat &frame);

    ImageProcessing &capture;
    QTimer &timer;
    QMutex &frameMutex;
    bool writerActive = false;
    bool recording = false;
    int frameCount = 1;
    qint64 startedMs = 0;   // on the station clock
    QSize writerSize;
};
