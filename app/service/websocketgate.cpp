#include "websocketgate.h"

#include "accesspolicy.h"
#include "consentdialog.h"
#include "logtext.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

WebSocketGate::WebSocketGate(QWebSocketServer &server, AccessPolicy &policy,
                             const QList<QWebSocket *> &clients, QObject *parent)
    : QObject(parent), server(server), policy(policy), clients(clients)
{
}

WebSocketGate::~WebSocketGate()
{
    delete dialog.data();
}

bool WebSocketGate::listen(quint16 port)
{
    close();
    for (const QHostAddress &address : policy.listenAddresses()) {
        auto *listener = new QTcpServer(this);
        listener->setMaxPendingConnections(maxConnections);
        if (!listener->listen(address, port)) {
            qDebug() << "WebSocket server: cannot listen on" << address << port
                     << listener->errorString();
            delete listener;
            continue;
        }
        connect(listener, &QTcpServer::newConnection, this, &WebSocketGate::acceptPending);
        listeners << listener;
    }
    return !listeners.isEmpty();
}

void WebSocketGate::close()
{
    qDeleteAll(listeners);
    listeners.clear();
}

bool WebSocketGate::isListening() const
{
    return !listeners.isEmpty();
}

int WebSocketGate::connectionCount() const
{
    return clients.size() + reading.size();
}

int WebSocketGate::awaitingConsent() const
{
    int waiting = 0;
    for (const auto &sockets : asking)
        waiting += sockets.size();
    return waiting;
}

void WebSocketGate::acceptPending()
{
    auto *listener = qobject_cast<QTcpServer *>(sender());
    if (!listener)
        return;
    while (QTcpSocket *socket = listener->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            forget(socket);
            socket->deleteLater();
        });
        if (connectionCount() >= maxConnections) {
            refuse(socket, "503 Service Unavailable");
            continue;
        }
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [this, socket] { refuse(socket, "408 Request Timeout"); });
        timer->start(handshakeTimeoutMs);
        reading.insert(socket, timer);
        connect(socket, &QTcpSocket::readyRead, this, &WebSocketGate::inspect);
        if (socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
    }
}

void WebSocketGate::inspect()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || !reading.contains(socket))
        return;
    const QByteArray seen = socket->peek(maxHandshakeBytes + 1);
    const int end = seen.indexOf("\r\n\r\n");
    if (end < 0) {
        if (seen.size() > maxHandshakeBytes)
            refuse(socket, "431 Request Header Fields Too Large");
        return;
    }
    delete reading.take(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, &WebSocketGate::inspect);
    decide(socket, seen.left(end));
}

void WebSocketGate::decide(QTcpSocket *socket, const QByteArray &head)
{
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.size() >= 2 ? requestLine.at(1) : QByteArray();
    if (!AccessPolicy::hostAllowed(AccessPolicy::headerValue(head, "Host"))) {
        qDebug() << "WebSocket refused: Host"
                 << LogText::clipped(QString::fromUtf8(AccessPolicy::headerValue(head, "Host")));
        refuse(socket, "403 Forbidden");
        return;
    }
    const QByteArray origin = AccessPolicy::headerValue(head, "Origin");
    switch (policy.decideOrigin(origin, target)) {
    case AccessPolicy::OriginVerdict::Serve:
        admit(socket);
        return;
    case AccessPolicy::OriginVerdict::Refuse:
        qDebug() << "WebSocket refused: Origin" << LogText::clipped(QString::fromUtf8(origin));
        refuse(socket, "403 Forbidden");
        return;
    case AccessPolicy::OriginVerdict::Ask:
        askAbout(AccessPolicy::normalizedOrigin(origin), socket);
        return;
    }
}

void WebSocketGate::askAbout(const QString &origin, QTcpSocket *socket)
{
    if (awaitingConsent() >= maxAwaitingConsent) {
        qDebug() << "WebSocket refused: too many pages waiting for consent";
        refuse(socket, "503 Service Unavailable");
        return;
    }
    const bool known = asking.contains(origin);
    asking[origin].append(socket);
    if (known)
        return;   // one question per page, however many sockets it opens
    questions.append(origin);
    askNext();
}

void WebSocketGate::askNext()
{
    while (!dialog && !questions.isEmpty()) {
        const QString origin = questions.takeFirst();
        if (asking.value(origin).isEmpty()) {
            asking.remove(origin);   // the page left before its turn
            continue;
        }
        dialog = new ConsentDialog(origin);
        connect(dialog, &ConsentDialog::answered, this, &WebSocketGate::consentAnswered);
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

void WebSocketGate::consentAnswered(QString origin, int answer)
{
    dialog = nullptr;   // it deletes itself as it closes
    if (answer == ConsentDialog::AllowAlways)
        policy.allowAlways(origin);
    else if (answer == ConsentDialog::AllowOnce)
        policy.allowOnce(origin);
    const QList<QPointer<QTcpSocket>> waiting = asking.take(origin);
    for (const QPointer<QTcpSocket> &socket : waiting) {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            continue;
        if (answer == ConsentDialog::Refuse)
            refuse(socket, "403 Forbidden");
        else
            admit(socket);
    }
    askNext();
}

void WebSocketGate::forget(QTcpSocket *socket)
{
    delete reading.take(socket);
    for (auto it = asking.begin(); it != asking.end(); ++it) {
        it->removeAll(socket);
        it->removeAll(nullptr);
    }
}

void WebSocketGate::admit(QTcpSocket *socket)
{
    forget(socket);
    disconnect(socket, nullptr, this, nullptr);
    socket->setParent(nullptr);
    server.handleConnection(socket);
}

void WebSocketGate::refuse(QTcpSocket *socket, const QByteArray &status)
{
    forget(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->write("HTTP/1.1 " + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}
