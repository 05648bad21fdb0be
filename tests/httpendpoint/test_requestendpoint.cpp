// The request endpoint on a real socket: a RequestEndpoint behind a
// QTcpServer on the loopback, driving a capture thread on a synthetic
// virtual camera, with raw TCP clients sending bytes as browsers, scripts
// and hostile pages would.
#include "accesspolicy.h"
#include "cache.h"
#include "config.h"
#include "imageprocessing.h"
#include "rawclient.h"
#include "requestendpoint.h"
#include "testenv.h"
#include "virtualcameras.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kResolutionText =
    "4640x3452|4416x3312|3742x2806|3264x2448|2592x1944|2048x1536|1920x1080|1600x1200|1280x960|"
    "1280x720|800x600|640x480";

QByteArray expectedParamGet()
{
    return "{\n    \"code\": 0,\n    \"resolution\": \"" + kResolutionText + "\"\n}\n";
}

class RequestEndpointTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testenv::resetConfig(documents);
        Cache::config->appDir = appDir.path();
        *Cache::cameras = VirtualCameras::parse(
            QStringLiteral("synthetic:sizes=1280x720,fps=15,sheets=1,angle=0;"
                           "synthetic:sizes=640x480,fps=15,seed=2,name=Side camera"));
        ASSERT_EQ(Cache::cameras->size(), 2);
        capture.cameraListIndex = 0;
        capture.setFrameWidthAndHeight(1280, 720);
        capture.begin();
        capture.openCamara();

        RequestEndpoint::Station station;
        station.capture = [this] { return &capture; };
        station.cardJson = [this] { return cardJson; };
        station.reConfigVideoSetting = [this] { ++reconfigurations; };
        station.policy = &policy;
        policy.allowOnce(QStringLiteral("http://counter.bank.test"));
        endpoint = std::make_unique<RequestEndpoint>(station);
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection,
                         [this] { endpoint->acceptPending(&server); });
    }

    void TearDown() override
    {
        endpoint.reset();
        capture.end();
        capture.wait(5000);
    }

    std::unique_ptr<RawClient> client(bool mustConnect = true)
    {
        auto raw = std::make_unique<RawClient>();
        const bool connected = raw->connectTo(server.serverPort());
        if (mustConnect) {
            EXPECT_TRUE(connected);
        }
        return raw;
    }

    bool framesFlowing()
    {
        return testenv::waitFor([this] { return !capture.currentFrame().empty(); }, 10000);
    }

    QTemporaryDir documents;
    QTemporaryDir appDir;
    ImageProcessing capture;
    QTcpServer server;
    AccessPolicy policy{*Cache::config};
    std::unique_ptr<RequestEndpoint> endpoint;
    QString cardJson;
    int reconfigurations = 0;
};

TEST_F(RequestEndpointTest, ParamGetAnswersBareJsonInBothSpellingsAndKeepsTheConnection)
{
    auto raw = client();
    raw->send(httpGet("/?param=get"));
    EXPECT_EQ(raw->nextAnswer(), expectedParamGet()) << "no status line, no headers";

    raw->send(httpGet("/param=get"));
    EXPECT_EQ(raw->nextAnswer(), expectedParamGet());
    EXPECT_TRUE(raw->connected()) << "the connection stays open after answers";

    // A request line alone, as simple scripts send it.
    raw->send("GET /?param=get HTTP/1.1\r\n");
    EXPECT_EQ(raw->nextAnswer(), expectedParamGet());
}

TEST_F(RequestEndpointTest, UnknownOrExtendedActionsAreNotAnswered)
{
    auto raw = client();
    raw->send(httpGet("/?param=get&x=1"));
    raw->send(httpGet("/?Param=get"));
    raw->send(httpGet("/card=idcard")); // the card record needs its "?"
    raw->send(httpGet("?param=get"));   // a target without "/"
    raw->send("GET\r\n\r\n");           // no target at all
    EXPECT_TRUE(raw->silentFor(600)) << raw->unread().constData();
    EXPECT_TRUE(raw->connected());
}

