#include "clock.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QWaitCondition>

#include <atomic>

namespace {

class SystemClock final : public Clock
{
public:
    SystemClock() { origin.start(); }

    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 elapsedMs() const override { return origin.elapsed(); }

    void waitUntil(QWaitCondition &condition, QMutex &mutex, qint64 deadlineMs,
                   const std::function<bool()> &done) override
    {
        while (!done()) {
            const qint64 left = deadlineMs - elapsedMs();
            if (left <= 0)
                return;
            condition.wait(&mutex, ulong(left));
        }
    }

    bool isSystem() const override { return true; }

private:
    QElapsedTimer origin;
};

SystemClock &systemClock()
{
    static SystemClock clock;
    return clock;
}

std::atomic<Clock *> &installed()
{
    static std::atomic<Clock *> clock{nullptr};
    return clock;
}

} // namespace

Clock &Clock::current()
{
    Clock *clock = installed().load();
    return clock ? *clock : systemClock();
}

Clock &Clock::system()
{
    return systemClock();
}

void Clock::install(Clock *clock)
{
    installed().store(clock);
}
