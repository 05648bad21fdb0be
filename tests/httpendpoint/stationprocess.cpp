#include "stationprocess.h"

#include "config.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

StationProcess::StationProcess(const Options &options) : options(options) {}

StationProcess::~StationProcess()
{
    stop();
}

bool StationProcess::start(int timeoutMs)
{
    QDir(home.path()).mkpath(QStringLiteral("VarEvuZu"));
    QDir(home.path()).mkpath(QStringLiteral("bin"));
    // Factory settings with service mode switched on, as a user would edit them.
    Config settings;
    settings.init();
    settings.fileName = home.path() + QStringLiteral("/system.ini");
    settings.documentsLocation = documents();
    settings.httpMode = options.http;
    settings.webSocketMode = options.webSocket;
    settings.save();

    const QString opener = home.path() + QStringLiteral("/bin/xdg-open");
    QFile script(opener);
    script.open(QIODevice::WriteOnly);
    script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1/opened.txt'\n")
                     .arg(home.path())
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    httpPort = unusedPort();
    webSocketPort = unusedPort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    // The single-instance socket lives in the temporary directory: a station
    // of its own, beside any other running on this machine.
    env.insert(QStringLiteral("TMPDIR"), home.path());
    env.insert(QStringLiteral("PATH"), home.path() + QStringLiteral("/bin:") + env.value(QStringLiteral("PATH")));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("BROWSER"));
    env.insert(QStringLiteral("DOCSTATION_WARNINGS_TO_STDERR"), QStringLiteral("1"));
    env.insert(QStringLiteral("DOCSTATION_VIRTUAL_CAMERAS"), options.cameras);
    env.insert(QStringLiteral("DOCSTATION_HTTP_PORT"), QString::number(httpPort));
    env.insert(QStringLiteral("DOCSTATION_WS_PORT"), QString::number(webSocketPort));
    process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(home.path());
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(testenv::appDir() + QStringLiteral("/docstation"), QStringList());
    if (!process->waitForStarted(5000))
        return false;
    const quint16 probePort = options.http ? httpPort : webSocketPort;
    return testenv::waitFor(
        [&] {
            output += process->readAll();
            if (process->state() != QProcess::Running)
                return true;
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), probePort);
            return probe.waitForConnected(100);
        },
        timeoutMs)
        && process->state() == QProcess::Running;
}

void StationProcess::stop()
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(2000);
    }
    output += process->readAll();
}

QByteArray StationProcess::log()
{
    if (process)
        output += process->readAll();
    return output;
}
