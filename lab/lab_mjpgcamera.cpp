// An MJPG camera on a real kernel: v4l2loopback (built from Debian's source
// for the lab's kernel) fed by lab_mjpgproducer with numbered JPEG frames of
// the document scene, read by the station through OpenCV's V4L2 back end.
// Runs inside the lab only.
#include "barcodereader.h"
#include "cache.h"
#include "cameraenumeration.h"
#include "config.h"
#include "guestkernel.h"
#include "imageprocessing.h"
#include "mjpgscene.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <vector>

namespace {

const QString kNode = QStringLiteral("/dev/video0");
const QString kCardLabel = QStringLiteral("Lab MJPG camera");

QString loopbackModulePath()
{
    const QString modules = qEnvironmentVariable("LAB_MODULES") + QStringLiteral("/lib/modules/");
    for (const QFileInfo &version : QDir(modules).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString module = version.filePath() + QStringLiteral("/extra/v4l2loopback.ko");
        if (QFileInfo::exists(module))
            return module;
    }
    return QString();
}

QString ctl(const QStringList &arguments)
{
    return guestkernel::run(QStringLiteral("v4l2-ctl"), QStringList{QStringLiteral("-d"), kNode} + arguments);
}

// Peak and present resident memory of this process, in KiB.
long statusKib(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("^%1:\\s*(\\d+) kB").arg(QLatin1String(field)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(status.readAll())).captured(1).toLong();
}

// The station's log lines that say a frame was dropped.
struct DropLog
{
    static QMutex mutex;
    static QStringList lines;
    static QtMessageHandler previous;
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (text.contains(QStringLiteral("camera frame dropped"))) {
            QMutexLocker lock(&mutex);
            lines.append(text);
        }
        previous(type, context, text);
    }
    static int count()
    {
        QMutexLocker lock(&mutex);
        return lines.size();
    }
};
QMutex DropLog::mutex;
QStringList DropLog::lines;
QtMessageHandler DropLog::previous = nullptr;

// The numbers of the frames the station published, in order, and its last picture.
struct NumberedFrames
{
    cv::Size full;
    QMutex mutex;
    std::vector<long long> numbers;
    QImage last;
    std::atomic<int> closes{0};

    void attach(ImageProcessing &capture)
    {
        QObject::connect(&capture, &ImageProcessing::sendFarmeSignal, &capture,
                         [this](const QImage &image) {
                             const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
                             const cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3,
                                                   const_cast<uchar *>(rgb.constBits()),
                                                   size_t(rgb.bytesPerLine()));
                             const long long number = labmjpg::numberIn(wrapped, full);
                             QMutexLocker lock(&mutex);
                             numbers.push_back(number);
                             last = image;
                         }, Qt::DirectConnection);
        QObject::connect(&capture, &ImageProcessing::closeCameraSignal, &capture,
                         [this] { ++closes; }, Qt::DirectConnection);
    }
    int count()
    {
        QMutexLocker lock(&mutex);
        return int(numbers.size());
    }
    long long newest()
    {
        QMutexLocker lock(&mutex);
        return numbers.empty() ? -1 : numbers.back();
    }
    QImage lastPicture()
    {
        QMutexLocker lock(&mutex);
        return last;
    }
    bool waitForFrames(int count, int timeoutMs)
    {
        const int target = this->count() + count;
        return testenv::waitFor([&] { return this->count() >= target; }, timeoutMs);
    }
    // Every published frame carries a number, each a later one than the last.
    bool strictlyIncreasing()
    {
        QMutexLocker lock(&mutex);
        for (size_t i = 0; i < numbers.size(); ++i) {
            if (numbers[i] < 0 || (i > 0 && numbers[i] <= numbers[i - 1]))
                return false;
        }
        return true;
    }
};

