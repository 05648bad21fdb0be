#pragma once

#include <QSize>
#include <QString>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <atomic>
#include <memory>

// One MJPG video being written: its writer, the size it was opened with and
// whether a write failed. It is opened on the window's thread and written and
// finished on the recorder's write thread, so a recording that is still
// being finished owns its writer while the next one already runs.
class VideoFile
{
public:
    // What a finished video left: `path` names what is on disk (the file
    // set aside as incomplete, or the removed one); `problem` is the
    // station's warning when it was not saved.
    struct Outcome
    {
        QString path;
        bool saved = false;
        QString problem;
    };

    // Null when OpenCV cannot open `path` at `size` (or refuses it).
    static std::shared_ptr<VideoFile> open(const QString &path, const cv::Size &size, double fps);

    // The capture thread's `videoWriter` slot shows this while it records.
    cv::VideoWriter *writer() { return &videoWriter; }

    // A write failed: the file is cut short, further frames are not worth decoding.
    bool hasFailed() const { return writeFailed; }
    // On the write thread: one frame, fitted to the size the file was opened with.
    void write(const cv::Mat &frame);
    // On the write thread, after the last write: the frame count goes into
    // the header, the file is closed and checked, and a file cut short is set
    // aside (or removed when it does not play).
    Outcome finish(int frameCount);

private:
    VideoFile(const QString &path, const cv::Size &size) : path(path), size(size) {}
    void release();
    Outcome setAsideIncomplete();

    const QString path;
    const cv::Size size;
    cv::VideoWriter videoWriter;
    // The writer threw while writing or finishing: the file is incomplete.
    std::atomic<bool> writeFailed{false};
};
