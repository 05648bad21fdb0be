#include "httpendpoint.h"

#include "accesspolicy.h"
#include "formsystemtray.h"
#include "requestendpoint.h"

#include <QDebug>
#include <QTcpServer>

HttpEndpoint::HttpEndpoint(FormSystemTray &tray, AccessPolicy &policy, QObject *parent)
    : QObject(parent), tray(tray), policy(policy)
{
    RequestEndpoint::Station station;
    station.capture = [&tray] { return tray.imageProcessing; };
    station.cardJson = [&tray] { return tray.idCardJson; };
    station.reConfigVideoSetting = [&tray] { tray.reConfigVideoSetting(); };
    station.policy = &policy;
    requests = new RequestEndpoint(station, this);
    connect(requests, &RequestEndpoint::photoTaken, this, [this](const QString &path) {
        this->tray.lastPath = path;
        this->policy.rememberWritten(path);
    });
}

HttpEndpoint::~HttpEndpoint() = default;

bool HttpEndpoint::start()
{
    if (!servers.isEmpty())
        return true;
    for (const QHostAddress &address : policy.listenAddresses()) {
        auto *server = new QTcpServer(this);
        server->setMaxPendingConnections(1024);
        if (!server->listen(address, AccessPolicy::httpPort())) {
            qDebug() << "request endpoint: cannot listen on" << address << server->errorString();
            delete server;
            continue;
        }
        connect(server, &QTcpServer::newConnection, this,
                [this, server] { requests->acceptPending(server); });
        servers.append(server);
    }
    return !servers.isEmpty();
}

QTcpServer *HttpEndpoint::server() const
{
    return servers.isEmpty() ? nullptr : servers.first();
}