TEST_F(RequestEndpointTest, ARequestInPiecesIsAnsweredOnceAndPipelinedRequestsEachOnce)
{
    auto raw = client();
    raw->send("GET /?param");
    testenv::waitFor([] { return false; }, 60);
    raw->send("=get HTTP/1.1\r\nHost: local");
    testenv::waitFor([] { return false; }, 60);
    raw->send("host\r\n\r\n");
    EXPECT_EQ(raw->nextAnswer(), expectedParamGet());
    EXPECT_TRUE(raw->silentFor(400)) << "answered once";

    raw->send(httpGet("/?video=deviceinfo") + httpGet("/param=get"));
    EXPECT_EQ(raw->nextAnswer(), QByteArray("{\n    \"code\": 0,\n    \"devicename\": \"\"\n}\n"));
    EXPECT_EQ(raw->nextAnswer(), expectedParamGet());
    EXPECT_TRUE(raw->silentFor(300));
}

TEST_F(RequestEndpointTest, StreamSwitchesCamerasAndCloseLeavesThePreviewRunning)
{
    ASSERT_TRUE(framesFlowing());
    auto raw = client();
    raw->send(httpGet("/?video=stream&camidx=1"));
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}}));
    EXPECT_EQ(capture.cameraListIndex, 1);
    EXPECT_TRUE(testenv::waitFor([this] { return capture.currentFrame().cols == 640; }, 10000))
        << "frames now come from the side camera";

    raw->send(httpGet("/video=stream&camidx=0"));
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}}));
    EXPECT_EQ(capture.cameraListIndex, 0);
    EXPECT_TRUE(testenv::waitFor([this] { return capture.currentFrame().cols == 1280; }, 10000));

    for (const QByteArray target : {"/?video=close&camidx=0", "/video=close&camidx=1"}) {
        raw->send(httpGet(target));
        EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}})) << target.constData();
    }
    EXPECT_TRUE(capture.cameraOpen);
    const cv::Mat before = capture.currentFrame();
    EXPECT_TRUE(testenv::waitFor([&] { return capture.currentFrame().data != before.data; }, 5000))
        << "new frames keep arriving";
}

TEST_F(RequestEndpointTest, ParamSetReadsCorrectionAndResolutionFromTheRequestData)
{
    auto raw = client();
    capture.setCameraCorrection(1);
    raw->send("POST /?param=set HTTP/1.1\r\nHost: localhost\r\nContent-Length: 36\r\n\r\n"
              "cutpage=false&resolution=1280x720xx");
    raw->send("x");
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}}));
    EXPECT_EQ(capture.correction, 0);
    EXPECT_EQ(Cache::config->outResolution, 9) << "\"720\" is looked for before \"800\" and \"640\"";
    EXPECT_EQ(Config().outResolution, 9) << "saved to the file";
    EXPECT_EQ(reconfigurations, 1);

    raw->send(httpGet("/param=set", "X-Options: cutpage=true; resolution=640x480\r\n"));
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}}));
    EXPECT_EQ(capture.correction, 1);
    EXPECT_EQ(Cache::config->outResolution, 11);

    // Neither word: nothing changes, the video settings are applied again.
    raw->send(httpGet("/?param=set"));
    EXPECT_EQ(raw->nextObject(), QJsonObject({{"code", 0}}));
    EXPECT_EQ(capture.correction, 1);
    EXPECT_EQ(Cache::config->outResolution, 11);
    EXPECT_EQ(reconfigurations, 3);
}

