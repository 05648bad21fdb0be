#include "fakeclock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

namespace {

// A waiting thread looks at the clock this often (real time).
constexpr int kPollMs = 1;
// Bound for waiting on the threads of the test; a loop that never sleeps
// again fails the test instead of hanging it.
constexpr int kSettleLimitMs = 5000;

} // namespace

FakeClock::FakeClock(const QDateTime &start) : owner(QThread::currentThread())
{
    {
        MutexLocker lock(&stateMutex);
        wallOrigin = start;
    }
    Clock::install(this);
}

FakeClock::~FakeClock()
{
    Clock::install(nullptr);
    // Threads still waiting on this clock (loops the test did not stop) end
    // their wait early instead of touching a clock that is gone.
    retired = true;
    QDeadlineTimer limit(kSettleLimitMs);
    while (sleepers() > 0 && !limit.hasExpired())
        QThread::msleep(kPollMs);
}

QDateTime FakeClock::now() const
{
    MutexLocker lock(&stateMutex);
    return wallOrigin.addMSecs(elapsed);
}

void FakeClock::setNow(const QDateTime &wall)
{
    MutexLocker lock(&stateMutex);
    wallOrigin = wall.addMSecs(-elapsed);
}

int FakeClock::enter(qint64 deadline)
{
    MutexLocker lock(&stateMutex);
    const int ticket = nextTicket++;
    deadlines[ticket] = deadline;
    return ticket;
}

void FakeClock::leave(int ticket)
{
    MutexLocker lock(&stateMutex);
    deadlines.erase(ticket);
}

bool FakeClock::anyDue() const
{
    MutexLocker lock(&stateMutex);
    for (const auto &entry : deadlines) {
        if (entry.second <= elapsed)
            return true;
    }
    return false;
}

void FakeClock::waitUntil(QWaitCondition &condition, QMutex &mutex, qint64 deadlineMs,
                          const std::function<bool()> &done)
{
    if (QThread::currentThread() == owner) {
        // Only this thread advances the clock, and it holds the caller's
        // lock: jump to the end without waiting for the other sleepers.
        if (!done() && elapsed < deadlineMs)
            elapsed = deadlineMs;
        return;
    }
    const int ticket = enter(deadlineMs);
    while (!retired && !done() && elapsed < deadlineMs)
        condition.wait(&mutex, kPollMs);
    leave(ticket);
}

void FakeClock::advance(qint64 ms)
{
    elapsed += ms;
    QDeadlineTimer limit(kSettleLimitMs);
    while (anyDue() && !limit.hasExpired())
        QThread::msleep(kPollMs);
}

int FakeClock::sleepers() const
{
    MutexLocker lock(&stateMutex);
    return int(deadlines.size());
}

bool FakeClock::waitForSleepers(int count) const
{
    QDeadlineTimer limit(kSettleLimitMs);
    while (sleepers() < count) {
        if (limit.hasExpired())
            return false;
        // Queued hand-overs to this thread must go on meanwhile.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QThread::msleep(kPollMs);
    }
    return true;
}

bool FakeClock::advanceUntil(const std::function<bool()> &done, qint64 limitMs, qint64 stepMs)
{
    const qint64 end = elapsed + limitMs;
    QDeadlineTimer stuck(kSettleLimitMs);
    while (!done()) {
        if (elapsed >= end || stuck.hasExpired())
            return false;
        // Time moves only while some thread waits on it; otherwise the
        // threads are working (or handing something over to this thread).
        if (sleepers() > 0) {
            advance(stepMs);
            stuck.setRemainingTime(kSettleLimitMs);
        } else {
            QThread::msleep(kPollMs);
        }
        QCoreApplication::processEvents();
    }
    return true;
}

FixedWallClock::FixedWallClock(const QDateTime &wall) : wall(wall)
{
    Clock::install(this);
}

FixedWallClock::~FixedWallClock()
{
    Clock::install(nullptr);
}