class LoopbackCamera : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!guestkernel::inGuest())
            GTEST_SKIP() << "runs inside the hardware lab only";
        if (loopbackModulePath().isEmpty())
            GTEST_SKIP() << "v4l2loopback could not be built here (lab/fetch-loopback.sh)";
        testenv::resetConfig(documents);
        Cache::config->fourcc = 0;   // the factory setting, MJPG
        Cache::config->codec = QStringLiteral("png");   // photos keep the frame's pixels
        Cache::cameras->clear();
        loadModule();
    }
    void TearDown() override
    {
        stopStation();
        stopProducer();
        Cache::cameras->clear();
        if (guestkernel::inGuest() && !loopbackModulePath().isEmpty()) {
            EXPECT_TRUE(guestkernel::unload(QStringLiteral("v4l2loopback"))) << "the camera is still held open";
        }
    }
    void loadModule()
    {
        ASSERT_TRUE(guestkernel::load(QStringLiteral("v4l2loopback"),
                                      {QStringLiteral("video_nr=0"), QStringLiteral("exclusive_caps=1"),
                                       QStringLiteral("card_label=") + kCardLabel}));
        ASSERT_TRUE(guestkernel::waitForPath(kNode, 10000));
        QFile name(QStringLiteral("/sys/class/video4linux/video0/name"));
        ASSERT_TRUE(name.open(QIODevice::ReadOnly));
        ASSERT_EQ(QString::fromUtf8(name.readAll()).trimmed(), kCardLabel) << "video0 is another driver's";
    }
    // The producer writes its first frame before the node counts as a camera.
    void startProducer(cv::Size size, int fps)
    {
        frames.full = size;
        producer = std::make_unique<QProcess>();
        producer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        producer->start(qEnvironmentVariable("LAB_BUILD") + QStringLiteral("/lab/lab_mjpgproducer"),
                        {kNode, QStringLiteral("%1x%2").arg(size.width).arg(size.height), QString::number(fps)});
        ASSERT_TRUE(producer->waitForStarted(30000));
        ASSERT_TRUE(testenv::waitFor([&] {
            producer->waitForReadyRead(10);
            return producer->canReadLine() || producer->state() != QProcess::Running;
        }, 60000)) << "the producer wrote no frame";
        ASSERT_EQ(producer->state(), QProcess::Running);
    }
    void stopProducer()
    {
        if (!producer)
            return;
        producer->terminate();
        producer->waitForFinished(30000);
        producer.reset();
    }
    void startStation(cv::Size size)
    {
        *Cache::cameras = enumerateCameras(V4l2Api::system());
        ASSERT_EQ(Cache::cameras->size(), 1);
        EXPECT_EQ(Cache::cameras->at(0).name, kCardLabel);
        EXPECT_EQ(Cache::cameras->at(0).resolutions, QList<QSize>{QSize(size.width, size.height)});
        capture = std::make_unique<ImageProcessing>();
        frames.attach(*capture);
        capture->setPreviewSize(QSize(954, 595));   // the desktop window's preview
        capture->begin();
        capture->cameraListIndex = 0;
        capture->setCameraResolution(QSize(size.width, size.height));
        ASSERT_TRUE(frames.waitForFrames(3, 120000)) << "no frames from " << kNode.toStdString();
    }
    void stopStation()
    {
        if (!capture)
            return;
        capture->end();
        capture->wait();
        capture.reset();   // lets go of the node, so the module can go
    }
    // The format the capture side of the node has now.
    void expectNegotiated(cv::Size size)
    {
        const QString format = ctl({QStringLiteral("--get-fmt-video")});
        EXPECT_TRUE(format.contains(QRegularExpression(
            QStringLiteral("Width/Height\\s*:\\s*%1/%2").arg(size.width).arg(size.height))))
            << format.toStdString();
        EXPECT_TRUE(format.contains(QStringLiteral("'MJPG'"))) << format.toStdString();
    }

    QTemporaryDir documents;
    std::unique_ptr<QProcess> producer;
    std::unique_ptr<ImageProcessing> capture;
    NumberedFrames frames;
};

