#include "idleclientwatch.h"

#include "clock.h"
#include "clocktimer.h"

#include <QDebug>
#include <QWebSocket>

IdleClientWatch::IdleClientWatch(QObject *parent) : QObject(parent), timer(new ClockTimer(this))
{
    connect(timer, &ClockTimer::timeout, this, &IdleClientWatch::check);
    timer->start(checkEveryMs);
}

void IdleClientWatch::watch(QWebSocket *socket)
{
    clients.insert(socket, Heard{Clock::current().elapsedMs(), -1});
    connect(socket, &QWebSocket::pong, this, [this, socket] { heardFrom(socket); });
    connect(socket, &QWebSocket::textFrameReceived, this, [this, socket] { heardFrom(socket); });
    connect(socket, &QWebSocket::binaryFrameReceived, this, [this, socket] { heardFrom(socket); });
}

void IdleClientWatch::forget(QWebSocket *socket)
{
    if (clients.remove(socket))
        socket->disconnect(this);
}

void IdleClientWatch::heardFrom(QWebSocket *socket)
{
    const auto found = clients.find(socket);
    if (found == clients.end())
        return;
    found->lastMs = Clock::current().elapsedMs();
    found->pingedMs = -1;
}

void IdleClientWatch::check()
{
    const qint64 now = Clock::current().elapsedMs();
    QList<QWebSocket *> gone;
    for (auto it = clients.begin(); it != clients.end(); ++it) {
        if (it->pingedMs >= 0) {
            if (now - it->pingedMs >= answerMs)
                gone.append(it.key());
        } else if (now - it->lastMs >= idleMs) {
            it->pingedMs = now;
            it.key()->ping();
        }
    }
    for (QWebSocket *socket : qAsConst(gone)) {
        qDebug() << "WebSocket client silent, closed:" << socket->peerAddress() << socket->peerPort();
        forget(socket);
        emit silent(socket);
    }
}
