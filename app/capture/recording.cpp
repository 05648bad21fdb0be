#include "recording.h"

#include "cache.h"
#include "clock.h"
#include "config.h"
#include "fullsizeframe.h"
#include "imageprocessing.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace {

const char kTimeStampFormat[] = "yyyy_MM_dd_HH_mm_ss.zzz";

} // namespace

Recording::Recording(ImageProcessing &capture, QObject *parent)
    : QObject(parent), capture(capture)
{
    writerTimer.setTimerType(Qt::PreciseTimer);
    connect(&writerTimer, &QTimer::timeout, this, &Recording::onWriterTimer);
}

Recording::~Recording()
{
    endQuietly();
}

QString Recording::pathAt(const QDateTime &when, const QString &extension)
{
    return QStringLiteral("%1/%2.%3")
        .arg(Cache::config->documentsLocation, when.toString(QLatin1String(kTimeStampFormat)),
             extension);
}

// ---------------------------------------------------------------- begin

QString Recording::beginTimedVideo()
{
    finish(false);
    const QDateTime startedAt = Clock::current().now();
    const QString videoPath = pathAt(startedAt, QStringLiteral("avi"));
    // A working directory removed while the station runs is made again.
    QDir().mkpath(QFileInfo(videoPath).absolutePath());
    if (!openWriter(videoPath)) {
        report(QStringLiteral("录像文件无法创建：%1").arg(videoPath));
        return QString();
    }
    mainPath = videoPath;
    if (Cache::config->gnRecord && !sound.start(pathAt(startedAt, QStringLiteral("wav"))))
        report(sound.errorText());
    return videoPath;
}

bool Recording::beginVideo(const QString &path)
{
    finish(false);
    if (!openWriter(path)) {
        report(QStringLiteral("录像文件无法创建：%1").arg(path));
        return false;
    }
    mainPath = path;
    return true;
}

QString Recording::beginSound()
{
    finish(false);
    const QString soundPath = pathAt(Clock::current().now(), QStringLiteral("wav"));
    QDir().mkpath(QFileInfo(soundPath).absolutePath());
    if (!sound.start(soundPath)) {
        report(sound.errorText());
        return QString();
    }
    soundAlone = true;
    mainPath = soundPath;
    return soundPath;
}

// The writer takes the size of the frame at hand; without a frame, or when
// OpenCV refuses the file, nothing is left running and the slot is empty.
bool Recording::openWriter(const QString &path)
{
    // A page may record again into the file still being finished: the old
    // writer must be done with it (and have set it aside) before it is
    // opened anew.
    if (finishingPaths.contains(path))
        writeQueue.drain();
    // The size alone: decoding a full frame here would stall the window.
    const std::shared_ptr<FullSizeFrame> frame = capture.currentFullSizeFrame();
    video = VideoFile::open(path, frame ? frame->size() : cv::Size(), writerFps);
    if (!video)
        return false;
    capture.videoWriter = video->writer();
    frameCount = 1;
    startedMs = Clock::current().elapsedMs();
    writerTimer.start(writerIntervalMs);
    return true;
}

// ---------------------------------------------------------------- frames

void Recording::onWriterTimer()
{
    if (!video || video->hasFailed())
        return;
    std::shared_ptr<FullSizeFrame> frame = capture.currentFullSizeFrame();
    if (!frame)
        return;
    const qint64 due = (Clock::current().elapsedMs() - startedMs) / writerIntervalMs;
    const int copies = int(due - (frameCount - 1));
    if (copies < 1)
        return;
    std::shared_ptr<VideoFile> file = video;
    writeQueue.add(std::move(frame), copies, [file](const cv::Mat &picture) { file->write(picture); });
    frameCount += copies;
}

// ---------------------------------------------------------------- end

void Recording::end()
{
    finish(true);
}

void Recording::endQuietly()
{
    finish(false);
    writeQueue.drain();
}

void Recording::finish(bool reportProblems)
{
    const bool hadSoundAlone = soundAlone;
    soundAlone = false;
    // A sound recorder that ended on its own beside a video is not missed:
    // the video is what the user asked for.
    if (hadSoundAlone || sound.isRunning()) {
        const bool soundSaved = sound.stop();
        if (!soundSaved && reportProblems)
            report(sound.errorText());
        if (hadSoundAlone)
            emit finished(mainPath, soundSaved);
    }
    if (video)
        finishVideo(reportProblems);
}

// The frames due up to this moment and the file's ending are written on the
// write thread; the window goes on at once and hears of the file later.
void Recording::finishVideo(bool reportProblems)
{
    onWriterTimer();
    writerTimer.stop();
    capture.videoWriter = nullptr;
    const QString begunPath = mainPath;
    finishingPaths.append(begunPath);
    const std::shared_ptr<VideoFile> file = std::move(video);
    video.reset();
    const int frames = frameCount;
    writeQueue.then([this, file, frames, begunPath, reportProblems] {
        const VideoFile::Outcome outcome = file->finish(frames);
        // Dropped with this object when it is gone meanwhile.
        QMetaObject::invokeMethod(
            this, [this, begunPath, outcome, reportProblems] { announceVideo(begunPath, outcome, reportProblems); },
            Qt::QueuedConnection);
    });
}

void Recording::announceVideo(const QString &begunPath, const VideoFile::Outcome &outcome,
                              bool reportProblems)
{
    finishingPaths.removeOne(begunPath);
    if (mainPath == begunPath)
        mainPath = outcome.path;
    if (!outcome.problem.isEmpty()) {
        if (reportProblems)
            report(outcome.problem);
        else
            qDebug() << "recording:" << outcome.problem;
    }
    emit finished(begunPath, outcome.saved);
}

void Recording::report(const QString &text)
{
    qDebug() << "recording:" << text;
    emit problem(text);
}