TEST_F(LoopbackCamera, FullHdStreamPhotoBarcodeAndHostileFrames)
{
    const cv::Size size(1920, 1080);
    startProducer(size, 30);
    startStation(size);
    expectNegotiated(size);

    // The live picture is decoded reduced, frames come in the producer's order.
    ASSERT_TRUE(frames.waitForFrames(5, 60000));
    EXPECT_LT(frames.lastPicture().width(), size.width);
    EXPECT_TRUE(frames.strictlyIncreasing()) << "a frame was shown twice, out of order or unreadable";

    // A photo holds exactly the producer's frame, decoded in full.
    QList<QString> written;
    QObject::connect(capture.get(), qOverload<QList<QString>, int>(&ImageProcessing::sendTakePhotoImageSignal),
                     capture.get(), [&](QList<QString> paths, int) { written = paths; }, Qt::DirectConnection);
    ASSERT_TRUE(capture->setTakePhotoCammond(QImage(), QImage(), false, false));
    ASSERT_TRUE(testenv::waitFor([&] { return !written.isEmpty(); }, 60000));
    ASSERT_EQ(written.size(), 1);
    const cv::Mat photo = cv::imread(written.first().toStdString(), cv::IMREAD_COLOR);
    ASSERT_EQ(photo.size(), size) << written.first().toStdString();
    const long long number = labmjpg::numberIn(photo, size);
    ASSERT_GE(number, 0);
    const cv::Mat sent = cv::imdecode(labmjpg::goodFrame(size, number), cv::IMREAD_COLOR);
    EXPECT_EQ(cv::norm(photo, sent, cv::NORM_INF), 0.0) << "frame " << number;

    // Barcode mode reads the code on the sheet from the live picture.
    capture->setErweima(1);
    ASSERT_TRUE(frames.waitForFrames(2, 60000));
    ASSERT_TRUE(testenv::waitFor([&] { return frames.lastPicture().width() == size.width; }, 60000));
    EXPECT_EQ(BarcodeReader::decode(frames.lastPicture()), QString::fromLatin1(labmjpg::kCodeText));
    capture->setErweima(0);

    // Hostile frames: each dropped with a log line, no memory spent on them,
    // and the next good frame shown.
    DropLog::previous = qInstallMessageHandler(DropLog::handler);
    guestkernel::writeFile(QStringLiteral("/proc/self/clear_refs"), "5");   // peak := now
    const long residentBefore = statusKib("VmRSS");
    const long long before = frames.newest();
    ASSERT_EQ(::kill(pid_t(producer->processId()), SIGUSR1), 0);
    const bool allDropped = testenv::waitFor([] { return DropLog::count() >= 3; }, 120000);
    const bool cameBack = testenv::waitFor([&] { return frames.newest() > before + 3; }, 120000);
    qInstallMessageHandler(DropLog::previous);
    EXPECT_TRUE(allDropped) << DropLog::lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(cameBack) << "no good frame after the hostile ones";
    EXPECT_LT(statusKib("VmHWM") - residentBefore, 40 * 1024) << "a hostile frame was decoded";
    EXPECT_TRUE(frames.strictlyIncreasing());
    EXPECT_TRUE(capture->isRunning());
}

TEST_F(LoopbackCamera, EightMegapixelsAtFifteen)
{
    const cv::Size size(3264, 2448);
    startProducer(size, 15);
    startStation(size);
    expectNegotiated(size);
    ASSERT_TRUE(frames.waitForFrames(3, 120000));
    EXPECT_TRUE(frames.strictlyIncreasing());
    EXPECT_LT(frames.lastPicture().width(), size.width);
}

TEST_F(LoopbackCamera, ProducerGoneModuleReloadedPictureReturns)
{
    const cv::Size size(1920, 1080);
    startProducer(size, 30);
    startStation(size);

    stopProducer();
    const int closesBefore = frames.closes;
    ASSERT_TRUE(testenv::waitFor([&] { return frames.closes > closesBefore; }, 60000))
        << "the capture thread did not notice the frames stopping";
    ASSERT_TRUE(testenv::waitFor([] { return guestkernel::unload(QStringLiteral("v4l2loopback")); }, 60000))
        << "the station still holds the node open";
    const int framesWhileGone = frames.count();
    QThread::msleep(6000);   // at least one reopen attempt against a missing node
    EXPECT_EQ(frames.count(), framesWhileGone);

    loadModule();
    startProducer(size, 30);
    EXPECT_TRUE(frames.waitForFrames(3, 120000)) << "no frames after the camera came back";
    expectNegotiated(size);
}

} // namespace
