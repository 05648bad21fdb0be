#include "requestconnection.h"

#include "accesspolicy.h"

#include <QTcpSocket>

namespace {

// End of the header block after position `from` (index past the blank
// line), or -1 while it has not arrived.
int headerEnd(const QByteArray &buffer, int from)
{
    // The request line itself may be followed directly by the blank line.
    if (buffer.mid(from, 2) == "\r\n")
        return from + 2;
    if (buffer.mid(from, 1) == "\n")
        return from + 1;
    const int crlf = buffer.indexOf("\r\n\r\n", from);
    const int lf = buffer.indexOf("\n\n", from);
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    if (lf >= 0)
        return lf + 2;
    return -1;
}

} // namespace

RequestConnection::RequestConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent), tcpSocket(socket)
{
    qRegisterMetaType<RequestConnection::Request>();
    socket->setParent(this);
    idleTimer.setSingleShot(true);
    idleTimer.setInterval(kIdleMs);
    settleTimer.setSingleShot(true);
    settleTimer.setInterval(kSettleMs);
    connect(&idleTimer, &QTimer::timeout, this, &RequestConnection::close);
    connect(&settleTimer, &QTimer::timeout, this, &RequestConnection::settle);
    connect(socket, &QTcpSocket::readyRead, this, &RequestConnection::readIncoming);
    connect(socket, &QTcpSocket::disconnected, this, &RequestConnection::close);
    idleTimer.start();
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &RequestConnection::readIncoming, Qt::QueuedConnection);
}

void RequestConnection::setIdleTimeout(int ms)
{
    idleTimer.setInterval(ms);
    idleTimer.start();
}

void RequestConnection::answer(const QByteArray &text)
{
    if (closing)
        return;
    tcpSocket->write(text);
    tcpSocket->flush();
}

void RequestConnection::refuse()
{
    close();
}

void RequestConnection::readIncoming()
{
    if (closing)
        return;
    idleTimer.start();
    // Never hold more than one request's worth: read only what may still
    // fit, and refuse the client once a request outgrows its bounds.
    do {
        pending += tcpSocket->read(qMax<qint64>(0, kMaxRequest + 1 - pending.size()));
        takeRequests(false);
        if (pending.size() > kMaxRequest)
            close();
    } while (!closing && tcpSocket->bytesAvailable() > 0);
}

void RequestConnection::settle()
{
    takeRequests(true);
}

void RequestConnection::takeRequests(bool force)
{
    settleTimer.stop();
    while (!closing && !pending.isEmpty()) {
        const int lineEnd = pending.indexOf('\n');
        if (lineEnd < 0) {
            if (pending.size() > kMaxRequestLine)
                close();
            else if (!force)
                settleTimer.start();
            // Without a line ending nothing is a request yet.
            return;
        }
        if (lineEnd > kMaxRequestLine) {
            close();
            return;
        }
        QByteArray line = pending.left(lineEnd);
        if (line.endsWith('\r'))
            line.chop(1);
        const int start = lineEnd + 1;
        int end = headerEnd(pending, start);
        if (end < 0) {
            if (pending.size() > kMaxRequest) {
                close();
                return;
            }
            if (!force) {
                settleTimer.start();
                return;
            }
            end = pending.size();
        }
        const QByteArray headers = pending.mid(start, end - start);
        const qlonglong bodyLength = AccessPolicy::headerValue("\n" + headers, "content-length").toLongLong();
        if (bodyLength < 0 || end + bodyLength > kMaxRequest) {
            close();
            return;
        }
        if (end + bodyLength > pending.size()) {
            if (!force) {
                settleTimer.start();
                return;
            }
            end = pending.size();
        } else {
            end += int(bodyLength);
        }

        Request request;
        request.line = line;
        request.data = pending.mid(start, end - start);
        request.host = AccessPolicy::headerValue("\n" + headers, "host", &request.hasHost);
        pending.remove(0, end);
        emit requestReceived(this, request);
    }
}

void RequestConnection::close()
{
    if (closing)
        return;
    closing = true;
    idleTimer.stop();
    settleTimer.stop();
    pending.clear();
    tcpSocket->abort();
    deleteLater();
}
