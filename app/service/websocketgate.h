#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class AccessPolicy;
class ConsentDialog;
class QTcpServer;
class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;

// Listens for the WebSocket server and lets a connection through only when
// its handshake passes the access policy: a Host naming this machine, an
// Origin that is absent, approved or the demo page's token, and room under
// the connection limit. An unknown web origin waits while the clerk is asked
// (ConsentDialog); refused or unanswered handshakes get "403 Forbidden".
// Handshakes waiting for an answer have a small limit of their own and take
// no place of accepted pages, so pages naming new origins cannot lock out
// the demo page or native programs; the clerk sees one question at a time,
// the other origins wait their turn.
// Accepted sockets go to the QWebSocketServer untouched (the handshake is
// only peeked at), which then emits newConnection().
class WebSocketGate : public QObject
{
    Q_OBJECT
public:
    WebSocketGate(QWebSocketServer &server, AccessPolicy &policy,
                  const QList<QWebSocket *> &clients, QObject *parent = nullptr);
    ~WebSocketGate() override;

    // Listens on every address of the policy; true when at least one listens.
    bool listen(quint16 port);
    void close();
    bool isListening() const;

    static constexpr int maxConnections = 32;
    // Handshakes waiting for the clerk's answer, all origins together.
    static constexpr int maxAwaitingConsent = 8;
    static constexpr int maxHandshakeBytes = 8192;
    static constexpr int handshakeTimeoutMs = 10000;

private slots:
    void acceptPending();
    void inspect();
    void consentAnswered(QString origin, int answer);

private:
    struct Waiting
    {
        QTcpSocket *socket;
        QTimer *timer;
    };
    void decide(QTcpSocket *socket, const QByteArray &head);
    void admit(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, const QByteArray &status);
    void forget(QTcpSocket *socket);
    void askAbout(const QString &origin, QTcpSocket *socket);
    void askNext();
    int connectionCount() const;
    int awaitingConsent() const;

    QWebSocketServer &server;
    AccessPolicy &policy;
    const QList<QWebSocket *> &clients;
    QList<QTcpServer *> listeners;
    QHash<QTcpSocket *, QTimer *> reading;             // handshake not complete yet
    QHash<QString, QList<QPointer<QTcpSocket>>> asking;  // origin -> sockets awaiting consent
    QList<QString> questions;            // origins not asked about yet, in order of arrival
    QPointer<ConsentDialog> dialog;      // the one question shown
};
