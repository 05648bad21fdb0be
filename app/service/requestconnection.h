#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// One client of the request endpoint: collects bytes until a request is
// whole, hands each request over once, and keeps the socket bounded in
// size and time. The connection stays open after an answer; it ends when
// the client closes it, stays silent for 60 s, or sends a request line
// longer than 8 KiB, and the socket is deleted then.
class RequestConnection : public QObject
{
    Q_OBJECT
public:
    struct Request {
        QByteArray line;    // the request line without its line ending
        QByteArray data;    // what followed it: headers and body
        QByteArray host;    // "Host" header value, empty without one
        bool hasHost = false;
    };

    static constexpr int kMaxRequestLine = 8 * 1024;
    static constexpr int kMaxRequest = 64 * 1024;
    static constexpr int kIdleMs = 60 * 1000;
    // A request line sent without headers is answered once nothing more
    // arrives for this long.
    static constexpr int kSettleMs = 150;

    // Takes ownership of the socket.
    RequestConnection(QTcpSocket *socket, QObject *parent = nullptr);

    QTcpSocket *socket() const { return tcpSocket; }
    // Writes an answer and flushes it; the connection stays open.
    void answer(const QByteArray &text);
    // Ends the connection without an answer (refused requests).
    void refuse();

    void setIdleTimeout(int ms);

signals:
    void requestReceived(RequestConnection *connection, const RequestConnection::Request &request);

private slots:
    void readIncoming();
    void settle();

private:
    // Hands over every request that is whole; with `force` also a request
    // line whose headers have not ended.
    void takeRequests(bool force);
    void close();

    QTcpSocket *tcpSocket;
    QByteArray pending;
    QTimer idleTimer;
    QTimer settleTimer;
    bool closing = false;
};

Q_DECLARE_METATYPE(RequestConnection::Request)
