#pragma once

#include <atomic>

#include <QDateTime>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>

#include <opencv2/core.hpp>

#include "framewritequeue.h"
#include "soundrecorder.h"

class ImageProcessing;

// The one recorder of the station. It writes a capture thread's current frame
// into an MJPG video at the declared rate and runs "arecord" for the sound,
// beside a video or on its own, with one set of rules for starting, stopping
// and failing. The desktop preview (and through it the main window's sound
// recording) and the service window all record through it. Every begin
// finishes a recording still running first, so its file is complete.
//
// The writer sits in the capture thread's `videoWriter` slot and is fed on
// this object's timer. One frame is written per elapsed period of the
// declared rate (a late tick repeats the current picture), so frames / rate
// is the time recorded. The station clock names the files and paces the
// frames. Frames are decoded and written on a thread of their own.
class Recording : public QObject
{
    Q_OBJECT
public:
    explicit Recording(ImageProcessing &capture, QObject *parent = nullptr);
    ~Recording() override;

    static constexpr int writerIntervalMs = 100;
    static constexpr double writerFps = 1000.0 / writerIntervalMs;

    // A video into a file named after the current time in the working
    // directory, with the sound beside it (same time text, "wav") when the
    // sound switch is on. Returns the video path; empty when the writer cannot
    // open its file, and then nothing runs. A sound recorder that fails is
    // reported; the video records regardless.
    QString beginTimedVideo();
    // A video into `path` chosen by a page, without sound. False when the
    // writer cannot open it (or OpenCV refuses it); nothing runs then.
    bool beginVideo(const QString &path);
    // The sound alone into a file named after the current time. Returns its
    // path; empty when the recorder does not start.
    QString beginSound();

    // Ends what runs: the sound first, then the video. True when the
    // recording's own file (the video, or the sound when it ran alone) was
    // written completely; every failure is reported through problem(). A
    // video cut short is kept as "<name>_未完成.avi" when it plays, else
    // removed; path() then names what is left.
    bool end();
    // Ends what runs without reporting anything (shutting down).
    void endQuietly();

    bool isRecording() const { return videoOn || soundAlone; }
    bool isRecordingVideo() const { return videoOn; }
    // Frames written since the video started.
    int recordedFrames() const { return frameCount - 1; }
    // The file of the running (or last) recording: the video, or the sound
    // when it ran alone.
    QString path() const { return mainPath; }

signals:
    // A recording failed in a way the user should hear of; the text is the
    // station's own warning.
    void problem(QString text);

public slots:
    // One timer tick: writes the frames due since the start.
    void onWriterTimer();

private:
    // "%1/%2.%3": the working directory, the time stamp of `when`, `extension`.
    static QString pathAt(const QDateTime &when, const QString &extension);
    bool openWriter(const QString &path);
    // On the write queue's thread.
    void writeFrame(const cv::Mat &frame);
    bool finish(bool reportProblems);
    void finishVideo();
    void releaseWriter();
    void setAsideIncomplete(bool reportProblems);
    void report(const QString &text);

    ImageProcessing &capture;
    SoundRecorder sound;
    QTimer writerTimer;

    bool videoOn = false;
    // The writer threw while writing or finishing: the file is incomplete.
    // Set on the write queue's thread, read on the window's.
    std::atomic<bool> writeFailed{false};
    bool soundAlone = false;
    int frameCount = 1;
    qint64 startedMs = 0;
    QSize writerSize;
    QString mainPath;
    // Last member: drained before the writer it feeds goes away.
    FrameWriteQueue writeQueue{[this](const cv::Mat &frame) { writeFrame(frame); }};
};
