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
    int connectionCount() const;

    QWebSocketServer &server;
    AccessPolicy &policy;
    const QList<QWebSocket *> &clients;
    QList<QTcpServer *> listeners;
    QHash<QTcpSocket *, QTimer *> reading;             // handshake not complete yet
    QHash<QString, QList<QPointer<QTcpSocket>>> asking;  // origin -> sockets awaiting consent
    QHash<QString, QPointer<ConsentDialog>> dialogs;
};
