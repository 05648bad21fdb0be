#pragma once

#include <QHash>
#include <QObject>

class ClockTimer;
class QWebSocket;

// Finds WebSocket clients that are gone without closing: a page whose
// machine went to sleep or whose network dropped would otherwise hold one of
// the server's few places for ever. A client heard nothing from for
// `idleMs` is pinged; one that then stays silent for `answerMs` more is
// reported through silent(). Any message or pong counts as an answer.
// Times are on the station clock.
class IdleClientWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int idleMs = 20000;
    static constexpr int answerMs = 20000;
    static constexpr int checkEveryMs = 5000;

    explicit IdleClientWatch(QObject *parent = nullptr);

    void watch(QWebSocket *socket);
    void forget(QWebSocket *socket);

signals:
    // The owner closes the client; it is no longer watched.
    void silent(QWebSocket *socket);

private:
    struct Heard
    {
        qint64 lastMs = 0;
        qint64 pingedMs = -1;   // -1: no ping unanswered
    };
    void heardFrom(QWebSocket *socket);
    void check();

    ClockTimer *timer;
    QHash<QWebSocket *, Heard> clients;
};
