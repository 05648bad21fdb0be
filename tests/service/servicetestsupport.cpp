#include "servicetestsupport.h"

#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "testenv.h"
#include "virtualcameras.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>

namespace servicetest {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

Page::Page(const QString &origin) : socket(origin)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
        if (object.value(QStringLiteral("command")).toInt() == 20001) {
            ++frames;
            lastFrameText = text;
            return;
        }
        messages.append(object);
        texts.append(text);
    });
}

Page::~Page()
{
    socket.abort();
}

bool Page::open(quint16 port, const QString &target, int timeoutMs)
{
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(target)));
    return testenv::waitFor([this] { return isOpen() || socket.state() == QAbstractSocket::UnconnectedState; },
                            timeoutMs)
           && isOpen();
}

void Page::send(const QJsonObject &request)
{
    socket.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
}

void Page::sendText(const QString &text)
{
    socket.sendTextMessage(text);
}

QJsonObject Page::waitFor(int command, int timeoutMs, int from)
{
    QJsonObject found;
    testenv::waitFor([&] {
        for (int i = from; i < messages.size(); ++i)
            if (messages[i].value(QStringLiteral("command")).toInt() == command) {
                found = messages[i];
                return true;
            }
        return false;
    }, timeoutMs);
    return found;
}

int Page::count(int command) const
{
    int n = 0;
    for (const QJsonObject &message : messages)
        n += message.value(QStringLiteral("command")).toInt() == command;
    return n;
}

void TrayTest::SetUp()
{
    ASSERT_TRUE(documents.isValid());
    testenv::resetConfig(documents);
    Config &config = *Cache::config;
    config.webSocketMode = true;
    config.httpMode = false;
    config.listenAll = false;
    config.allowedOrigins.clear();
    config.resolution = 0;
    *Cache::cameras = VirtualCameras::parse(cameraEntries());
    ASSERT_FALSE(Cache::cameras->isEmpty());
    port = freePort();
    qputenv("DOCSTATION_WS_PORT", QByteArray::number(port));
    beforeTray();
    tray = std::make_unique<FormSystemTray>();
}

void TrayTest::TearDown()
{
    tray.reset();
    Cache::config->autoCaptureOn = false;
    Cache::config->webSocketMode = false;
    Cache::cameras->clear();
}

std::unique_ptr<Page> TrayTest::connectPage(const QString &origin)
{
    auto page = std::make_unique<Page>(origin);
    const int before = tray->clients.size();
    EXPECT_TRUE(page->open(port));
    testenv::waitFor([&] { return tray->clients.size() > before; }, 3000);
    return page;
}

void TrayTest::startPreview(Page &page)
{
    page.send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}, {"width", 0}, {"height", 0}});
    ASSERT_FALSE(page.waitFor(20000).isEmpty());
    ASSERT_TRUE(testenv::waitFor([&] { return page.frames > 0; }, 10000));
}

QByteArray handshakeStatus(quint16 port, const QByteArray &headers, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return QByteArray();
    socket.write("GET / HTTP/1.1\r\n" + headers
                 + "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    QByteArray answer;
    testenv::waitFor([&] {
        answer += socket.readAll();
        return answer.contains("\r\n") || socket.state() == QAbstractSocket::UnconnectedState;
    }, timeoutMs);
    return answer.left(answer.indexOf("\r\n"));
}

} // namespace servicetest
