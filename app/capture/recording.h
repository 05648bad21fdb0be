#pragma once

#include <functional>
#include <memory>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <opencv2/core.hpp>

#include "framewritequeue.h"
#include "soundrecorder.h"
#include "videofile.h"

class ImageProcessing;

// The one recorder of the station. It writes a capture thread's current frame
// into an MJPG video at the declared rate and runs "arecord" for the sound,
// beside a video or on its own, with one set of rules for starting, stopping
// and failing. The desktop preview (and through it the main window's sound
// recording) and the service window all record through it. Every begin
// finishes a recording still running first, so its file is complete.
//
// The writer sits in the capture thread's `videoWriter` slot while it
// records and is fed on this object's timer. One frame is written per
// elapsed period of the declared rate (a late tick repeats the current
// picture), so frames / rate is the time recorded. The station clock names
// the files and paces the frames. Frames are decoded and written on a thread
// of their own, and a stopped video is finished there too: the window never
// waits for a full-size frame to be encoded. finished() says when a file is
// complete; callers act on it, not on the return of end().
class Recording : public QObject
{
    Q_OBJECT
public:
    explicit Recording(ImageProcessing &capture, QObject *parent = nullptr);
    // Waits for every video still being finished, without announcing it.
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

    // Ends what runs: the sound first, then the video, and returns at once.
    // finished() announces the recording's own file (the video, or the sound
    // when it ran alone): the sound alone before end() returns, a video once
    // its last frames are written and its file is closed and checked. Every
    // failure is reported through problem() then. A video cut short is kept
    // as "<name>_未完成.avi" when it plays, else removed; path() then names
    // what is left.
    void end();
    // Ends what runs without reporting anything and waits until every video
    // is finished on disk (shutting down); the announcements come later, if
    // the event loop still runs.
    void endQuietly();

    // Recording, or a stopped video still being finished.
    bool isRecording() const { return bool(video) || soundAlone || !finishingPaths.isEmpty(); }
    bool isRecordingVideo() const { return bool(video); }
    // A stopped video whose file is not yet announced.
    bool isFinishingVideo() const { return !finishingPaths.isEmpty(); }
    // Frames written since the video started.
    int recordedFrames() const { return frameCount - 1; }
    // The file of the running (or last) recording: the video, or the sound
    // when it ran alone.
    QString path() const { return mainPath; }

    // Runs `task` on the write thread after every frame queued so far; tests
    // hold the writer on it to see a slow write.
    void onWriteThread(std::function<void()> task) { writeQueue.then(std::move(task)); }

signals:
    // A recording failed in a way the user should hear of; the text is the
    // station's own warning.
    void problem(QString text);
    // The recording begun as `path` is over: `saved` when its file is
    // complete. Once per recording, on this object's thread.
    void finished(QString path, bool saved);

public slots:
    // One timer tick: writes the frames due since the start.
    void onWriterTimer();

private:
    // "%1/%2.%3": the working directory, the time stamp of `when`, `extension`.
    static QString pathAt(const QDateTime &when, const QString &extension);
    bool openWriter(const QString &path);
    void finish(bool reportProblems);
    void finishVideo(bool reportProblems);
    void announceVideo(const QString &begunPath, const VideoFile::Outcome &outcome,
                       bool reportProblems);
    void report(const QString &text);

    ImageProcessing &capture;
    SoundRecorder sound;
    QTimer writerTimer;

    // The video being recorded; a stopped one belongs to its finishing task.
    std::shared_ptr<VideoFile> video;
    // Stopped videos whose files are not yet announced, by the path begun.
    QStringList finishingPaths;
    bool soundAlone = false;
    int frameCount = 1;
    qint64 startedMs = 0;
    QString mainPath;
    // Last member: drained before the files it feeds go away.
    FrameWriteQueue writeQueue;
};
