#include "framewritequeue.h"

#include "fullsizeframe.h"

FrameWriteQueue::FrameWriteQueue(std::function<void(const cv::Mat &)> writeOne)
    : writeOne(std::move(writeOne))
{
    // One thread: frames reach the writer in the order they were due.
    thread.setMaxThreadCount(1);
}

FrameWriteQueue::~FrameWriteQueue()
{
    drain();
}

void FrameWriteQueue::add(std::shared_ptr<FullSizeFrame> frame, int copies)
{
    if (!frame || copies < 1)
        return;
    MutexLocker lock(&mutex);
    waiting = std::move(frame);
    waitingCopies += copies;
    if (working)
        return;
    working = true;
    thread.start([this] { work(); });
}

void FrameWriteQueue::drain()
{
    thread.waitForDone();
}

void FrameWriteQueue::work()
{
    for (;;) {
        std::shared_ptr<FullSizeFrame> frame;
        int copies = 0;
        {
            MutexLocker lock(&mutex);
            if (!waiting) {
                working = false;
                return;
            }
            frame = std::move(waiting);
            waiting.reset();
            copies = waitingCopies;
            waitingCopies = 0;
        }
        const cv::Mat picture = frame->picture();
        if (picture.empty())
            continue;
        for (int copy = 0; copy < copies; ++copy)
            writeOne(picture);
    }
}
