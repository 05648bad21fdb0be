#include "videorecorder.h"

#include "clock.h"
#include "imageprocessing.h"

#include <QDebug>
#include <QFile>
#include <QMutexLocker>
#include <QTimer>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

VideoRecorder::VideoRecorder(ImageProcessing &capture, QTimer &timer, QMutex &frameMutex)
    : capture(capture), timer(timer), frameMutex(frameMutex)
{
    timer.setTimerType(Qt::PreciseTimer);
}

VideoRecorder::~VideoRecorder()
{
    end();
}

void VideoRecorder::releaseWriter()
{
    if (!capture.videoWriter)
        return;
    capture.videoWriter->release();
    delete capture.videoWriter;
    capture.videoWriter = nullptr;
}

bool VideoRecorder::begin(const QString &path)
{
    end();
    cv::Mat frame;
    {
        QMutexLocker lock(&frameMutex);
        frame = capture.currentFrame();
    }
    try {
        writerSize = QSize(frame.cols, frame.rows);
        capture.videoWriter = new cv::VideoWriter();
        if (!frame.empty())
            capture.videoWriter->open(QFile::encodeName(path).toStdString(),
                                      cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), writerFps,
                                      cv::Size(frame.cols, frame.rows), true);
    } catch (const cv::Exception &e) {
        qDebug() << "e.msg" << e.msg.c_str();
        releaseWriter();
        return false;
    }
    writerActive = true;
    frameCount = 1;
    startedMs = Clock::current().elapsedMs();
    timer.start(writerIntervalMs);
    recording = true;
    return capture.videoWriter->isOpened();
}

void VideoRecorder::writeFrame(const cv::Mat &frame)
{
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
    capture.videoWriter->write(bgr);
}

void VideoRecorder::tick()
{
    if (!writerActive || !capture.videoWriter || !capture.videoWriter->isOpened())
        return;
    cv::Mat frame;
    {
        QMutexLocker lock(&frameMutex);
        frame = capture.currentFrame();
    }
    if (frame.empty())
        return;
    const qint64 due = (Clock::current().elapsedMs() - startedMs) / writerIntervalMs;
    while (frameCount - 1 < due) {
        if (recording)
            writeFrame(frame);
        ++frameCount;
    }
}

void VideoRecorder::end()
{
    if (!writerActive && !recording)
        return;
    tick();
    if (capture.videoWriter && capture.videoWriter->isOpened())
        capture.videoWriter->set(cv::CAP_PROP_FRAME_COUNT, frameCount);
    recording = false;
    timer.stop();
    writerActive = false;
    releaseWriter();
}
