#pragma once

#include "requestconnection.h"
#include "requestline.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class AccessPolicy;
class ImageProcessing;
class QTcpServer;
class QTcpSocket;

// The request endpoint of service mode (TCP port 38088): answers
// URL-style request lines such as "GET /?param=get HTTP/1.1" with bare
// indented JSON text, without status line or headers, and leaves the
// connection open for the next request.
class RequestEndpoint : public QObject
{
    Q_OBJECT
public:
    // What the endpoint needs of the service window.
    struct Station {
        // The capture thread (the window creates it after the endpoint).
        std::function<ImageProcessing *()> capture;
        // The last identity-card JSON the card dialog emitted.
        std::function<QString()> cardJson;
        // Exposure from the configuration, then the capture thread's
        // reconfiguration.
        std::function<void()> reConfigVideoSetting;
        // Who may be served (Host, Origin and the approved pages).
        AccessPolicy *policy = nullptr;
    };

    static constexpr int kMaxConnections = 64;

    explicit RequestEndpoint(const Station &station, QObject *parent = nullptr);

    // Takes every pending connection of `server` (its newConnection signal).
    void acceptPending(QTcpServer *server);
    // Serves one client socket; takes ownership of it.
    void accept(QTcpSocket *socket);

    int connectionCount() const { return connections; }
    // Silence after which a client is dropped (60 s; shorter in tests).
    void setIdleTimeout(int ms) { idleTimeoutMs = ms; }

    // The answer to one request, or an empty array when the request
    // selects no action. Acts on the station as the action says.
    QByteArray respond(const QByteArray &line, const QByteArray &data);

    // Whether a request may be served: a Host other than this machine's
    // names (DNS rebinding), a web Origin the user has not approved, or a
    // request a browser marks as coming from another site gets no service.
    // Native clients may send no Host at all.
    bool admits(const RequestConnection::Request &request) const;

signals:
    // The first file a grab wrote.
    void photoTaken(const QString &path);

private:
    void serve(RequestConnection *connection, const RequestConnection::Request &request);
    QByteArray openCamera(int position);
    QByteArray grab(const QByteArray &data);
    QByteArray setParameters(const QByteArray &data);

    Station station;
    int connections = 0;
    int idleTimeoutMs = RequestConnection::kIdleMs;
};
