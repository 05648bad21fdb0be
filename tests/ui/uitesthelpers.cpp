#include "uitesthelpers.h"

#include "imageprocessing.h"
#include "testenv.h"

#include <QFile>
#include <QTextStream>

#include <opencv2/imgproc.hpp>

namespace uitest {

cv::Mat testFrame(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3, cv::Scalar(40, 160, 40));
    cv::rectangle(frame, cv::Rect(width / 4, height / 4, width / 2, height / 2),
                  cv::Scalar(230, 230, 230), cv::FILLED);
    return frame;
}

QImage toImage(const cv::Mat &frame)
{
    const QImage wrapped(frame.data, frame.cols, frame.rows, int(frame.step), QImage::Format_RGB888);
    return wrapped.rgbSwapped();
}

void installRecorderStandIn(QTemporaryDir &dir, const QString &argsFile)
{
    const QString script = dir.path() + QStringLiteral("/arecord");
    QFile file(script);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\nexec sleep 60\n")
                   .arg(argsFile)
                   .toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    if (!path.startsWith(dir.path().toLocal8Bit() + ':'))
        qputenv("PATH", dir.path().toLocal8Bit() + ':' + path);
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

FrameFlood::FrameFlood(ImageProcessing *capture, const QImage &frame)
    : emitter([this, capture, frame] {
          while (keepEmitting) {
              emit capture->sendFarmeSignal(frame);
              ++delivered;
          }
          finished = true;
      })
{
}

FrameFlood::~FrameFlood()
{
    keepEmitting = false;
    if (emitter.joinable())
        emitter.join();
}

bool FrameFlood::waitUntilFlowing(int timeoutMs)
{
    return testenv::waitFor([this] { return delivered > 3; }, timeoutMs);
}

bool FrameFlood::stop(int timeoutMs)
{
    keepEmitting = false;
    return testenv::waitFor([this] { return finished.load(); }, timeoutMs);
}

} // namespace uitest
