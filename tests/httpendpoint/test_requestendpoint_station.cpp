// The request endpoint of the real program: docstation started in service
// mode (request endpoint only) on a synthetic virtual camera, spoken to
// over raw TCP the way counter applications do.
#include "rawclient.h"
#include "stationprocess.h"
#include "testenv.h"
#include "virtualcameras.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

class StationEndpoint : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (VirtualCameras::parse(QStringLiteral("synthetic")).isEmpty())
            return;
        station = new StationProcess(StationProcess::Options());
        started = station->start();
        if (!started)
            ADD_FAILURE() << station->log().constData();
    }

    static void TearDownTestSuite()
    {
        delete station;
        station = nullptr;
    }

    void SetUp() override
    {
        if (!station)
            GTEST_SKIP() << "this build has no synthetic camera";
        ASSERT_TRUE(started);
    }

    std::unique_ptr<RawClient> client()
    {
        auto raw = std::make_unique<RawClient>();
        EXPECT_TRUE(raw->connectTo(station->httpPort));
        return raw;
    }

    static StationProcess *station;
    static bool started;
};

StationProcess *StationEndpoint::station = nullptr;
bool StationEndpoint::started = false;

TEST_F(StationEndpoint, AnswersBareJsonOnBothLoopbacksAndKeepsConnectionsOpen)
{
    auto raw = client();
    raw->send(httpGet("/?param=get"));
    const QByteArray answer = raw->nextAnswer();
    EXPECT_TRUE(answer.startsWith("{\n    \"code\": 0,\n    \"resolution\": \"4640x3452|")) << answer.constData();
    raw->send("GET /param=get HTTP/1.1\r\n\r\n");
    EXPECT_EQ(raw->nextAnswer(), answer);
    raw->send(httpGet("/video=deviceinfo"));
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}, {"devicename", ""}}));
    EXPECT_TRUE(raw->connected());

    QTcpSocket overIpv6;
    overIpv6.connectToHost(QStringLiteral("::1"), station->httpPort);
    if (overIpv6.waitForConnected(3000)) {
        overIpv6.write(httpGet("/?param=get", QByteArray(), "[::1]"));
        EXPECT_TRUE(testenv::waitFor([&] { return overIpv6.bytesAvailable() >= answer.size(); }, 10000));
        EXPECT_EQ(overIpv6.readAll(), answer);
    }

}

TEST_F(StationEndpoint, GrabWritesAPhotoIntoTheWorkingDirectoryAndAnswersIt)
{
    auto raw = client();
    raw->send(httpGet("/?video=stream&camidx=0"));
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}}));

    QJsonObject answer;
    // The camera needs a moment after being opened again.
    testenv::waitFor(
        [&] {
            raw->send(httpGet("/?video=grabimage", "X-Cut: cutpage=0\r\n"));
            answer = raw->nextObject(30000);
            return answer.value("code").toInt(-1) == 0;
        },
        20000);
    ASSERT_EQ(answer.value("code").toInt(-1), 0);
    const QString path = answer.value("filepath").toString();
    EXPECT_EQ(QFileInfo(path).absolutePath(), QFileInfo(station->documents()).canonicalFilePath());
    const QImage onDisk(path);
    ASSERT_FALSE(onDisk.isNull());
    const QImage sent = QImage::fromData(
        QByteArray::fromBase64(answer.value("photoBase64").toString().toLatin1()), "PNG");
    EXPECT_EQ(sent.size(), onDisk.size());
    EXPECT_EQ(sent.size(), QSize(1280, 720));
    // The synthetic scene is a dark table with a bright sheet: not blank.
    EXPECT_NE(qGray(sent.pixel(5, 5)), qGray(sent.pixel(640, 360)));
}

TEST_F(StationEndpoint, ParamSetIsKeptInSystemIniAndTheCardRecordIsEmptyWithoutACard)
{
    auto raw = client();
    raw->send("POST /param=set HTTP/1.1\r\nHost: localhost\r\nContent-Length: 22\r\n\r\n"
              "resolution=1280x720&x");
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}}));
    EXPECT_EQ(QSettings(station->dir() + "/system.ini", QSettings::IniFormat)
                  .value("image/out_resolution").toInt(), 9);

    raw->send(httpGet("/?card=idcard"));
    const QJsonObject info = raw->nextObject().value("IDCardInfo").toObject();
    EXPECT_EQ(info.value("birthday").toString(), "--");
    EXPECT_EQ(info.value("cardID").toString("x"), QString());
    EXPECT_EQ(info.size(), 12);
}

TEST_F(StationEndpoint, RefusesOtherSitesAndForeignHosts)
{
    const QByteArray refused[] = {
        httpGet("/?card=idcard", QByteArray(), "attacker.example"),
        httpGet("/?card=idcard", "Origin: https://attacker.example\r\n"),
        httpGet("/?card=idcard", "Sec-Fetch-Site: cross-site\r\n"),
        "GET /?" + QByteArray(9000, 'x'),
    };
    for (const QByteArray &request : refused) {
        auto raw = client();
        raw->send(request);
        EXPECT_TRUE(raw->closedWithin(5000)) << request.left(80).constData();
        EXPECT_TRUE(raw->unread().isEmpty()) << request.left(80).constData();
    }
    auto still = client();
    still->send(httpGet("/?video=close&camidx=0"));
    EXPECT_EQ(still->nextObject(), QJsonObject({{"code", 0}}));
}

} // namespace
