#pragma once

#include <QObject>
#include <QTimer>

// A repeating timer on the station clock. On the system clock it is a plain
// QTimer; on a clock that tests advance by hand it looks at that clock often
// and fires once per interval of it.
class ClockTimer : public QObject
{
    Q_OBJECT
public:
    explicit ClockTimer(QObject *parent = nullptr);

    void start(int intervalMs);
    void stop();
    bool isActive() const { return timer.isActive(); }
    int interval() const { return intervalMs; }

signals:
    void timeout();

private:
    void onTick();

    QTimer timer;
    int intervalMs = 0;
    bool onSystemClock = true;
    qint64 dueMs = 0;
};
