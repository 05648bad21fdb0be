#pragma once

#include "threadsafety.h"

#include <QWaitCondition>

#include <atomic>

class QThread;

// The one way a station loop thread is stopped: the owner's `running` flag
// is cleared under a lock that the loop's sleeps wait on, so a sleeping loop
// wakes at once; the owner then waits a bounded time for the thread while
// delivering the queued calls it may be blocked on.
class ThreadStopper
{
public:
    // `running` is the loop's own flag (it stays the one truth); it must
    // outlive the stopper.
    explicit ThreadStopper(std::atomic<bool> &running);

    void start();
    // Clears the flag and wakes every sleep of the loop.
    void stop() EXCLUDES(mutex);
    // Sleeps `ms` on the station clock, or less when stopped meanwhile.
    // Returns whether the loop is still running.
    bool sleep(int ms) EXCLUDES(mutex);

    // Waits up to `graceMs` of real time for `thread` to finish, delivering
    // meanwhile the queued calls posted to the calling thread: a loop blocked
    // handing a frame to this thread finishes instead of deadlocking. The
    // bound is real time on purpose: it guards against a hang, it is no
    // behaviour a test should advance. Returns whether the thread finished
    // (at once when called on the thread itself or when it is not running).
    static bool waitDelivering(QThread &thread, int graceMs);

private:
    std::atomic<bool> &running;
    Mutex mutex;
    QWaitCondition wakeUp;
};
