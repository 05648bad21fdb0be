// Placeholder until the request endpoint lands: listens nowhere.
#include "httpendpoint.h"


HttpEndpoint::HttpEndpoint(FormSystemTray &, AccessPolicy &, QObject *parent) : QObject(parent) {}

HttpEndpoint::~HttpEndpoint() = default;

bool HttpEndpoint::start()
{
    return false;
}

QTcpServer *HttpEndpoint::server() const
{
    return nullptr;
}
