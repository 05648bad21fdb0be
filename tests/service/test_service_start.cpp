// The built program in service mode: which window and which ports a start
// with the service switches opens, and that only a quit ends it.
#include "servicetestsupport.h"

#include "testenv.h"
#include "virtualcameras.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLocalSocket>
#include <QNetworkInterface>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QUrl>

#include <gtest/gtest.h>

#include <opencv2/videoio.hpp>

#include <csignal>

#include <memory>

using servicetest::Page;

namespace {

class ServiceStart : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (VirtualCameras::parse(QStringLiteral("synthetic")).isEmpty())
            GTEST_SKIP() << "this build has no synthetic camera";
        port = servicetest::freePort();
    }
    void TearDown() override
    {
        if (!station)
            return;
        station->terminate();
        if (!station->waitForFinished(5000))
            station->kill();
        station->waitForFinished(2000);
    }
    // Starts the program with `ini` as its "system.ini" and waits until it runs.
    void start(const QByteArray &ini)
    {
        QFile file(dir.path() + QStringLiteral("/system.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ini);
        file.close();
        station = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("DOCSTATION_VIRTUAL_CAMERAS"), QStringLiteral("synthetic:sizes=1280x720,fps=15"));
        env.insert(QStringLiteral("DOCSTATION_WS_PORT"), QString::number(port));
        env.insert(QStringLiteral("DOCSTATION_HTTP_PORT"), QString::number(servicetest::freePort()));
        station->setProcessEnvironment(env);
        station->setWorkingDirectory(dir.path());
        station->start(testenv::appDir() + QStringLiteral("/docstation"), QStringList());
        ASSERT_TRUE(station->waitForStarted(5000));
        ASSERT_TRUE(testenv::waitFor([] {
            QLocalSocket probe;
            probe.connectToServer(QStringLiteral("docstation"));
            return probe.waitForConnected(200);
        }, 20000)) << station->readAllStandardError().constData();
    }
    bool webSocketPortOpen(const QHostAddress &address)
    {
        QTcpSocket probe;
        probe.connectToHost(address, port);
        return probe.waitForConnected(2000);
    }

    QTemporaryDir dir;
    quint16 port = 0;
    std::unique_ptr<QProcess> station;
};

TEST_F(ServiceStart, WebSocketModeServesAnApprovedPageOnLoopbackOnly)
{
    start("[camera]\nisWebsocket=true\nisHttp=false\nallowedOrigins=https://bank.example\n");
    Page page(QStringLiteral("https://bank.example"));
    ASSERT_TRUE(testenv::waitFor([&] { return page.open(port, QStringLiteral("/"), 1000); }, 15000));
    page.send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}});
    const QJsonObject reply = page.waitFor(20000, 15000);
    EXPECT_EQ(reply.value("width").toInt(), 1280);
    EXPECT_TRUE(testenv::waitFor([&] { return page.frames >= 3; }, 15000));
    EXPECT_TRUE(webSocketPortOpen(QHostAddress::LocalHostIPv6));
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol) {
            EXPECT_FALSE(webSocketPortOpen(address)) << address.toString().toStdString();
        }
    }
}

TEST_F(ServiceStart, RequestEndpointModeAloneOpensNoWebSocketPort)
{
    start("[camera]\nisWebsocket=false\nisHttp=true\n");
    EXPECT_EQ(station->state(), QProcess::Running);
    EXPECT_FALSE(webSocketPortOpen(QHostAddress::LocalHost));
}

TEST_F(ServiceStart, WithBothSwitchesOffTheDesktopWindowOpensNoPort)
{
    start("[camera]\nisWebsocket=false\nisHttp=false\n");
    EXPECT_EQ(station->state(), QProcess::Running);
    EXPECT_FALSE(webSocketPortOpen(QHostAddress::LocalHost));
}

