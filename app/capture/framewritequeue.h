#pragma once

#include "threadsafety.h"

#include <QThreadPool>

#include <opencv2/core.hpp>

#include <deque>
#include <functional>
#include <memory>

class FullSizeFrame;

// Writes a recording's frames off the window's thread: a full-size frame
// takes longer to decode and encode than one tick of the recorder. At most
// one frame waits: a newer one takes its place and its writes, so a late
// writer repeats the newest picture as often as frames were due, never
// queueing old pictures. Tasks queued between frames (finishing a file) run
// in their place in the order, on the same thread.
class FrameWriteQueue
{
public:
    using WriteOne = std::function<void(const cv::Mat &)>;

    FrameWriteQueue();
    ~FrameWriteQueue();

    // `copies` writes of `frame` through `writeOne`, decoded in full on the
    // queue's thread.
    void add(std::shared_ptr<FullSizeFrame> frame, int copies, WriteOne writeOne) EXCLUDES(mutex);
    // `task` runs on the queue's thread once every write added before it is
    // done; writes added after it wait for it.
    void then(std::function<void()> task) EXCLUDES(mutex);
    // Returns once every write and task added so far is done.
    void drain();

private:
    struct Job
    {
        std::shared_ptr<FullSizeFrame> frame;
        int copies = 0;
        WriteOne writeOne;
        std::function<void()> task;
    };

    void push(Job job) REQUIRES(mutex);
    void work() EXCLUDES(mutex);
    static void run(const Job &job);

    QThreadPool thread;
    Mutex mutex;
    std::deque<Job> jobs GUARDED_BY(mutex);
    bool working GUARDED_BY(mutex) = false;
};
