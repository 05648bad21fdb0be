#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The built docstation started as its own process in service mode, in a
// directory of its own (its "system.ini", working directory and home), on
// synthetic virtual cameras, with its ports moved to free ones. A stand-in
// "xdg-open" keeps it from starting a browser.
class StationProcess
{
public:
    struct Options {
        bool http = true;
        bool webSocket = false;
        QString cameras = QStringLiteral("synthetic:sizes=1280x720,fps=15");
    };

    explicit StationProcess(const Options &options);
    ~StationProcess();

    // Starts it and waits until the request endpoint (or the WebSocket
    // server) accepts connections.
    bool start(int timeoutMs = 30000);
    void stop();

    quint16 httpPort = 0;
    quint16 webSocketPort = 0;
    QString dir() const { return home.path(); }
    QString documents() const { return home.path() + QStringLiteral("/VarEvuZu"); }
    QByteArray log();

private:
    Options options;
    QTemporaryDir home;
    std::unique_ptr<QProcess> process;
    QByteArray output;
};

quint16 unusedPort();