// The program on a virtual X display of its own, so that the consent
// question is a real window the test can close as a clerk does.
class ServiceOnDisplay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (VirtualCameras::parse(QStringLiteral("synthetic")).isEmpty())
            GTEST_SKIP() << "this build has no synthetic camera";
        if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xvfb-run or xdotool missing (scripts/setup.sh installs them)";
        port = servicetest::freePort();
    }
    void TearDown() override
    {
        if (stationPid > 0 && display && display->state() != QProcess::NotRunning)
            ::kill(stationPid, SIGKILL);
        if (display && !display->waitForFinished(10000))
            display->kill();
    }
    void start(const QByteArray &ini)
    {
        QDir(dir.path()).mkpath(QStringLiteral("bin"));
        QDir(dir.path()).mkpath(QStringLiteral("VarEvuZu"));
        writeText(QStringLiteral("system.ini"), ini + "\n[user]\ndocumentsLocation=" + documents().toUtf8() + "\n");
        // The desktop's opener, standing in: notes the address it is asked to open.
        writeText(QStringLiteral("bin/xdg-open"),
                  "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + path("opened.txt").toUtf8() + "'\n");
        QFile::setPermissions(path("bin/xdg-open"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        display = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("TMPDIR"), dir.path());   // a single-instance socket of its own
        env.insert(QStringLiteral("PATH"), path("bin") + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        env.remove(QStringLiteral("BROWSER"));
        env.insert(QStringLiteral("DOCSTATION_VIRTUAL_CAMERAS"), QStringLiteral("synthetic:sizes=1280x720,fps=15"));
        env.insert(QStringLiteral("DOCSTATION_WS_PORT"), QString::number(port));
        env.insert(QStringLiteral("DOCSTATION_HTTP_PORT"), QString::number(servicetest::freePort()));
        display->setProcessEnvironment(env);
        display->setWorkingDirectory(dir.path());
        display->setProcessChannelMode(QProcess::MergedChannels);
        // The station's own process id and display, for the signal and for xdotool.
        display->start(QStringLiteral("xvfb-run"),
                       {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1366x768x24"),
                        QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("printf '%s\\n' \"$$\" \"$DISPLAY\" \"$XAUTHORITY\" > \"$0.part\" && "
                                       "mv \"$0.part\" \"$0\" && exec \"$1\""),
                        path("station.txt"), testenv::appDir() + QStringLiteral("/docstation")});
        ASSERT_TRUE(display->waitForStarted(5000));
        ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo::exists(path("station.txt")); }, 20000));
        const QStringList info = QString::fromUtf8(readText(QStringLiteral("station.txt"))).split(QLatin1Char('\n'));
        ASSERT_GE(info.size(), 3);
        stationPid = info[0].toInt();
        xEnv = QProcessEnvironment::systemEnvironment();
        xEnv.insert(QStringLiteral("DISPLAY"), info[1]);
        xEnv.insert(QStringLiteral("XAUTHORITY"), info[2]);
        xEnv.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));   // window names are UTF-8
    }
    // Runs xdotool on the station's display; its standard output.
    QByteArray xdotool(const QStringList &arguments)
    {
        QProcess tool;
        tool.setProcessEnvironment(xEnv);
        tool.start(QStringLiteral("xdotool"), arguments);
        tool.waitForFinished(20000);
        return tool.readAllStandardOutput().trimmed();
    }
    QString path(const char *name) const { return dir.path() + QLatin1Char('/') + QLatin1String(name); }
    QString documents() const { return path("VarEvuZu"); }
    void writeText(const QString &name, const QByteArray &text)
    {
        QFile file(dir.path() + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray readText(const QString &name) const
    {
        QFile file(dir.path() + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    quint16 port = 0;
    std::unique_ptr<QProcess> display;
    qint64 stationPid = 0;
    QProcessEnvironment xEnv;
};

TEST_F(ServiceOnDisplay, AnsweredQuestionsLeaveTheStationRunningAndAQuitFinishesItsWork)
{
    start("[camera]\nisWebsocket=true\nisHttp=false\n");
    Page native;
    ASSERT_TRUE(testenv::waitFor([&] { return native.open(port, QStringLiteral("/"), 1000); }, 30000))
        << display->readAll().constData();
    native.send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}});
    ASSERT_FALSE(native.waitFor(20000, 15000).isEmpty());
    ASSERT_TRUE(testenv::waitFor([&] { return native.frames >= 3; }, 15000));   // a frame to record
    const QString video = documents() + QStringLiteral("/interview.avi");
    native.send(QJsonObject{{"command", 10022}, {"filepath", video}});
    ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo(video).size() > 0; }, 15000));

    // Any web site asks; the clerk closes the question (Escape).
    Page site(QStringLiteral("https://any.website.example"));
    site.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    QByteArray question;
    ASSERT_TRUE(testenv::waitFor([&] {
        question = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                            QStringLiteral("网页访问请求")}).split('\n').value(0);
        return !question.isEmpty();
    }, 20000)) << "no consent question on the display";
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::fromLatin1(question)});
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(testenv::waitFor([&] { return site.socket.state() == QAbstractSocket::UnconnectedState; }, 10000));

    // The station goes on: it answers and records.
    const int framesBefore = native.frames;
    const int from = native.messages.size();
    native.send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    EXPECT_FALSE(native.waitFor(20021, 10000, from).isEmpty()) << "the station ended with the question";
    EXPECT_TRUE(testenv::waitFor([&] { return native.frames >= framesBefore + 10; }, 15000));
    ASSERT_EQ(display->state(), QProcess::Running);

    // Log-out: the station ends through its event loop and finishes its work.
    const QString launcher = QUrl(QString::fromUtf8(readText(QStringLiteral("opened.txt"))).split(QLatin1Char('\n'))
                                      .value(0)).toLocalFile();
    EXPECT_TRUE(QFileInfo::exists(launcher)) << launcher.toStdString();
    ASSERT_EQ(::kill(stationPid, SIGTERM), 0);
    EXPECT_TRUE(testenv::waitFor([&] { return ::kill(stationPid, 0) != 0; }, 20000));
    EXPECT_FALSE(QFileInfo::exists(launcher)) << "the launcher with the token stays behind";
    cv::VideoCapture recorded(video.toStdString(), cv::CAP_ANY);
    ASSERT_TRUE(recorded.isOpened());
    EXPECT_GT(recorded.get(cv::CAP_PROP_FRAME_COUNT), 5) << "the recording has no index";
    EXPECT_TRUE(display->waitForFinished(15000));
}

} // namespace

