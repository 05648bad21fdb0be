#pragma once

#include "cardreading.h"

#include <QObject>

#include <condition_variable>
#include <mutex>
#include <thread>

// The one thread on which the card dialog talks to the reader, so the
// exchanges of a polling step never hold up the windows. At most one step is
// in flight; its result comes back on the thread the worker lives on.
class CardReaderWorker : public QObject
{
    Q_OBJECT
public:
    explicit CardReaderWorker(QObject *parent = nullptr);
    ~CardReaderWorker() override;

    // Starts one polling step on `port`; false (nothing started) while the
    // previous step has not been delivered yet.
    bool readAsync(int port);
    // True from readAsync until its result is delivered.
    bool isReading() const { return reading; }
    // Waits for the step in flight, ends the thread and drops its result, so
    // the port can be closed afterwards.
    void stop();

signals:
    void cardRead(CardReading result);

private:
    void run();
    void deliver(const CardReading &result, quint64 generation);

    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    int pendingPort = -1;
    bool hasPending = false;
    bool quit = false;
    quint64 generation = 0;   // advanced by stop(); results of older runs are dropped
    bool reading = false;     // GUI-side only
};
