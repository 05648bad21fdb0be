#include "recording.h"

#include "cache.h"
#include "clock.h"
#include "config.h"
#include "fullsizeframe.h"
#include "imageprocessing.h"
#include "recordedvideo.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

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
    // The size alone: decoding a full frame here would stall the window.
    const std::shared_ptr<FullSizeFrame> frame = capture.currentFullSizeFrame();
    const cv::Size size = frame ? frame->size() : cv::Size();
    try {
        writerSize = QSize(size.width, size.height);
        capture.videoWriter = new cv::VideoWriter();
        if (!size.empty())
            capture.videoWriter->open(QFile::encodeName(path).toStdString(),
                                      cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), writerFps, size, true);
    } catch (const cv::Exception &e) {
        qDebug() << "e.msg" << e.msg.c_str();
        releaseWriter();
        return false;
    }
    if (!capture.videoWriter->isOpened()) {
        releaseWriter();
        return false;
    }
    videoOn = true;
    writeFailed = false;
    frameCount = 1;
    startedMs = Clock::current().elapsedMs();
    writerTimer.start(writerIntervalMs);
    return true;
}

// ---------------------------------------------------------------- frames

void Recording::onWriterTimer()
{
    if (!videoOn || writeFailed || !capture.videoWriter || !capture.videoWriter->isOpened())
        return;
    std::shared_ptr<FullSizeFrame> frame = capture.currentFullSizeFrame();
    if (!frame)
        return;
    const qint64 due = (Clock::current().elapsedMs() - startedMs) / writerIntervalMs;
    const int copies = int(due - (frameCount - 1));
    if (copies < 1)
        return;
    writeQueue.add(std::move(frame), copies);
    frameCount += copies;
}

void Recording::writeFrame(const cv::Mat &frame)
{
    if (writeFailed)
        return;   // the file is cut short anyway; the end reports it
    cv::Mat bgr;
    if (frame.channels() == 1)
        cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
    else if (frame.channels() == 4)
        cv::cvtColor(frame, bgr, cv::COLOR_BGRA2BGR);
    else
        bgr = frame;
    // The writer keeps the size it was opened with, also across a camera switch.
    if (bgr.cols != writerSize.width() || bgr.rows != writerSize.height())
        cv::resize(bgr, bgr, cv::Size(writerSize.width(), writerSize.height()));
    try {
        capture.videoWriter->write(bgr);
    } catch (const cv::Exception &e) {
        qDebug() << "video frame not written:" << e.msg.c_str();
        writeFailed = true;
    }
}

// ---------------------------------------------------------------- end

bool Recording::end()
{
    return finish(true);
}

void Recording::endQuietly()
{
    finish(false);
}

bool Recording::finish(bool reportProblems)
{
    const bool hadVideo = videoOn;
    const bool hadSoundAlone = soundAlone;
    if (!hadVideo && !hadSoundAlone)
        return false;
    soundAlone = false;
    bool saved = true;
    // A sound recorder that ended on its own beside a video is not missed:
    // the video is what the user asked for.
    if (hadSoundAlone || sound.isRunning()) {
        const bool soundSaved = sound.stop();
        if (!soundSaved && reportProblems)
            report(sound.errorText());
        if (hadSoundAlone)
            saved = soundSaved;
    }
    if (hadVideo) {
        finishVideo();
        // A file that merely has bytes is no recording: one cut short by a
        // full disk holds the first seconds and no ending.
        saved = !writeFailed && recordedvideo::complete(mainPath);
        if (!saved)
            setAsideIncomplete(reportProblems);
    }
    return saved;
}

// What was recorded is kept under a name that says it is incomplete, so
// nobody takes it for the whole recording; a file that cannot be played
// back is of no use and goes.
void Recording::setAsideIncomplete(bool reportProblems)
{
    const QString recorded = mainPath;
    QString text;
    if (recordedvideo::playable(recorded)) {
        const QFileInfo info(recorded);
        const QString aside = QStringLiteral("%1/%2_未完成.%3")
                                  .arg(info.absolutePath(), info.completeBaseName(), info.suffix());
        if (QFile::rename(recorded, aside))   // never over an existing file
            mainPath = aside;
        text = QStringLiteral("录像未能完整保存（存储空间不足或无法写入）。已录下的部分保存为：%1")
                   .arg(mainPath);
    } else {
        QFile::remove(recorded);
        text = QStringLiteral("录像文件未能保存（存储空间不足或无法写入）：%1").arg(recorded);
    }
    if (reportProblems)
        report(text);
    else
        qDebug() << "recording:" << text;
}

void Recording::finishVideo()
{
    onWriterTimer();   // the frames due up to this moment
    writeQueue.drain();
    if (capture.videoWriter && capture.videoWriter->isOpened())
        capture.videoWriter->set(cv::CAP_PROP_FRAME_COUNT, frameCount);
    videoOn = false;
    writerTimer.stop();
    releaseWriter();
}

void Recording::releaseWriter()
{
    if (!capture.videoWriter)
        return;
    try {
        // The writer's last bytes and its index go to disk here.
        capture.videoWriter->release();
    } catch (const cv::Exception &e) {
        qDebug() << "video not finished:" << e.msg.c_str();
        writeFailed = true;
    }
    delete capture.videoWriter;
    capture.videoWriter = nullptr;
}

void Recording::report(const QString &text)
{
    qDebug() << "recording:" << text;
    emit problem(text);
}
