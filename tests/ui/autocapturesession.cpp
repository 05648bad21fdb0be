#include "autocapturesession.h"

#include "cache.h"
#include "config.h"
#include "docscene.h"
#include "handdetector.h"
#include "iamgezhuapai.h"
#include "imageprocessing.h"
#include "pagehash.h"
#include "pagememory.h"
#include "pagesheet.h"
#include "virtualcameras.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace autocapturesession {

Result run(const QString &cameraEntry, int timeoutMs, const std::function<bool(const Result &)> &done)
{
    Result result;
    *Cache::cameras = VirtualCameras::parse(cameraEntry);   // the camera's timeline starts here
    if (Cache::cameras->size() != 1)
        return result;
    Cache::config->autoCaptureOn = true;

    QObject owner;   // stands for the preview widget, on this thread
    ImageProcessing processing;
    IamgeZhuaPai watcher;
    QObject::connect(&processing, &ImageProcessing::sendFarmeSignal, &owner,
                     [&](QImage frame) { watcher.readFarme(frame); }, Qt::BlockingQueuedConnection);
    QObject::connect(&watcher, &IamgeZhuaPai::sendTakePhoto, &owner,
                     [&] { processing.setTakePhotoCammond(QImage(), QImage(), false, false); },
                     Qt::QueuedConnection);
    QObject::connect(&watcher, &IamgeZhuaPai::refusedRepeatedPage, &owner, [&] { ++result.refused; },
                     Qt::QueuedConnection);
    QObject::connect(&processing,
                     static_cast<void (ImageProcessing::*)(QList<QString>, int)>(
                         &ImageProcessing::sendTakePhotoImageSignal),
                     &owner, [&](QList<QString> paths, int) { result.photos.append(paths); },
                     Qt::BlockingQueuedConnection);

    processing.cameraListIndex = 0;
    const CameraInfo &camera = Cache::cameras->first();
    if (!camera.resolutions.isEmpty())
        processing.setFrameWidthAndHeight(camera.resolutions.first().width(), camera.resolutions.first().height());
    processing.begin();
    processing.openCamara();
    watcher.begin();

    QElapsedTimer timer;
    timer.start();
    while (!done(result) && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    Cache::config->autoCaptureOn = false;
    watcher.end();
    watcher.wait();
    // Photos already asked for still arrive while the capture thread winds down.
    QCoreApplication::processEvents();
    processing.end();
    QCoreApplication::processEvents();
    return result;
}

int pageShown(const QImage &photo, const QList<int> &pages)
{
    const pagehash::Hash shown = pagehash::of(PageSheet::of(photo));
    docscene::Options scene;
    scene.size = cv::Size(photo.width(), photo.height());
    int best = -1;
    int bestDistance = PageMemory::kSamePageBits + 1;
    for (int page : pages) {
        const cv::Mat rendered = docscene::render(scene, page).image;
        const pagehash::Hash hash = pagehash::of(PageSheet::of(ImageProcessing::MatQImage(rendered)));
        const int distance = pagehash::distance(shown, hash);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = page;
        }
    }
    return best;
}

bool showsHand(const QImage &photo)
{
    const PageSheet sheet = PageSheet::of(photo);
    return HandDetector::skinShare(sheet.small, sheet.area(0.05)) >= HandDetector::kSkinShare;
}

} // namespace autocapturesession