TEST_F(RequestEndpointTest, GrabAnswersThePhotoItWroteAsPngBase64)
{
    ASSERT_TRUE(framesFlowing());
    QSignalSpy taken(endpoint.get(), &RequestEndpoint::photoTaken);
    capture.setCameraCorrection(1);
    auto raw = client();
    raw->send(httpGet("/?video=grabimage", "X-Cut: cutpage=0\r\n"));
    const QByteArray text = raw->nextAnswer(30000);
    EXPECT_EQ(capture.correction, 0) << "cutpage=0 turns correction off";

    // Members in the order clients read them.
    const int code = text.indexOf("\"code\""), message = text.indexOf("\"message\"");
    const int photo = text.indexOf("\"photoBase64\""), file = text.indexOf("\"filepath\"");
    EXPECT_TRUE(code >= 0 && code < message && message < photo && photo < file) << text.left(200).constData();

    const QJsonObject answer = QJsonDocument::fromJson(text).object();
    EXPECT_EQ(answer.value("code").toInt(-1), 0);
    EXPECT_EQ(answer.value("message").toString("x"), QString());
    const QString path = answer.value("filepath").toString();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(path.startsWith(documents.path())) << path.toStdString();
    const QImage onDisk(path);
    ASSERT_FALSE(onDisk.isNull());
    const QByteArray png = QByteArray::fromBase64(answer.value("photoBase64").toString().toLatin1());
    EXPECT_TRUE(png.startsWith("\x89PNG"));
    const QImage sent = QImage::fromData(png, "PNG");
    EXPECT_EQ(sent.size(), onDisk.size());
    EXPECT_EQ(sent.size(), QSize(1280, 720)) << "correction off: the whole frame";
    ASSERT_EQ(taken.count(), 1);
    EXPECT_EQ(taken.first().first().toString(), path);

    // The next grab writes a new file and answers that one.
    raw->send(httpGet("/video=grabimage"));
    const QJsonObject second = raw->nextObject(30000);
    EXPECT_NE(second.value("filepath").toString(), path);
    EXPECT_TRUE(QFile::exists(second.value("filepath").toString()));
}

TEST_F(RequestEndpointTest, GrabWithoutAFrameReportsFailure)
{
    capture.end();
    capture.wait(5000);
    capture.closeCamara(false);
    capture.setCurrentFrame(cv::Mat());
    auto raw = client();
    raw->send(httpGet("/?video=grabimage"));
    const QJsonObject answer = raw->nextObject();
    EXPECT_EQ(answer.value("code").toInt(), 1);
    EXPECT_FALSE(answer.value("message").toString().isEmpty());
    EXPECT_EQ(answer.value("filepath").toString("x"), QString());
    EXPECT_EQ(answer.value("photoBase64").toString("x"), QString());
    EXPECT_TRUE(QDir(documents.path()).entryList(QDir::Files).isEmpty());
}

QByteArray cardAnswer(RawClient &raw)
{
    raw.send(httpGet("/?card=idcard"));
    return raw.nextAnswer();
}

TEST_F(RequestEndpointTest, CardRecordReadsTheDialogsSpellingInOrderWithThePhoto)
{
    cardJson = QStringLiteral(R"({"command": 20008, "result": true, "IDNumber": "110101199003071234",
        "Name": "张三", "Sex": "男", "Nation": "汉", "Adress": "北京市东城区某街1号",
        "BornYear": "1990", "BornMonth": "03", "BournDay": "07", "Mechanics": "北京市公安局东城分局",
        "VaildDate": "20150101-20350101", "path": "/x/IMG_1.jpg"})");
    QDir().mkpath(appDir.path() + "/data");
    QImage holder(102, 126, QImage::Format_RGB888);
    holder.fill(QColor(200, 30, 60));
    ASSERT_TRUE(holder.save(appDir.path() + "/data/image.bmp", "BMP"));

    auto raw = client();
    const QByteArray text = cardAnswer(*raw);
    const QJsonObject info = QJsonDocument::fromJson(text).object().value("IDCardInfo").toObject();
    EXPECT_EQ(QJsonDocument::fromJson(text).object().value("code").toInt(-1), 0);
    EXPECT_EQ(info.value("cardID").toString(), "110101199003071234");
    EXPECT_EQ(info.value("name").toString(), QStringLiteral("张三"));
    EXPECT_EQ(info.value("sex").toString(), QStringLiteral("男"));
    EXPECT_EQ(info.value("sexCode").toString(), QStringLiteral("男"));
    EXPECT_EQ(info.value("birthday").toString(), "1990-03-07");
    EXPECT_EQ(info.value("nation").toString(), QStringLiteral("汉"));
    EXPECT_EQ(info.value("nationCode").toString(), QStringLiteral("汉"));
    EXPECT_EQ(info.value("validStart").toString(), "20150101");
    EXPECT_EQ(info.value("validEnd").toString(), "20350101");
    EXPECT_EQ(info.value("issueOrgan").toString(), QStringLiteral("北京市公安局东城分局"));
    EXPECT_EQ(info.value("address").toString(), QStringLiteral("北京市东城区某街1号"));
    const QImage photo = QImage::fromData(
        QByteArray::fromBase64(info.value("photoBase64").toString().toLatin1()), "PNG");
    ASSERT_FALSE(photo.isNull());
    EXPECT_EQ(photo.size(), holder.size());
    EXPECT_EQ(photo.pixelColor(50, 60), QColor(200, 30, 60));

    const char *order[] = {"\"code\"", "\"IDCardInfo\"", "\"cardID\"", "\"name\"", "\"sex\"",
                           "\"sexCode\"", "\"birthday\"", "\"nationCode\"", "\"nation\"",
                           "\"validStart\"", "\"validEnd\"", "\"issueOrgan\"", "\"address\"",
                           "\"photoBase64\""};
    int previous = -1;
    for (const char *member : order) {
        const int at = text.indexOf(member);
        EXPECT_GT(at, previous) << member;
        previous = at;
    }
}

