// The station clock, the stop helper of the loop threads and the timer on
// the clock, driven from outside as the loops use them.
#include "clock.h"
#include "clocktimer.h"
#include "fakeclock.h"
#include "testenv.h"
#include "threadstopper.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

// A loop thread as the station writes them: sleeps between passes through
// the stopper and counts its passes.
class SleepyLoop : public QThread
{
public:
    explicit SleepyLoop(int sleepMs) : sleepMs(sleepMs) {}
    ~SleepyLoop() override
    {
        stopper.stop();
        wait();
    }

    void begin()
    {
        stopper.start();
        start();
    }
    void stop() { stopper.stop(); }

    std::atomic<bool> running{false};
    std::atomic<int> passes{0};
    std::atomic<qint64> lastPassAt{-1};

protected:
    void run() override
    {
        while (running) {
            ++passes;
            lastPassAt = Clock::current().elapsedMs();
            stopper.sleep(sleepMs);
        }
    }

private:
    const int sleepMs;
    ThreadStopper stopper{running};
};

} // namespace

TEST(StationClock, SystemClockIsTheDefaultAndAFakeReplacesItForItsLifetime)
{
    EXPECT_TRUE(Clock::current().isSystem());
    {
        const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
        FakeClock clock(start);
        EXPECT_EQ(&Clock::current(), &clock);
        EXPECT_EQ(Clock::current().now(), start);
        clock.advance(1500);
        EXPECT_EQ(Clock::current().elapsedMs(), 1500);
        EXPECT_EQ(Clock::current().now(), start.addMSecs(1500));
        clock.setNow(QDateTime(QDate(2027, 1, 1), QTime(0, 0)));
        EXPECT_EQ(Clock::current().now(), QDateTime(QDate(2027, 1, 1), QTime(0, 0)));
        EXPECT_EQ(Clock::current().elapsedMs(), 1500) << "the wall time moves, the interval count not";
    }
    EXPECT_TRUE(Clock::current().isSystem());
    const qint64 before = Clock::current().elapsedMs();
    QThread::msleep(20);
    EXPECT_GE(Clock::current().elapsedMs(), before + 20);
}

TEST(ThreadStopper, LoopSleepsOnTheClockUntilItIsAdvanced)
{
    FakeClock clock;
    SleepyLoop loop(1000);
    loop.begin();
    ASSERT_TRUE(clock.waitForSleepers());
    EXPECT_EQ(loop.passes, 1);
    clock.advance(999);
    ASSERT_TRUE(clock.waitForSleepers());
    EXPECT_EQ(loop.passes, 1) << "a millisecond early";
    clock.advance(1);
    ASSERT_TRUE(clock.waitForSleepers());
    EXPECT_EQ(loop.passes, 2);
    EXPECT_EQ(loop.lastPassAt, 1000);
    clock.advance(5000);   // one pass per wait, however far the clock jumps
    ASSERT_TRUE(clock.waitForSleepers());
    EXPECT_EQ(loop.passes, 3);
}

TEST(ThreadStopper, StopEndsTheSleepAtOnce)
{
    FakeClock clock;   // never advanced: only stopping ends the sleep
    SleepyLoop loop(60 * 60 * 1000);
    loop.begin();
    ASSERT_TRUE(clock.waitForSleepers());
    loop.stop();
    EXPECT_TRUE(loop.wait(5000));
    EXPECT_EQ(loop.passes, 1);
    EXPECT_EQ(clock.sleepers(), 0);
}

TEST(ThreadStopper, SleepOfAStoppedLoopReturnsAtOnce)
{
    FakeClock clock;
    std::atomic<bool> running{false};
    ThreadStopper stopper(running);
    EXPECT_FALSE(stopper.sleep(10000));
    stopper.start();
    EXPECT_TRUE(running);
    stopper.stop();
    EXPECT_FALSE(running);
    EXPECT_FALSE(stopper.sleep(10000));
}

TEST(ThreadStopper, WaitDeliversTheHandOverTheThreadIsBlockedOn)
{
    int delivered = 0;
    QObject receiver;
    // A blocking queued call into this thread, as the capture loop hands over its frames.
    std::unique_ptr<QThread> sender(QThread::create([&] {
        QMetaObject::invokeMethod(&receiver, [&] { ++delivered; }, Qt::BlockingQueuedConnection);
    }));
    sender->start();
    // Without delivering, the sender would wait for this thread for ever.
    EXPECT_TRUE(ThreadStopper::waitDelivering(*sender, 5000));
    EXPECT_TRUE(sender->isFinished());
    EXPECT_EQ(delivered, 1);
}

TEST(ThreadStopper, WaitGivesUpOnAThreadThatDoesNotEnd)
{
    QMutex gate;
    gate.lock();
    std::unique_ptr<QThread> stuck(QThread::create([&] { QMutexLocker hold(&gate); }));
    stuck->start();
    EXPECT_FALSE(ThreadStopper::waitDelivering(*stuck, 50));
    EXPECT_TRUE(stuck->isRunning());
    gate.unlock();
    EXPECT_TRUE(ThreadStopper::waitDelivering(*stuck, 5000));
    // A thread that never ran, and the calling thread itself, need no wait.
    QThread idle;
    EXPECT_TRUE(ThreadStopper::waitDelivering(idle, 0));
}

TEST(ClockTimer, FiresOncePerIntervalOfTheClock)
{
    FakeClock clock;
    ClockTimer timer;
    QSignalSpy fired(&timer, &ClockTimer::timeout);
    timer.start(1000);
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 1000);
    const auto advanceAndLook = [&](int ms) {
        clock.advance(ms);
        testenv::waitFor([] { return false; }, 30);
    };
    advanceAndLook(999);
    EXPECT_EQ(fired.count(), 0);
    advanceAndLook(1);
    EXPECT_EQ(fired.count(), 1);
    advanceAndLook(500);
    EXPECT_EQ(fired.count(), 1);
    advanceAndLook(500);
    EXPECT_EQ(fired.count(), 2);
    timer.stop();
    EXPECT_FALSE(timer.isActive());
    advanceAndLook(3000);
    EXPECT_EQ(fired.count(), 2);
}

TEST(ClockTimer, RunsOnTheSystemClockWithoutAFake)
{
    ClockTimer timer;
    QSignalSpy fired(&timer, &ClockTimer::timeout);
    timer.start(20);
    EXPECT_TRUE(testenv::waitFor([&] { return fired.count() >= 2; }, 5000));
}
