#include "uitesthelpers.h"

#include "imageprocessing.h"
#include "recording.h"
#include "testenv.h"

#include <QFile>
#include <QTextStream>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

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

namespace {

void installRecorderScript(QTemporaryDir &dir, const QString &body)
{
    const QString script = dir.path() + QStringLiteral("/arecord");
    QFile file(script);
    file.open(QIODevice::WriteOnly);
    file.write(body.toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    if (!path.startsWith(dir.path().toLocal8Bit() + ':'))
        qputenv("PATH", dir.path().toLocal8Bit() + ':' + path);
}

} // namespace

// Like the real recorder: the WAV header carries placeholder sizes while
// sound is appended, and SIGINT or SIGTERM makes it write the true sizes and
// exit. A recorder that is killed leaves the placeholders.
void installRecorderStandIn(QTemporaryDir &dir, const QString &argsFile)
{
    installRecorderScript(dir, QStringLiteral(R"SH(#!/bin/sh
printf '%s\n' "$@" > '%1'
for out; do :; done
le32() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $((($1 >> 8) & 255)) \
    $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"
}
finish() {
  size=$(stat -c %s "$out")
  le32 $((size - 8)) | dd of="$out" bs=1 seek=4 conv=notrunc 2>/dev/null
  le32 $((size - 44)) | dd of="$out" bs=1 seek=40 conv=notrunc 2>/dev/null
  exit 0
}
trap finish INT TERM
{ printf 'RIFF'; le32 2147483647; printf 'WAVEfmt '; le32 16; printf '\001\000\001\000'
  le32 16000; le32 32000; printf '\002\000\020\000data'; le32 2147483647; } > "$out"
while :; do head -c 3200 /dev/zero >> "$out"; sleep 0.1 & wait $!; done
)SH").arg(argsFile));
}

void installFailingRecorder(QTemporaryDir &dir)
{
    installRecorderScript(dir, QStringLiteral("#!/bin/sh\necho 'no such sound device' >&2\nexit 1\n"));
}

WavSizes wavSizes(const QString &path)
{
    QFile file(path);
    WavSizes sizes;
    if (!file.open(QIODevice::ReadOnly))
        return sizes;
    const QByteArray header = file.read(44);
    sizes.fileSize = file.size();
    if (header.size() < 44 || !header.startsWith("RIFF"))
        return sizes;
    const auto le32 = [&](int at) {
        return qint64(quint8(header[at])) | qint64(quint8(header[at + 1])) << 8
               | qint64(quint8(header[at + 2])) << 16 | qint64(quint8(header[at + 3])) << 24;
    };
    sizes.riffSize = le32(4);
    sizes.dataSize = le32(40);
    return sizes;
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

bool waitUntilFinished(const Recording &recorder)
{
    return testenv::waitFor([&] { return !recorder.isFinishingVideo(); }, 20000);
}

AviInfo readAvi(const QString &path)
{
    AviInfo info;
    cv::VideoCapture reader(QFile::encodeName(path).toStdString(), cv::CAP_ANY);
    info.opened = reader.isOpened();
    if (!info.opened)
        return info;
    info.frames = reader.get(cv::CAP_PROP_FRAME_COUNT);
    info.fps = reader.get(cv::CAP_PROP_FPS);
    info.size = cv::Size(int(reader.get(cv::CAP_PROP_FRAME_WIDTH)),
                         int(reader.get(cv::CAP_PROP_FRAME_HEIGHT)));
    return info;
}

} // namespace uitest
