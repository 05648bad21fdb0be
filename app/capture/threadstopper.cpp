#include "threadstopper.h"

#include "clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

// How often the waiting thread looks at its queued calls.
constexpr int kDeliveryPollMs = 5;

} // namespace

ThreadStopper::ThreadStopper(std::atomic<bool> &running) : running(running) {}

void ThreadStopper::start()
{
    running = true;
}

void ThreadStopper::stop()
{
    MutexLocker lock(&mutex);
    running = false;
    wakeUp.wakeAll();
}

bool ThreadStopper::sleep(int ms)
{
    MutexLocker lock(&mutex);
    Clock &clock = Clock::current();
    const qint64 deadline = clock.elapsedMs() + ms;
    clock.waitUntil(wakeUp, mutex, deadline, [this] { return !running; });
    return running;
}

bool ThreadStopper::waitDelivering(QThread &thread, int graceMs)
{
    if (QThread::currentThread() == &thread)
        return thread.isFinished() || !thread.isRunning();
    QDeadlineTimer deadline(graceMs);
    while (!thread.wait(kDeliveryPollMs)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }
    return true;
}
