#include "framewritequeue.h"

#include "fullsizeframe.h"

FrameWriteQueue::FrameWriteQueue()
{
    // One thread: frames reach the writer in the order they were due.
    thread.setMaxThreadCount(1);
}

FrameWriteQueue::~FrameWriteQueue()
{
    drain();
}

void FrameWriteQueue::add(std::shared_ptr<FullSizeFrame> frame, int copies, WriteOne writeOne)
{
    if (!frame || copies < 1)
        return;
    MutexLocker lock(&mutex);
    if (!jobs.empty() && jobs.back().frame) {
        Job &waiting = jobs.back();
        waiting.frame = std::move(frame);
        waiting.copies += copies;
        waiting.writeOne = std::move(writeOne);
        return;
    }
    push(Job{std::move(frame), copies, std::move(writeOne), {}});
}

void FrameWriteQueue::then(std::function<void()> task)
{
    MutexLocker lock(&mutex);
    push(Job{nullptr, 0, {}, std::move(task)});
}

void FrameWriteQueue::push(Job job)
{
    jobs.push_back(std::move(job));
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
        Job job;
        {
            MutexLocker lock(&mutex);
            if (jobs.empty()) {
                working = false;
                return;
            }
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        run(job);
    }
}

void FrameWriteQueue::run(const Job &job)
{
    if (job.task) {
        job.task();
        return;
    }
    const cv::Mat picture = job.frame->picture();
    if (picture.empty())
        return;
    for (int copy = 0; copy < job.copies; ++copy)
        job.writeOne(picture);
}
