#include "videofile.h"

#include "recordedvideo.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>

std::shared_ptr<VideoFile> VideoFile::open(const QString &path, const cv::Size &size, double fps)
{
    if (size.empty())
        return nullptr;
    std::shared_ptr<VideoFile> video(new VideoFile(path, size));
    try {
        video->videoWriter.open(QFile::encodeName(path).toStdString(),
                                cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size, true);
    } catch (const cv::Exception &e) {
        qDebug() << "e.msg" << e.msg.c_str();
        return nullptr;
    }
    if (!video->videoWriter.isOpened())
        return nullptr;
    return video;
}

void VideoFile::write(const cv::Mat &frame)
{
    if (writeFailed)
        return;   // the file is cut short anyway; the finish reports it
    cv::Mat bgr;
    if (frame.channels() == 1)
        cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
    else if (frame.channels() == 4)
        cv::cvtColor(frame, bgr, cv::COLOR_BGRA2BGR);
    else
        bgr = frame;
    // The writer keeps the size it was opened with, also across a camera switch.
    if (bgr.size() != size)
        cv::resize(bgr, bgr, size);
    try {
        videoWriter.write(bgr);
    } catch (const cv::Exception &e) {
        qDebug() << "video frame not written:" << e.msg.c_str();
        writeFailed = true;
    }
}

VideoFile::Outcome VideoFile::finish(int frameCount)
{
    if (videoWriter.isOpened())
        videoWriter.set(cv::CAP_PROP_FRAME_COUNT, frameCount);
    release();
    // A file that merely has bytes is no recording: one cut short by a
    // full disk holds the first seconds and no ending.
    if (!writeFailed && recordedvideo::complete(path))
        return Outcome{path, true, QString()};
    return setAsideIncomplete();
}

void VideoFile::release()
{
    try {
        // The writer's last bytes and its index go to disk here.
        videoWriter.release();
    } catch (const cv::Exception &e) {
        qDebug() << "video not finished:" << e.msg.c_str();
        writeFailed = true;
    }
}

// What was recorded is kept under a name that says it is incomplete, so
// nobody takes it for the whole recording; a file that cannot be played
// back is of no use and goes.
VideoFile::Outcome VideoFile::setAsideIncomplete()
{
    if (!recordedvideo::playable(path)) {
        QFile::remove(path);
        return Outcome{path, false,
                       QStringLiteral("录像文件未能保存（存储空间不足或无法写入）：%1").arg(path)};
    }
    const QFileInfo info(path);
    const QString aside = QStringLiteral("%1/%2_未完成.%3")
                              .arg(info.absolutePath(), info.completeBaseName(), info.suffix());
    // Never over an existing file.
    const QString kept = QFile::rename(path, aside) ? aside : path;
    return Outcome{kept, false,
                   QStringLiteral("录像未能完整保存（存储空间不足或无法写入）。已录下的部分保存为：%1")
                       .arg(kept)};
}