TEST_F(RequestEndpointTest, CardRecordStillReadsItsOwnSpellingAndSurvivesGarbage)
{
    cardJson = QStringLiteral(R"({"IDNumber": "X1", "BornTear": "2001", "BornMonth": "12",
        "BornDay": "31", "VaildDateS": "20200101", "VaildDateE": "长期", "Address": "Somewhere"})");
    auto raw = client();
    QJsonObject info = QJsonDocument::fromJson(cardAnswer(*raw)).object().value("IDCardInfo").toObject();
    EXPECT_EQ(info.value("birthday").toString(), "2001-12-31");
    EXPECT_EQ(info.value("validStart").toString(), "20200101");
    EXPECT_EQ(info.value("validEnd").toString(), QStringLiteral("长期"));
    EXPECT_EQ(info.value("address").toString(), "Somewhere");
    EXPECT_EQ(info.value("photoBase64").toString("x"), QString()) << "no photo file yet";
    EXPECT_TRUE(QDir(appDir.path() + "/data").exists()) << "the photo directory is made";

    for (const QString &stored : {QString(), QStringLiteral("[1,2]"), QStringLiteral("{not json")}) {
        cardJson = stored;
        info = QJsonDocument::fromJson(cardAnswer(*raw)).object().value("IDCardInfo").toObject();
        EXPECT_EQ(info.size(), 12);
        EXPECT_EQ(info.value("birthday").toString(), "--");
        EXPECT_EQ(info.value("cardID").toString("x"), QString());
    }
}

TEST_F(RequestEndpointTest, CardRecordFindsThePhotoInTheUsersDirectoryWhenTheProgramDirectoryTakesNone)
{
    QTemporaryDir userData;
    ASSERT_TRUE(userData.isValid());
    const QByteArray previousDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(userData.path()));
    // An installed program's directory: nothing can be created in it, not
    // even by root, since it lies below a regular file.
    const QString blocker = appDir.path() + "/not-a-directory";
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    Cache::config->appDir = blocker + "/bin";
    const QString userPhotos =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/data";
    ASSERT_TRUE(userPhotos.startsWith(userData.path() + "/"));
    QDir().mkpath(userPhotos);
    QImage holder(102, 126, QImage::Format_RGB888);
    holder.fill(QColor(20, 120, 220));
    ASSERT_TRUE(holder.save(userPhotos + "/image.bmp", "BMP"));
    cardJson = QStringLiteral(R"({"IDNumber": "110101199003071234"})");

    auto raw = client();
    const QJsonObject info =
        QJsonDocument::fromJson(cardAnswer(*raw)).object().value("IDCardInfo").toObject();
    if (previousDataHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", previousDataHome);
    EXPECT_EQ(info.value("cardID").toString(), "110101199003071234");
    const QImage photo = QImage::fromData(
        QByteArray::fromBase64(info.value("photoBase64").toString().toLatin1()), "PNG");
    ASSERT_FALSE(photo.isNull());
    EXPECT_EQ(photo.size(), holder.size());
    EXPECT_EQ(photo.pixelColor(50, 60), QColor(20, 120, 220));
}

