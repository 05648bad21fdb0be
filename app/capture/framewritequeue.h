#pragma once

#include "threadsafety.h"

#include <QThreadPool>

#include <opencv2/core.hpp>

#include <functional>
#include <memory>

class FullSizeFrame;

// Writes a recording's frames off the window's thread: a full-size frame
// takes longer to decode and encode than one tick of the recorder. At most
// one frame waits: a newer one takes its place and its writes, so a late
// writer repeats the newest picture as often as frames were due, never
// queueing old pictures.
class FrameWriteQueue
{
public:
    // `writeOne` writes one decoded frame; it runs on the queue's thread.
    explicit FrameWriteQueue(std::function<void(const cv::Mat &)> writeOne);
    ~FrameWriteQueue();

    // `copies` writes of `frame`, decoded in full on the queue's thread.
    void add(std::shared_ptr<FullSizeFrame> frame, int copies) EXCLUDES(mutex);
    // Returns once every write added so far is done.
    void drain();

private:
    void work() EXCLUDES(mutex);

    const std::function<void(const cv::Mat &)> writeOne;
    QThreadPool thread;
    Mutex mutex;
    std::shared_ptr<FullSizeFrame> waiting GUARDED_BY(mutex);
    int waitingCopies GUARDED_BY(mutex) = 0;
    bool working GUARDED_BY(mutex) = false;
};
