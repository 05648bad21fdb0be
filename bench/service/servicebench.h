#pragma once

// What the service benchmarks share: the real program started in service
// mode on a synthetic camera, a page that stops reading, and waiting with
// the event loop running.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QWebSocket>

#include <unistd.h>

#include <functional>

namespace servicebench {

inline void pump(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(300);
    }
}

inline bool pumpUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(300);
    }
    return true;
}

// Opens a page's WebSocket to the station on `port`; false when refused.
inline bool openPage(QWebSocket &socket, quint16 port)
{
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    return pumpUntil([&socket] { return socket.state() == QAbstractSocket::ConnectedState
                                        || socket.state() == QAbstractSocket::UnconnectedState; },
                     10000)
           && socket.state() == QAbstractSocket::ConnectedState;
}

inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// CPU seconds (user + system) of a process so far.
inline double processCpu(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
}

// Resident memory of a process in KiB.
inline qint64 residentKiB(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// The program in service mode (WebSocket only), in a home of its own, its
// output in station.log there.
class Station
{
public:
    // `cameras` as DOCSTATION_VIRTUAL_CAMERAS takes it.
    bool start(const QString &program, const QString &cameras)
    {
        QDir(home.path()).mkpath(QStringLiteral("VarEvuZu"));
        QFile ini(home.path() + QStringLiteral("/system.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("[camera]\nisWebsocket=true\n[image]\ncodec=jpg\nquality=85\n"
                                 "[user]\ndocumentsLocation=%1\n").arg(documents()).toUtf8());
        ini.close();
        port = freePort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("TMPDIR"), home.path());
        env.insert(QStringLiteral("DOCSTATION_WS_PORT"), QString::number(port));
        env.insert(QStringLiteral("DOCSTATION_HTTP_PORT"), QString::number(freePort()));
        env.insert(QStringLiteral("DOCSTATION_VIRTUAL_CAMERAS"), cameras);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(home.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(logPath());
        process.start(program, QStringList());
        if (!process.waitForStarted(5000))
            return false;
        return pumpUntil([this] {
            if (process.state() != QProcess::Running)
                return true;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(100);
        }, 30000) && process.state() == QProcess::Running;
    }
    ~Station()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(2000);
    }
    double cpu() { return processCpu(process.processId()); }
    qint64 memoryKiB() { return residentKiB(process.processId()); }
    QString documents() const { return home.path() + QStringLiteral("/VarEvuZu"); }
    QString logPath() const { return home.path() + QStringLiteral("/station.log"); }
    qint64 logBytes() const { return QFileInfo(logPath()).size(); }

    QTemporaryDir home;
    QProcess process;
    quint16 port = 0;
};

// A page that stops reading after the handshake: its socket fills up.
class StalledPage
{
public:
    bool open(quint16 port)
    {
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16384);
        socket.setReadBufferSize(1024);
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return false;
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QByteArray answer;
        pumpUntil([&] {
            answer += socket.read(1);   // up to the end of the handshake answer, no further
            return answer.endsWith("\r\n\r\n");
        }, 10000);
        return answer.startsWith("HTTP/1.1 101");
    }
    QTcpSocket socket;
};

} // namespace servicebench
