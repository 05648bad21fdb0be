#include "clocktimer.h"

#include "clock.h"

namespace {

// How often a timer on a hand-driven clock looks at it (real time).
constexpr int kHandClockPollMs = 5;

} // namespace

ClockTimer::ClockTimer(QObject *parent) : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &ClockTimer::onTick);
}

void ClockTimer::start(int interval)
{
    intervalMs = qMax(0, interval);
    Clock &clock = Clock::current();
    onSystemClock = clock.isSystem();
    dueMs = clock.elapsedMs() + intervalMs;
    timer.start(onSystemClock ? intervalMs : kHandClockPollMs);
}

void ClockTimer::stop()
{
    timer.stop();
}

void ClockTimer::onTick()
{
    if (onSystemClock) {
        emit timeout();
        return;
    }
    const qint64 now = Clock::current().elapsedMs();
    if (now < dueMs)
        return;
    // Like a QTimer that fell behind: one timeout, the next a full interval on.
    dueMs = now + intervalMs;
    emit timeout();
}
