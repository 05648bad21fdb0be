// The built program in service mode: which window and which ports a start
// with the service switches opens.
#include "servicetestsupport.h"

#include "testenv.h"
#include "virtualcameras.h"

#include <QFile>
#include <QJsonObject>
#include <QLocalSocket>
#include <QNetworkInterface>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

} // namespace
