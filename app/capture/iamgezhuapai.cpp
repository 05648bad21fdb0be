#include "iamgezhuapai.h"

#include "bridgeable.h"
#include "cache.h"
#include "clock.h"
#include "config.h"
#include "imageprocessing.h"

#include <QDebug>

#include <opencv2/imgproc.hpp>

namespace {

constexpr int idleSleepMs = 2000;     // auto-capture off, or no frame yet
constexpr int passSleepMs = 200;      // between two tests of the scene
constexpr int settleMs = 1000;        // a reference or a change must be this old
constexpr int changeThreshold = 7;    // hash bits; a few bits are a shadow, not a page
constexpr int stopGraceMs = 1000;     // end() waits this long for the loop to leave

// A matrix of the picture's pixels: BGR for colour pictures, one channel for
// grey ones. Empty for a null picture. Colour pictures come back from the
// bridge as fresh pixels; grey and indexed ones would share the picture's, so
// they are copied.
cv::Mat hashableMat(const QImage &image)
{
    if (image.isNull())
        return cv::Mat();
    if (image.format() == QImage::Format_Grayscale8)
        return cv::Mat(image.height(), image.width(), CV_8UC1, const_cast<uchar *>(image.constBits()),
                       size_t(image.bytesPerLine()))
            .clone();
    const QImage bridged = bridgeable(image, QImage::Format_RGB32);
    const cv::Mat mat = ImageProcessing::QImageToMat(bridged);
    return bridged.format() == QImage::Format_Indexed8 ? mat.clone() : mat;
}

QDateTime nowUtc()
{
    return Clock::current().now().toUTC();
}

bool olderThan(const QDateTime &time, int ms)
{
    return time.isValid() && time < nowUtc().addMSecs(-ms);
}

} // namespace

IamgeZhuaPai::IamgeZhuaPai(QObject *parent) : QThread(parent) {}

IamgeZhuaPai::~IamgeZhuaPai()
{
    end();
    // The object must outlive its loop.
    wait();
}

bool IamgeZhuaPai::averageHash(const QImage &image, quint64 &hash)
{
    const cv::Mat mat = hashableMat(image);
    if (mat.empty())
        return false;
    cv::Mat small;
    cv::resize(mat, small, cv::Size(8, 8), 0, 0, cv::INTER_CUBIC);
    cv::Mat grey;
    if (small.channels() == 1)
        grey = small;
    else
        cv::cvtColor(small, grey, cv::COLOR_BGR2GRAY);

    int values[64];
    int sum = 0;
    for (int i = 0; i < 64; ++i) {
        values[i] = grey.at<uchar>(i / 8, i % 8) & 0xFC;
        sum += values[i];
    }
    const int mean = sum / 64;
    hash = 0;
    for (int i = 0; i < 64; ++i) {
        if (mean <= values[i])
            hash |= quint64(1) << i;
    }
    return true;
}

int IamgeZhuaPai::aHash()
{
    quint64 reference = 0;
    quint64 candidate = 0;
    if (!averageHash(referenceFrame, reference) || !averageHash(candidateFrame, candidate))
        return 0;
    return __builtin_popcountll(reference ^ candidate);
}

void IamgeZhuaPai::readFarme(QImage frame)
{
    if (frame.isNull() || !acceptingFrames)
        return;
    const QImage copy = frame.copy(frame.rect());
    MutexLocker lock(&zhuapaiMutex);
    currentFrame = copy;
}

void IamgeZhuaPai::begin()
{
    if (isRunning())
        return;
    stopper.start();
    qDebug() << "zhuapai is begin";
    start(QThread::InheritPriority);
}

void IamgeZhuaPai::end()
{
    acceptingFrames = false;
    stopper.stop();
    quit();
    // Its signal is queued, never blocking: a plain bounded wait suffices.
    wait(stopGraceMs);
}

void IamgeZhuaPai::run()
{
    bool wasOn = false;
    while (zhuapaiRunning) {
        const bool on = Cache::config->autoCaptureOn;
        if (on && !wasOn)
            pageGuard.forget();   // a new run: no page taken yet
        wasOn = on;
        if (on)
            runOnePass();
        else
            stopper.sleep(idleSleepMs);
    }
}

void IamgeZhuaPai::runOnePass()
{
    acceptingFrames = true;
    const QImage frame = takeCurrentFrame();
    if (frame.isNull()) {
        stopper.sleep(idleSleepMs);
        acceptingFrames = false;
        return;
    }
    const bool knowPages = Cache::config->knowPages;
    const bool handSeen = knowPages && pageGuard.handInPicture(frame);
    switch (zhuapaiState) {
    case TakeReference:
        referenceFrame = frame.copy();
        if (knowPages)
            pageGuard.takeReference();
        stateTime = nowUtc();
        zhuapaiState = Compare;
        break;
    case Compare:
        if (olderThan(stateTime, settleMs)) {
            candidateFrame = frame.copy();
            if (aHash() > changeThreshold || (knowPages && pageGuard.pageChanged())) {
                zhuapaiState = ChangeSeen;
                stateTime = nowUtc();
            }
        }
        break;
    case ChangeSeen:
        if (handSeen) {
            stateTime = nowUtc();   // the page must lie still, hand gone, for a second
            break;
        }
        if (olderThan(stateTime, settleMs)) {
            zhuapaiState = TakeReference;
            if (knowPages && !pageGuard.acceptPage()) {
                qDebug() << "zhuapai: page already taken, not shot again";
                emit refusedRepeatedPage();
                break;
            }
            emit sendTakePhoto();
        }
        break;
    default:
        zhuapaiState = TakeReference;
        break;
    }
    stopper.sleep(passSleepMs);
    acceptingFrames = false;
}

QImage IamgeZhuaPai::takeCurrentFrame()
{
    MutexLocker lock(&zhuapaiMutex);
    return currentFrame;
}
