#pragma once

#include <QList>
#include <QObject>

class AccessPolicy;
class FormSystemTray;
class QTcpServer;
class RequestEndpoint;

// The request endpoint (port AccessPolicy::httpPort(), 38088): raw TCP, a
// URL-style request line, answered with bare indented JSON text.
//
// FormSystemTray owns it. In construction step 6, when Config::httpMode is set:
//
//     httpEndpoint = new HttpEndpoint(*this, *accessPolicy, this);
//     httpEndpoint->start();              // failures are not reported
//     tcpServer = httpEndpoint->server();
//
// The endpoint listens on every address of AccessPolicy::listenAddresses()
// (one QTcpServer each, 1024 pending connections at most), applies the
// policy's Host and cross-site checks, and reads what it needs from the tray's
// public members: imageProcessing, idCardJson and reConfigVideoSetting(). A
// grab writes its photo through imageProcessing's takePhotoPaths() and
// stores the first path in the tray's lastPath. FormSystemTray's own
// newConnection() and readyRead() slots are not connected: the endpoint
// handles its servers' and sockets' signals itself.
class HttpEndpoint : public QObject
{
    Q_OBJECT
public:
    HttpEndpoint(FormSystemTray &tray, AccessPolicy &policy, QObject *parent = nullptr);
    ~HttpEndpoint() override;

    // True when at least one address listens.
    bool start();
    // The first listening server (FormSystemTray::tcpServer); null before start().
    QTcpServer *server() const;

private:
    FormSystemTray &tray;
    AccessPolicy &policy;
    RequestEndpoint *requests = nullptr;
    QList<QTcpServer *> servers;
};
