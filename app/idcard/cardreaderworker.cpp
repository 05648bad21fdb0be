#include "cardreaderworker.h"

#include <QMetaObject>

CardReaderWorker::CardReaderWorker(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<CardReading>();
}

CardReaderWorker::~CardReaderWorker()
{
    stop();
}

bool CardReaderWorker::readAsync(int port)
{
    if (reading)
        return false;
    reading = true;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pendingPort = port;
        hasPending = true;
    }
    if (!thread.joinable())
        thread = std::thread([this] { run(); });
    wake.notify_one();
    return true;
}

void CardReaderWorker::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
        hasPending = false;
        ++generation;
    }
    wake.notify_one();
    if (thread.joinable())
        thread.join();
    std::lock_guard<std::mutex> lock(mutex);
    quit = false;
    reading = false;
}

void CardReaderWorker::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return quit || hasPending; });
        if (quit)
            return;
        const int port = pendingPort;
        hasPending = false;
        const quint64 runGeneration = generation;
        lock.unlock();
        const CardReading result = cardreading::readOnce(port);
        QMetaObject::invokeMethod(
            this, [this, result, runGeneration] { deliver(result, runGeneration); },
            Qt::QueuedConnection);
        lock.lock();
    }
}

void CardReaderWorker::deliver(const CardReading &result, quint64 runGeneration)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (runGeneration != generation)
            return;
    }
    // Still "reading" while the result is applied, so no new step overlaps
    // the library calls the receiver makes (the photo decode).
    emit cardRead(result);
    reading = false;
}
