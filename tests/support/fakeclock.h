#pragma once

#include "clock.h"
#include "threadsafety.h"

#include <QDateTime>
#include <QThread>

#include <atomic>
#include <functional>
#include <map>

// A station clock that only moves when the test says so. Threads that wait
// on it are counted, so a test can advance time exactly while a loop sleeps
// and know that the loop has woken before it goes on. A wait on the test's
// own thread (the one that made the clock) cannot be advanced by anybody
// else: it moves the clock on to its end at once.
// Installed for its lifetime; on destruction it ends the waits still on it.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(const QDateTime &start = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89)));
    ~FakeClock() override;

    QDateTime now() const override;
    qint64 elapsedMs() const override { return elapsed; }
    void waitUntil(QWaitCondition &condition, QMutex &mutex, qint64 deadlineMs,
                   const std::function<bool()> &done) override;

    // Sets the wall time from now on; the monotonic count stays.
    void setNow(const QDateTime &wall);
    // Moves both times on by `ms` and returns once every thread whose wait
    // ended by then has woken.
    void advance(qint64 ms);
    // Threads waiting on this clock now.
    int sleepers() const;
    // Waits up to five seconds of real time until `count` threads wait on
    // this clock; false if they did not.
    bool waitForSleepers(int count = 1) const;
    // Advances in `stepMs` steps, each once a thread sleeps, until `done`
    // holds or `limitMs` of clock time passed; whether `done` held.
    bool advanceUntil(const std::function<bool()> &done, qint64 limitMs, qint64 stepMs = 10);

private:
    int enter(qint64 deadline) EXCLUDES(stateMutex);
    void leave(int ticket) EXCLUDES(stateMutex);
    bool anyDue() const EXCLUDES(stateMutex);

    std::atomic<qint64> elapsed{0};
    std::atomic<bool> retired{false};   // going away: every wait ends
    QThread *const owner;
    mutable Mutex stateMutex;
    QDateTime wallOrigin GUARDED_BY(stateMutex);
    std::map<int, qint64> deadlines GUARDED_BY(stateMutex);   // ticket -> deadline
    int nextTicket GUARDED_BY(stateMutex) = 0;
};

// The system clock with a wall time that stands still: names and stamps are
// predictable while waits and intervals run as usual. Installed for its
// lifetime.
class FixedWallClock final : public Clock
{
public:
    explicit FixedWallClock(const QDateTime &wall);
    ~FixedWallClock() override;

    QDateTime now() const override { return wall; }
    qint64 elapsedMs() const override { return Clock::system().elapsedMs(); }
    void waitUntil(QWaitCondition &condition, QMutex &mutex, qint64 deadlineMs,
                   const std::function<bool()> &done) override
    {
        Clock::system().waitUntil(condition, mutex, deadlineMs, done);
    }
    bool isSystem() const override { return true; }

private:
    const QDateTime wall;
};
