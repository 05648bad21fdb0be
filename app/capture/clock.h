#pragma once

#include <QDateTime>

#include <functional>

class QMutex;
class QWaitCondition;

// The station's one clock: wall time for names and stamps, a monotonic
// millisecond count for intervals, and waits measured on it. Everything that
// times something asks Clock::current(), so tests can put in a clock they
// advance by hand instead of sleeping.
class Clock
{
public:
    virtual ~Clock() = default;

    // Local wall time.
    virtual QDateTime now() const = 0;
    // Milliseconds since an arbitrary origin; never goes back.
    virtual qint64 elapsedMs() const = 0;
    // With `mutex` locked by the caller: waits on `condition` until `done()`
    // holds or the monotonic count reaches `deadlineMs`. Whoever makes
    // `done()` true wakes the condition under the same mutex.
    virtual void waitUntil(QWaitCondition &condition, QMutex &mutex, qint64 deadlineMs,
                           const std::function<bool()> &done) = 0;
    // Whether this is the system's clock (timers then run on Qt's own).
    virtual bool isSystem() const { return false; }

    // The clock in use; the system clock unless one was installed.
    static Clock &current();
    // The system's own clock, whatever is installed.
    static Clock &system();
    // Installs `clock` (not owned) for the whole process; nullptr puts the
    // system clock back. Install before the threads that use it start.
    static void install(Clock *clock);
};
