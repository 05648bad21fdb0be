#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QTcpSocket>

#include <memory>

// A client of the request endpoint on a plain TCP socket: writes bytes as
// given and reads the bare JSON answers back one by one.
class RawClient
{
public:
    bool connectTo(quint16 port, int timeoutMs = 5000);
    void send(const QByteArray &bytes);
    // The next whole JSON text the endpoint wrote, or an empty array when
    // none arrived within `timeoutMs`.
    QByteArray nextAnswer(int timeoutMs = 15000);
    QJsonObject nextObject(int timeoutMs = 15000);
    // True when nothing at all arrives for `ms`.
    bool silentFor(int ms);
    // Waits until the endpoint has closed the connection.
    bool closedWithin(int timeoutMs);
    bool connected() const;
    QByteArray unread() const { return received; }

private:
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray received;
};

// "GET <target> HTTP/1.1" with a Host of this machine and extra header lines.
QByteArray httpGet(const QByteArray &target, const QByteArray &extraHeaders = QByteArray(),
                   const QByteArray &host = "127.0.0.1:38088");
