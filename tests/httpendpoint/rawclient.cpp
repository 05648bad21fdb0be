#include "rawclient.h"

#include "testenv.h"

#include <QJsonDocument>

bool RawClient::connectTo(quint16 port, int timeoutMs)
{
    socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    return testenv::waitFor([this] { return socket->state() == QAbstractSocket::ConnectedState; },
                            timeoutMs);
}

void RawClient::send(const QByteArray &bytes)
{
    socket->write(bytes);
    socket->flush();
}

QByteArray RawClient::nextAnswer(int timeoutMs)
{
    QByteArray answer;
    testenv::waitFor(
        [&] {
            received += socket->readAll();
            // An answer is one indented object: it ends at a "}" alone on a line.
            const int end = received.indexOf("\n}\n");
            if (end < 0)
                return false;
            answer = received.left(end + 3);
            received.remove(0, end + 3);
            return true;
        },
        timeoutMs);
    return answer;
}

QJsonObject RawClient::nextObject(int timeoutMs)
{
    return QJsonDocument::fromJson(nextAnswer(timeoutMs)).object();
}

bool RawClient::silentFor(int ms)
{
    testenv::waitFor([] { return false; }, ms);
    received += socket->readAll();
    return received.isEmpty();
}

bool RawClient::closedWithin(int timeoutMs)
{
    return testenv::waitFor(
        [this] {
            received += socket->readAll();
            return socket->state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
}

bool RawClient::connected() const
{
    return socket->state() == QAbstractSocket::ConnectedState;
}

QByteArray httpGet(const QByteArray &target, const QByteArray &extraHeaders, const QByteArray &host)
{
    QByteArray request = "GET " + target + " HTTP/1.1\r\n";
    if (!host.isEmpty())
        request += "Host: " + host + "\r\n";
    request += extraHeaders;
    request += "\r\n";
    return request;
}
