#pragma once

#include "threadsafety.h"
#include "threadstopper.h"

#include <QDateTime>
#include <QImage>
#include <QThread>

#include "pageturnguard.h"

#include <atomic>

// Automatic capture: watches the preview frames and emits sendTakePhoto()
// about one second after the scene has changed (8 x 8 average hash).
//
// Owners: begin() once after construction, connect their own per-frame
// signal to readFarme(QImage) (emitted while Config::autoCaptureOn) and
// sendTakePhoto() to their takePhoto(); end() (or the destructor) stops it.
// The loop idles while Config::autoCaptureOn is false.
class IamgeZhuaPai : public QThread
{
    Q_OBJECT
public:
    explicit IamgeZhuaPai(QObject *parent = nullptr);
    ~IamgeZhuaPai() override;

    // Guards currentFrame: readFarme runs on the owner's thread, the loop on this one.
    Mutex zhuapaiMutex;
    std::atomic<bool> zhuapaiRunning{false};
    std::atomic<bool> acceptingFrames{false};
    QImage currentFrame GUARDED_BY(zhuapaiMutex);
    // The watcher's states, as stored in zhuapaiState.
    enum ZhuapaiState : int {
        TakeReference = 0,   // the next frame becomes the reference
        Compare = 1,         // once settled, frames are compared with the reference
        ChangeSeen = 2,      // the scene changed; shoot once it has settled
    };
    // One of ZhuapaiState; written by the loop only.
    std::atomic<int> zhuapaiState{TakeReference};
    QImage referenceFrame;
    QImage candidateFrame;
    QDateTime stateTime;

    // Hamming distance (0..64) between the average hashes of referenceFrame
    // and candidateFrame; 0 when either has no pixels to hash.
    int aHash();

    // 64-bit average hash of one picture (bit i = row-order pixel i); one-channel
    // pictures are hashed as they are, colour ones converted to grey first.
    // Returns false when the picture cannot be converted.
    static bool averageHash(const QImage &image, quint64 &hash);

public slots:
    void readFarme(QImage frame) EXCLUDES(zhuapaiMutex);
    void begin();
    void end();

signals:
    void sendTakePhoto();
    // Config::knowPages: the changed scene was a page already taken in this run.
    void refusedRepeatedPage();

protected:
    void run() override;

private:
    void runOnePass();
    QImage takeCurrentFrame() EXCLUDES(zhuapaiMutex);

    ThreadStopper stopper{zhuapaiRunning};
    PageTurnGuard pageGuard;   // Config::knowPages; the loop's thread only
};
