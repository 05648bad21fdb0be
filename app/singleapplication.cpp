#include "singleapplication.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <cstdio>

SingleApplication::SingleApplication(int &argc, char **argv)
    : QApplication(argc, argv), window(nullptr), running(false), localServer(nullptr)
{
    serverName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    _initLocalConnection();
}

bool SingleApplication::isRunning()
{
    return running;
}

void SingleApplication::_initLocalConnection()
{
    running = false;
    QLocalSocket socket;
    socket.connectToServer(serverName, QIODevice::ReadWrite);
    if (socket.waitForConnected(500)) {
        fprintf(stderr, "%s already running.\n", serverName.toLocal8Bit().constData());
        running = true;
        return;
    }
    _newLocalServer();
}

void SingleApplication::_newLocalServer()
{
    localServer = new QLocalServer(this);
    connect(localServer, &QLocalServer::newConnection, this,
            &SingleApplication::_newLocalConnection);
    if (!localServer->listen(serverName)) {
        if (localServer->serverError() == QAbstractSocket::AddressInUseError) {
            // A stale endpoint left by a crashed instance.
            QLocalServer::removeServer(serverName);
            localServer->listen(serverName);
        }
    }
}

void SingleApplication::_newLocalConnection()
{
    QLocalSocket *socket = localServer->nextPendingConnection();
    if (!socket)
        return;
    socket->waitForReadyRead(1000);
    delete socket;
    _activateWindow();
}

void SingleApplication::_activateWindow()
{
    if (window) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}