TEST_F(RequestEndpointTest, ForeignHostsAndCrossSitePagesGetNoService)
{
    const QByteArray refused[] = {
        httpGet("/?param=get", QByteArray(), "evil.example"),
        httpGet("/?param=get", QByteArray(), "127.0.0.1.evil.example:38088"),
        httpGet("/?param=get", "Origin: http://evil.example\r\n"),
        httpGet("/?param=get", "Origin: null\r\n"),
        httpGet("/?param=get", "Origin: file://\r\n"),
        httpGet("/?param=get", "Origin: http://counter.bank.test.evil.example\r\n"),
        httpGet("/?card=idcard", "Sec-Fetch-Site: cross-site\r\n"),
    };
    for (const QByteArray &request : refused) {
        auto raw = client();
        raw->send(request);
        EXPECT_TRUE(raw->closedWithin(3000)) << request.constData();
        EXPECT_TRUE(raw->unread().isEmpty()) << request.constData();
    }

    const QByteArray served[] = {
        httpGet("/?param=get", QByteArray(), "localhost:38088"),
        httpGet("/?param=get", QByteArray(), "[::1]:38088"),
        httpGet("/?param=get", QByteArray(), QByteArray()), // native clients may send no Host
        httpGet("/?param=get", "Origin: http://counter.bank.test\r\nSec-Fetch-Site: cross-site\r\n"),
        httpGet("/?param=get", "Sec-Fetch-Site: same-origin\r\n"),
    };
    for (const QByteArray &request : served) {
        auto raw = client();
        raw->send(request);
        EXPECT_EQ(raw->nextAnswer(), expectedParamGet()) << request.constData();
    }
}

TEST_F(RequestEndpointTest, OversizeLinesIdleClientsAndConnectionFloodsAreCut)
{
    auto longLine = client();
    longLine->send("GET /?" + QByteArray(9000, 'a'));
    EXPECT_TRUE(longLine->closedWithin(3000)) << "a request line over 8 KiB ends the connection";
    EXPECT_TRUE(longLine->unread().isEmpty());

    auto hugeBody = client();
    hugeBody->send("POST /?param=set HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n");
    EXPECT_TRUE(hugeBody->closedWithin(3000));

    auto justUnder = client();
    justUnder->send("GET /?param=get " + QByteArray(8000, 'v') + "\r\n\r\n");
    EXPECT_EQ(justUnder->nextAnswer(), expectedParamGet());

    ASSERT_TRUE(testenv::waitFor([this] { return endpoint->connectionCount() == 1; }, 3000))
        << "closed connections are gone";
    justUnder.reset();
    EXPECT_TRUE(testenv::waitFor([this] { return endpoint->connectionCount() == 0; }, 3000))
        << "a client that leaves is deleted";

    std::vector<std::unique_ptr<RawClient>> flood;
    for (int i = 0; i < RequestEndpoint::kMaxConnections; ++i)
        flood.push_back(client());
    ASSERT_TRUE(testenv::waitFor(
        [this] { return endpoint->connectionCount() == RequestEndpoint::kMaxConnections; }, 5000));
    // Refused at once: it may never be seen connected.
    auto oneTooMany = client(false);
    EXPECT_TRUE(oneTooMany->closedWithin(3000));
    flood.clear();
    ASSERT_TRUE(testenv::waitFor([this] { return endpoint->connectionCount() == 0; }, 5000));

    endpoint->setIdleTimeout(300);
    auto idle = client();
    idle->send(httpGet("/?param=get"));
    EXPECT_EQ(idle->nextAnswer(), expectedParamGet());
    EXPECT_TRUE(idle->closedWithin(3000)) << "a silent client is dropped";
    EXPECT_TRUE(testenv::waitFor([this] { return endpoint->connectionCount() == 0; }, 3000));
}

} // namespace
