// What the service refuses: other hosts' names, pages the clerk did not
// approve, files outside the work, oversize and malformed input, and pages
// that stall; and uploads to a server of the test's own.
#include "servicetestsupport.h"

#include "accesspolicy.h"
#include "cache.h"
#include "config.h"
#include "fakeclock.h"
#include "imageprocessing.h"
#include "recording.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <atomic>
#include <memory>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

// A file swapped for a link to a secret at the worst moment: right after the
// station resolved its name. This process's realpath() stands in front of
// the C library's; once armed with a file's real path, the first resolution
// that ends there replaces the file by a symbolic link to the secret.
namespace swapafterresolve {
QByteArray armedPath;
QByteArray secretPath;
std::atomic<bool> swapped{false};

void arm(const QString &file, const QString &secret)
{
    armedPath = QFile::encodeName(file);
    secretPath = QFile::encodeName(secret);
    swapped = false;
}
} // namespace swapafterresolve

extern "C" char *realpath(const char *path, char *resolved)
{
    using RealPath = char *(*)(const char *, char *);
    static const auto next = reinterpret_cast<RealPath>(dlsym(RTLD_NEXT, "realpath"));
    char *result = next(path, resolved);
    using namespace swapafterresolve;
    if (result && !armedPath.isEmpty() && armedPath == result && !swapped.exchange(true)) {
        ::unlink(armedPath.constData());
        if (::symlink(secretPath.constData(), armedPath.constData()) != 0)
            ::perror("symlink");
    }
    return result;
}

using servicetest::Page;
using servicetest::TrayTest;

namespace {

QWidget *consentDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("ConsentDialog") && widget->isVisible())
            return widget;
    return nullptr;
}

// Waits for the consent question and presses one of its buttons.
bool answerConsent(const char *button, QString *text = nullptr)
{
    if (!testenv::waitFor([] { return consentDialog() != nullptr; }, 5000))
        return false;
    QWidget *dialog = consentDialog();
    if (text)
        *text = dialog->findChild<QLabel *>(QStringLiteral("lbConsentText"))->text();
    if (!button) {
        dialog->close();
        return true;
    }
    auto *press = dialog->findChild<QPushButton *>(QLatin1String(button));
    if (!press)
        return false;
    press->click();
    return true;
}

// What a page may leave unread before it is closed, and what it is shown of an upload's reply.
constexpr qint64 kMostUnsent = 4 * 1024 * 1024;
constexpr int kUploadReplyShown = 64 * 1024;

int visibleConsentDialogs()
{
    int shown = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        shown += widget->objectName() == QLatin1String("ConsentDialog") && widget->isVisible();
    return shown;
}

// A WebSocket handshake from a raw socket that answers nothing (no pongs)
// and, unless `reads`, takes in nothing either: a page that stalled, or
// whose machine slept.
std::unique_ptr<QTcpSocket> rawHandshake(quint16 port, const QByteArray &extraHeaders = QByteArray(),
                                         bool reads = false)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!reads)
        socket->setReadBufferSize(1);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(3000))
        return socket;
    if (!reads)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    socket->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders
                  + "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    return socket;
}

bool refused(Page &page)
{
    return testenv::waitFor([&] { return page.socket.state() == QAbstractSocket::UnconnectedState; }, 5000)
           && !page.isOpen();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Answers each complete HTTP request with the body named after its path.
class UploadServer : public QObject
{
public:
    UploadServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const int headEnd = buffer->indexOf("\r\n\r\n");
                    if (headEnd < 0)
                        return;
                    const QByteArray head = buffer->left(headEnd);
                    const int length = AccessPolicy::headerValue(head, "Content-Length").toInt();
                    if (buffer->size() < headEnd + 4 + length)
                        return;
                    requests.append(*buffer);
                    const QByteArray path = head.split(' ').value(1);
                    const QByteArray body = path == "/second" ? "second"
                                            : path == "/first"  ? "first"
                                            : path == "/huge"   ? QByteArray(1024 * 1024, 'a')
                                                                : "ok";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size())
                                  + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(QLatin1String(path));
    }
    QTcpServer server;
    QList<QByteArray> requests;
};

QStringList uploadResults(const Page &page)
{
    QStringList results;
    for (const QJsonObject &message : page.messages)
        if (message.value("command").toInt() == 20006)
            results << message.value("result").toString();
    return results;
}

void writePicture(const QString &path, QColor colour)
{
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(colour);
    ASSERT_TRUE(picture.save(path, "PNG"));
}

QImage decodeBase64Jpeg(const QString &text)
{
    return QImage::fromData(QByteArray::fromBase64(text.toLatin1()), "JPG");
}

QList<QMessageBox *> visibleMessageBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            boxes.append(box);
    return boxes;
}

// ---------------------------------------------------------------- who may connect

TEST_F(TrayTest, HandshakesNamingAnotherHostAreRefused)
{
    const QByteArray ours = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    EXPECT_EQ(servicetest::handshakeStatus(port, "Host: evil.example\r\n"), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(servicetest::handshakeStatus(port, "Host: evil.example:" + QByteArray::number(port) + "\r\n"),
              "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(servicetest::handshakeStatus(port, ""), "HTTP/1.1 403 Forbidden");   // no Host at all
    EXPECT_EQ(servicetest::handshakeStatus(port, "Host: localhost\r\n"), "HTTP/1.1 101 Switching Protocols");
    EXPECT_EQ(servicetest::handshakeStatus(port, ours), "HTTP/1.1 101 Switching Protocols");
    // Only the loopback addresses listen.
    QTcpSocket v6;
    v6.connectToHost(QHostAddress::LocalHostIPv6, port);
    EXPECT_TRUE(v6.waitForConnected(3000));
}

TEST_F(TrayTest, AnUnknownPageWaitsForTheClerk)
{
    Page refusedPage(QStringLiteral("https://bank.example"));
    refusedPage.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    QString question;
    ASSERT_TRUE(answerConsent("btnRefuse", &question));
    EXPECT_TRUE(question.contains(QStringLiteral("https://bank.example")));
    EXPECT_TRUE(question.contains(QStringLiteral("摄像头")));
    EXPECT_TRUE(refused(refusedPage));
    EXPECT_TRUE(tray->clients.isEmpty());

    Page once(QStringLiteral("https://bank.example"));
    once.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    ASSERT_TRUE(answerConsent("btnAllowOnce"));
    ASSERT_TRUE(testenv::waitFor([&] { return once.isOpen(); }, 5000));
    EXPECT_TRUE(Cache::config->allowedOrigins.isEmpty());   // not kept beyond this run

    Page always(QStringLiteral("http://his.example:8080"));
    always.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    ASSERT_TRUE(answerConsent("btnAllowAlways"));
    ASSERT_TRUE(testenv::waitFor([&] { return always.isOpen(); }, 5000));
    EXPECT_EQ(QSettings(Cache::config->fileName, QSettings::IniFormat).value("camera/allowedOrigins").toString(),
              QStringLiteral("http://his.example:8080"));
    Page again(QStringLiteral("http://his.example:8080"));   // asked no more
    EXPECT_TRUE(again.open(port));

    // Revoked, the page is asked about again; a question left unanswered refuses.
    tray->accessPolicy->revoke(QStringLiteral("http://his.example:8080"));
    Page revoked(QStringLiteral("http://his.example:8080"));
    revoked.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    ASSERT_TRUE(answerConsent(nullptr));
    EXPECT_TRUE(refused(revoked));
}

TEST_F(TrayTest, NullOriginIsRefusedUnlessItCarriesTheDemoToken)
{
    Page sandboxed(QStringLiteral("null"));
    EXPECT_FALSE(sandboxed.open(port));
    Page file(QStringLiteral("file://"));
    EXPECT_FALSE(file.open(port));
    EXPECT_EQ(consentDialog(), nullptr);   // nothing to ask about: no page is named

    Page demo(QStringLiteral("null"));
    EXPECT_TRUE(demo.open(port, QStringLiteral("/?token=") + tray->accessPolicy->demoToken()));
    Page guessed(QStringLiteral("null"));
    EXPECT_FALSE(guessed.open(port, QStringLiteral("/?token=00000000000000000000000000000000")));
}

TEST_F(TrayTest, PagesThatLeaveAreForgotten)
{
    auto staying = connectPage();
    auto leaving = connectPage();
    ASSERT_EQ(tray->clients.size(), 2);
    leaving->socket.close();
    ASSERT_TRUE(testenv::waitFor([&] { return tray->clients.size() == 1; }, 5000));
    EXPECT_EQ(tray->currentSocket, tray->clients.first());
    staying->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    EXPECT_FALSE(staying->waitFor(20021).isEmpty());
}

TEST_F(TrayTest, ConnectionsAreCapped)
{
    std::vector<std::unique_ptr<Page>> pages;
    for (int i = 0; i < 32; ++i) {
        pages.push_back(std::make_unique<Page>());
        ASSERT_TRUE(pages.back()->open(port)) << i;
    }
    ASSERT_TRUE(testenv::waitFor([&] { return tray->clients.size() == 32; }, 5000));
    EXPECT_EQ(servicetest::handshakeStatus(port, "Host: 127.0.0.1\r\n"), "HTTP/1.1 503 Service Unavailable");
    pages.pop_back();
    ASSERT_TRUE(testenv::waitFor([&] { return tray->clients.size() == 31; }, 5000));
    Page late;
    EXPECT_TRUE(late.open(port));
}

TEST_F(TrayTest, PagesWaitingForConsentNeitherFillTheServerNorFloodTheClerk)
{
    std::vector<std::unique_ptr<QTcpSocket>> asking;
    for (int i = 0; i < 32; ++i)
        asking.push_back(rawHandshake(port, "Origin: https://site" + QByteArray::number(i) + ".example\r\n", true));
    // Beyond the few that may wait for an answer, handshakes are turned away at once.
    const auto turnedAway = [&] {
        int count = 0;
        for (auto &socket : asking)
            count += socket->peek(64).startsWith("HTTP/1.1 503");
        return count;
    };
    EXPECT_TRUE(testenv::waitFor([&] { return turnedAway() >= 32 - 8; }, 10000)) << turnedAway();
    // One question at a time.
    EXPECT_EQ(visibleConsentDialogs(), 1);
    // The waiting pages take no place of native programs or the demo page.
    auto native = connectPage();
    EXPECT_TRUE(native->isOpen());
    Page demo(QStringLiteral("null"));
    EXPECT_TRUE(demo.open(port, QStringLiteral("/?token=") + tray->accessPolicy->demoToken()));

    // Answered, the next page in line is asked about.
    QString question;
    ASSERT_TRUE(answerConsent("btnRefuse", &question));
    EXPECT_TRUE(question.contains(QStringLiteral("https://site0.example")));
    EXPECT_TRUE(testenv::waitFor([&] { return asking[0]->peek(64).startsWith("HTTP/1.1 403"); }, 5000));
    ASSERT_TRUE(testenv::waitFor([] {
        QWidget *next = consentDialog();
        return next && next->findChild<QLabel *>(QStringLiteral("lbConsentText"))->text()
                           .contains(QStringLiteral("https://site1.example"));
    }, 5000));
    EXPECT_EQ(visibleConsentDialogs(), 1);
}

TEST_F(TrayTest, LookAlikeDomainsAreShownAndKeptInAscii)
{
    // "іcbc.com.cn" with a Cyrillic і, as browsers send it.
    Page lookAlike(QStringLiteral("https://xn--cbc-ihd.com.cn"));
    lookAlike.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    QString question;
    ASSERT_TRUE(answerConsent("btnAllowAlways", &question));
    EXPECT_TRUE(question.contains(QStringLiteral("https://xn--cbc-ihd.com.cn"))) << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("\u0456cbc.com.cn")) && question.contains(QStringLiteral("仿冒")))
        << question.toStdString();
    ASSERT_TRUE(testenv::waitFor([&] { return lookAlike.isOpen(); }, 5000));
    EXPECT_EQ(QSettings(Cache::config->fileName, QSettings::IniFormat).value("camera/allowedOrigins").toString(),
              QStringLiteral("https://xn--cbc-ihd.com.cn"));

    // Whatever the top-level domain: "аpple.com" with a Cyrillic а.
    Page other(QStringLiteral("https://xn--pple-43d.com"));
    other.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    ASSERT_TRUE(answerConsent("btnRefuse", &question));
    EXPECT_TRUE(question.contains(QStringLiteral("https://xn--pple-43d.com")) && question.contains(QStringLiteral("\u0430pple.com"))
                && question.contains(QStringLiteral("仿冒"))) << question.toStdString();

    // A name written in one script is shown as browsers send it, unmarked.
    Page chinese(QStringLiteral("https://xn--fiqs8s.cn"));   // 中国.cn
    chinese.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    ASSERT_TRUE(answerConsent("btnRefuse", &question));
    EXPECT_TRUE(question.contains(QStringLiteral("https://xn--fiqs8s.cn"))) << question.toStdString();
    EXPECT_FALSE(question.contains(QStringLiteral("仿冒"))) << question.toStdString();
}

// ---------------------------------------------------------------- files

TEST_F(TrayTest, FilesOutsideTheWorkAreNeitherReadNorWritten)
{
    auto page = connectPage();
    const QString secret = outside.path() + QStringLiteral("/id_rsa");
    writeFile(secret, "PRIVATE KEY");
    const QString link = docPath(QStringLiteral("innocent.jpg"));
    ASSERT_TRUE(QFile::link(secret, link));

    for (const QString &path : {secret, link, QStringLiteral("/etc/passwd")}) {
        const int from = page->messages.size();
        page->send(QJsonObject{{"command", 10021}, {"filepath", path}});
        const QJsonObject answer = page->waitFor(20021, 5000, from);
        EXPECT_EQ(answer.value("result").toString(), QStringLiteral("0")) << path.toStdString();
        EXPECT_TRUE(answer.value("base64").toString().isEmpty());
    }

    // Writing: only image names, never through a link, never over a non-file.
    startPreview(*page);
    const QString script = docPath(QStringLiteral("run.sh"));
    const QString viaLink = docPath(QStringLiteral("via.jpg"));
    const QString target = outside.path() + QStringLiteral("/target.jpg");
    writeFile(target, "untouched");
    ASSERT_TRUE(QFile::link(target, viaLink));
    for (const QString &path : {script, viaLink, docPath(QString())}) {
        const int from = page->messages.size();
        page->send(QJsonObject{{"command", 10002}, {"path", path}, {"quality", 80}});
        const QJsonObject answer = page->waitFor(20002, 10000, from);
        EXPECT_EQ(answer.value("result").toInt(), 0) << path.toStdString();
        EXPECT_EQ(answer.value("path").toString(), path);
    }
    EXPECT_FALSE(QFileInfo::exists(script));
    EXPECT_EQ(readFile(target), QByteArray("untouched"));

    page->send(QJsonObject{{"command", 10011}, {"path", docPath(QStringLiteral("x.html"))}});
    page->send(QJsonObject{{"command", 10022}, {"filepath", docPath(QStringLiteral("x.txt"))}});
    page->send(QJsonObject{{"command", 10023}});
    const int from = page->messages.size();
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    ASSERT_FALSE(page->waitFor(20021, 5000, from).isEmpty());
    EXPECT_EQ(page->messages.size(), from + 1);   // the refused 10011 answered nothing
    EXPECT_FALSE(QFileInfo::exists(docPath(QStringLiteral("x.html"))));
    EXPECT_FALSE(QFileInfo::exists(docPath(QStringLiteral("x.txt"))));
    EXPECT_EQ(tray->imageProcessing->videoWriter, nullptr);
}

TEST_F(TrayTest, PathsWithNulOrControlCharactersAreRefusedByEveryCommand)
{
    // The name checks must see the name the file calls see: "victim.txt\0.jpg"
    // would pass as a picture and then be written as "victim.txt".
    auto page = connectPage();
    startPreview(*page);
    const QString victim = docPath(QStringLiteral("victim.txt"));
    writeFile(victim, "untouched");
    const QString nulImage = victim + QChar(0) + QStringLiteral(".jpg");
    const QString newline = docPath(QStringLiteral("a\nb.jpg"));
    for (const QString &path : {nulImage, newline, docPath(QStringLiteral("tab\t.png"))}) {
        const int from = page->messages.size();
        page->send(QJsonObject{{"command", 10002}, {"path", path}, {"quality", 80}});
        EXPECT_EQ(page->waitFor(20002, 10000, from).value("result").toInt(), 0);
    }
    page->send(QJsonObject{{"command", 10011}, {"path", nulImage}});
    page->send(QJsonObject{{"command", 10022}, {"filepath", victim + QChar(0) + QStringLiteral(".avi")}});
    page->send(QJsonObject{{"command", 10023}});

    const QString seen = docPath(QStringLiteral("seen.png"));
    writePicture(seen, Qt::white);
    for (const QString &path : {seen + QChar(0), seen + QChar(0) + QStringLiteral("x")}) {
        const int from = page->messages.size();
        page->send(QJsonObject{{"command", 10021}, {"filepath", path}});
        EXPECT_EQ(page->waitFor(20021, 5000, from).value("result").toString(), QStringLiteral("0"));
    }
    UploadServer server;
    page->send(QJsonObject{{"command", 10006}, {"path", seen + QChar(0)}, {"url", server.url("/upload")}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 1; }, 5000));
    EXPECT_TRUE(uploadResults(*page).first().startsWith(QStringLiteral("拒绝上传")));

    EXPECT_EQ(readFile(victim), QByteArray("untouched"));
    EXPECT_FALSE(QFileInfo::exists(newline));
    EXPECT_EQ(page->count(20021), 2);   // the two reads; the refused 10011 answered nothing
    EXPECT_FALSE(tray->recorder->isRecording());
    EXPECT_TRUE(server.requests.isEmpty());
}

// ---------------------------------------------------------------- bad input and slow pages

TEST_F(TrayTest, OutlandishNumbersNeitherCrashNorStallNorSpoilLaterCaptures)
{
    auto page = connectPage();
    auto other = connectPage();
    const QSize camera(1280, 720);
    const auto lastFrameSize = [](const Page &page) {
        const QJsonObject frame = QJsonDocument::fromJson(page.lastFrameText.toUtf8()).object();
        return decodeBase64Jpeg(frame.value("video").toString()).size();
    };
    // A canvas far beyond the camera is held to the camera's size.
    for (const int side : {2147483647, 60000}) {
        const int from = page->messages.size();
        page->send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1},
                               {"videoCanvas_width", side}, {"videoCanvas_height", side}});
        ASSERT_FALSE(page->waitFor(20000, 5000, from).isEmpty());
        const int seen = other->frames;
        ASSERT_TRUE(testenv::waitFor([&] { return other->frames > seen + 2; }, 10000)) << side;
        const QSize shown = lastFrameSize(*other);
        EXPECT_TRUE(shown.isValid() && shown.width() <= camera.width() && shown.height() <= camera.height())
            << side << ": " << shown.width() << "x" << shown.height();
        page->send(QJsonObject{{"command", 10003}, {"quality", 80}});
        const QImage pic = decodeBase64Jpeg(page->waitFor(20003, 10000, from).value("pic").toString());
        EXPECT_FALSE(pic.isNull()) << side;
        EXPECT_LE(pic.width(), camera.width());
        EXPECT_LE(pic.height(), camera.height());
    }

    // Members out of their range change nothing, and the capture after them works.
    ImageProcessing &capture = *tray->imageProcessing;
    const int correction = capture.correction;
    page->send(QJsonObject{{"command", 10007}, {"bEnable", 3}});
    page->send(QJsonObject{{"command", 10004}, {"types", 7}});
    page->send(QJsonObject{{"command", 10009}, {"angle", -5}});
    page->send(QJsonObject{{"command", 10008}, {"bEnable", 2}});
    page->send(QJsonObject{{"command", 10005}, {"width", -1920}, {"height", 1080}});
    page->send(QJsonObject{{"command", 10007}, {"bEnable", 1.5}});
    page->send(QJsonObject{{"command", 10007}, {"bEnable", "2"}});
    const int from = page->messages.size();
    page->send(QJsonObject{{"command", 10002}, {"path", docPath(QStringLiteral("odd.jpg"))}, {"quality", 500}});
    EXPECT_EQ(page->waitFor(20002, 10000, from).value("result").toInt(), 0);
    EXPECT_FALSE(QFileInfo::exists(docPath(QStringLiteral("odd.jpg"))));
    EXPECT_EQ(capture.correction, correction);
    EXPECT_EQ(capture.shootType, 0);
    EXPECT_EQ(capture.angle, 0);
    EXPECT_EQ(capture.frameWidth, camera.width());
    EXPECT_FALSE(Cache::config->autoCaptureOn);

    const QString photo = docPath(QStringLiteral("after.jpg"));
    const int before = page->messages.size();
    page->send(QJsonObject{{"command", 10002}, {"path", photo}, {"quality", 80}});
    EXPECT_EQ(page->waitFor(20002, 10000, before).value("result").toInt(), 1);
    EXPECT_FALSE(QImage(photo).isNull());
}

TEST_F(TrayTest, AMissingCardReaderWarnsWithoutHoldingMessages)
{
    // This station has no card reader: opening the card window warns. The
    // messages that came with the request must not wait for the clerk.
    auto page = connectPage();
    bool answeredWhileWarned = false;
    int boxesAtOnce = 0;
    int ticks = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QList<QMessageBox *> boxes = visibleMessageBoxes();
        boxesAtOnce = qMax(boxesAtOnce, boxes.size());
        if (boxes.isEmpty())
            return;
        if (page->count(20021) == 2)
            answeredWhileWarned = true;
        // A box that holds the station's loop is closed after a while,
        // so the test can go on and fail.
        if (++ticks > 100)
            for (QMessageBox *box : boxes)
                box->close();
    });
    watcher.start(50);
    page->send(QJsonObject{{"command", 10010}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    page->send(QJsonObject{{"command", 10010}});
    page->send(QJsonObject{{"command", 10010}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    ASSERT_TRUE(testenv::waitFor([&] { return page->count(20021) == 2; }, 20000));
    testenv::waitFor([&] { return answeredWhileWarned; }, 2000);
    EXPECT_TRUE(answeredWhileWarned);
    const QList<QMessageBox *> boxes = visibleMessageBoxes();
    ASSERT_EQ(boxes.size(), 1);   // one warning, not one per request
    EXPECT_EQ(boxesAtOnce, 1);
    EXPECT_EQ(boxes.first()->windowModality(), Qt::NonModal);
    EXPECT_TRUE(boxes.first()->text().contains(QStringLiteral("身份证阅读器")));
    watcher.stop();
    boxes.first()->close();
}

TEST_F(TrayTest, OversizeMessagesCloseOnlyTheirPage)
{
    auto big = connectPage();
    auto other = connectPage();
    big->sendText(QString(2 * 1024 * 1024, QLatin1Char('x')));
    ASSERT_TRUE(testenv::waitFor([&] { return !big->isOpen(); }, 10000));
    ASSERT_TRUE(testenv::waitFor([&] { return tray->clients.size() == 1; }, 5000));
    other->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    EXPECT_FALSE(other->waitFor(20021).isEmpty());
}

TEST_F(TrayTest, FloodsAndMalformedJsonNeitherCrashNorStall)
{
    auto page = connectPage();
    const QString deep = QString(200000, QLatin1Char('[')) + QString(200000, QLatin1Char(']'));
    page->sendText(deep);
    page->sendText(QStringLiteral("{\"command\": 10021, \"filepath\": "));   // cut short
    page->sendText(QStringLiteral("[10021]"));
    page->sendText(QStringLiteral("{\"command\": \"10021\"}"));
    page->sendText(QStringLiteral("{\"command\": 1e300}"));
    page->sendText(QStringLiteral("\xff\xfe garbage"));
    for (int i = 0; i < 3000; ++i)
        page->sendText(i % 2 ? QStringLiteral("{\"command\": 10015}") : QStringLiteral("not json"));
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    const QJsonObject probe = page->waitFor(20021, 20000);
    ASSERT_FALSE(probe.isEmpty());
    EXPECT_EQ(page->messages.size(), 1);
}

TEST_F(TrayTest, ABurstOfCameraRequestsIsAnsweredWithoutHoldingTheStation)
{
    auto page = connectPage();
    for (int i = 0; i < 60; ++i) {
        page->send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}});
        page->send(QJsonObject{{"command", 10012}, {"camidx", 0}});
    }
    page->send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}, {"width", 1920}, {"height", 1080}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    ASSERT_FALSE(page->waitFor(20021, 20000).isEmpty());
    EXPECT_EQ(page->count(20000), 61);   // every start is answered
    // The camera ends as the last request left it, and frames flow.
    ASSERT_TRUE(testenv::waitFor([&] { return page->frames > 0; }, 10000));
    EXPECT_EQ(tray->imageProcessing->frameWidth, 1920);
}

TEST_F(TrayTest, AStalledPageHoldsBackNeitherTheCameraNorOtherPages)
{
    // A page that completes its handshake and then never reads.
    QTcpSocket stalled;
    stalled.setReadBufferSize(1);
    stalled.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(stalled.waitForConnected(3000));
    stalled.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_TRUE(testenv::waitFor([&] { return tray->clients.size() == 1; }, 5000));
    QWebSocket *stalledOnServer = tray->clients.first();

    auto page = connectPage();
    startPreview(*page);
    // Long enough for the stalled page's socket buffers to fill up many times over.
    const int start = page->frames;
    QElapsedTimer timer;
    timer.start();
    testenv::waitFor([&] { return timer.elapsed() > 4000; }, 6000);
    const int delivered = page->frames - start;
    EXPECT_GT(delivered, 20) << "frames in 4 s at 15 fps";
    // What waits for the stalled page stays about two frames.
    EXPECT_LT(stalledOnServer->bytesToWrite(), 3 * page->lastFrameText.toUtf8().size() + 4096);

    // Replies still reach it: they are queued, never dropped.
    const qint64 queued = stalledOnServer->bytesToWrite();
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    ASSERT_FALSE(page->waitFor(20021).isEmpty());
    EXPECT_GT(stalledOnServer->bytesToWrite(), queued);
}

TEST_F(TrayTest, APageThatNeverReadsIsClosedBeforeItsQueueGrowsLarge)
{
    auto stalled = rawHandshake(port);
    ASSERT_TRUE(testenv::waitFor([&] { return tray->clients.size() == 1; }, 5000));
    QWebSocket *stalledOnServer = tray->clients.first();
    auto page = connectPage();
    page->send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1},
                           {"videoCanvas_width", 1280}, {"videoCanvas_height", 720}});
    ASSERT_TRUE(testenv::waitFor([&] { return page->frames > 0; }, 10000));
    // Captures are replies, never skipped: they pile up for the page that does not read.
    qint64 mostQueued = 0;
    for (int batch = 0; batch < 20 && tray->clients.contains(stalledOnServer); ++batch) {
        const int from = page->messages.size();
        for (int i = 0; i < 10; ++i)
            page->send(QJsonObject{{"command", 10003}, {"quality", 90}});
        ASSERT_TRUE(testenv::waitFor([&] { return page->messages.size() >= from + 10; }, 30000));
        if (tray->clients.contains(stalledOnServer))
            mostQueued = qMax(mostQueued, stalledOnServer->bytesToWrite());
    }
    EXPECT_FALSE(tray->clients.contains(stalledOnServer)) << mostQueued << " bytes queued";
    EXPECT_LE(mostQueued, kMostUnsent + 4096);
    // The page that reads is served on.
    const int from = page->messages.size();
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    EXPECT_FALSE(page->waitFor(20021, 5000, from).isEmpty());
}

namespace logged {
std::atomic<int> longest{0};
void keepLength(QtMsgType, const QMessageLogContext &, const QString &text)
{
    longest = qMax(longest.load(), int(text.size()));
}
} // namespace logged

TEST_F(TrayTest, TheLogHoldsOnlyTheStartOfWhatPagesSendAndReceive)
{
    auto page = connectPage();
    startPreview(*page);
    const QString longPath = docPath(QString(300000, QLatin1Char('p')));
    logged::longest = 0;
    const QtMessageHandler previous = qInstallMessageHandler(logged::keepLength);
    page->send(QJsonObject{{"command", 10021}, {"filepath", longPath + QStringLiteral(".jpg")}});
    page->send(QJsonObject{{"command", 10002}, {"path", longPath + QStringLiteral(".txt")}});
    page->send(QJsonObject{{"command", 10022}, {"filepath", longPath + QStringLiteral(".txt")}});
    page->send(QJsonObject{{"command", 10006}, {"path", outside.path() + QStringLiteral("/x.jpg")},
                           {"url", QStringLiteral("http://127.0.0.1:9/") + QString(300000, QLatin1Char('u'))}});
    page->send(QJsonObject{{"command", 10003}, {"quality", 90}});   // a Base64 picture in the reply
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    const bool answered = testenv::waitFor([&] { return page->count(20021) == 2 && page->count(20003) == 1; },
                                           20000);
    qInstallMessageHandler(previous);
    ASSERT_TRUE(answered);
    EXPECT_LT(logged::longest.load(), 1024);
}

// ---------------------------------------------------------------- uploads

TEST_F(TrayTest, UploadPostsOneImagePartAndReportsTheReplyBody)
{
    UploadServer server;
    auto page = connectPage();
    const QString file = docPath(QStringLiteral("up.png"));
    writeFile(file, QByteArray("\x89PNG-bytes-of-the-capture", 25));
    page->send(QJsonObject{{"command", 10006}, {"path", file}, {"url", server.url("/upload")}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 1; }, 10000));
    EXPECT_EQ(uploadResults(*page), QStringList{"ok"});
    ASSERT_EQ(server.requests.size(), 1);
    const QByteArray request = server.requests.first();
    EXPECT_TRUE(request.startsWith("POST /upload HTTP/1.1\r\n"));
    const QByteArray type = AccessPolicy::headerValue(request.left(request.indexOf("\r\n\r\n")), "Content-Type");
    ASSERT_TRUE(type.startsWith("multipart/form-data; boundary="));
    const QByteArray boundary = "--" + type.mid(type.indexOf("boundary=") + 9).replace("\"", "");
    EXPECT_EQ(request.count(boundary), 2);   // one part, then the closing boundary
    EXPECT_TRUE(request.contains("Content-Type: image/jpeg\r\n"));
    EXPECT_TRUE(request.contains("Content-Disposition: form-data; name=\"file\"; filename=\"image.jpg\"\r\n"));
    EXPECT_TRUE(request.contains(QByteArray("\x89PNG-bytes-of-the-capture", 25)));
}

TEST_F(TrayTest, EachUploadReportsItsOwnReply)
{
    UploadServer server;
    auto page = connectPage();
    const QString file = docPath(QStringLiteral("up.jpg"));
    writeFile(file, "jpeg");
    page->send(QJsonObject{{"command", 10006}, {"path", file}, {"url", server.url("/first")}});
    page->send(QJsonObject{{"command", 10006}, {"path", file}, {"url", server.url("/second")}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 2; }, 10000));
    QStringList results = uploadResults(*page);
    results.sort();
    EXPECT_EQ(results, (QStringList{"first", "second"}));
    EXPECT_EQ(tray->uploading, false);
}

TEST_F(TrayTest, AFileSwappedForALinkAfterItsCheckIsNotWhatIsRead)
{
    UploadServer server;
    auto page = connectPage();
    const QString secret = outside.path() + QStringLiteral("/id_rsa");
    writeFile(secret, "PRIVATE KEY");
    const QString scan = docPath(QStringLiteral("scan.jpg"));
    writeFile(scan, "harmless scan");
    swapafterresolve::arm(QFileInfo(scan).canonicalFilePath(), secret);
    page->send(QJsonObject{{"command", 10006}, {"path", scan}, {"url", server.url("/upload")}});
    ASSERT_TRUE(testenv::waitFor([&] { return !uploadResults(*page).isEmpty(); }, 10000));
    EXPECT_TRUE(swapafterresolve::swapped);
    for (const QByteArray &request : qAsConst(server.requests))
        EXPECT_FALSE(request.contains("PRIVATE KEY"));

    const QString secretPicture = outside.path() + QStringLiteral("/secret.png");
    writePicture(secretPicture, Qt::black);
    const QString picture = docPath(QStringLiteral("scan.png"));
    writePicture(picture, Qt::white);
    swapafterresolve::arm(QFileInfo(picture).canonicalFilePath(), secretPicture);
    const int from = page->messages.size();
    page->send(QJsonObject{{"command", 10021}, {"filepath", picture}});
    const QJsonObject answer = page->waitFor(20021, 5000, from);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_TRUE(swapafterresolve::swapped);
    const QImage read = decodeBase64Jpeg(answer.value("base64").toString());
    if (!read.isNull()) {
        EXPECT_GT(qGray(read.pixel(read.width() / 2, read.height() / 2)), 200) << "the secret was read";
    }
    swapafterresolve::arm(QString(), QString());
}

TEST_F(TrayTest, AnUploadReplyIsPassedOnOnlyInPart)
{
    UploadServer server;
    auto page = connectPage();
    const QString file = docPath(QStringLiteral("up.jpg"));
    writeFile(file, "jpeg");
    page->send(QJsonObject{{"command", 10006}, {"path", file}, {"url", server.url("/huge")}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 1; }, 20000));
    const QString result = uploadResults(*page).first();
    EXPECT_LT(result.size(), kUploadReplyShown + 200);
    EXPECT_TRUE(result.startsWith(QString(1000, QLatin1Char('a'))));
    EXPECT_TRUE(result.contains(QString::number(1024 * 1024 - kUploadReplyShown)))
        << "says how much was left out";
}

TEST_F(TrayTest, UploadsOfMissingOrForeignFilesAreRefused)
{
    UploadServer server;
    auto page = connectPage();
    page->send(QJsonObject{{"command", 10006}, {"path", docPath(QStringLiteral("gone.jpg"))},
                           {"url", server.url("/upload")}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 1; }, 5000));
    EXPECT_EQ(uploadResults(*page), QStringList{QStringLiteral("文件不存在")});

    const QString secret = outside.path() + QStringLiteral("/id_rsa");
    writeFile(secret, "PRIVATE KEY");
    page->send(QJsonObject{{"command", 10006}, {"path", secret}, {"url", server.url("/upload")}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 2; }, 5000));
    EXPECT_TRUE(uploadResults(*page).last().startsWith(QStringLiteral("拒绝上传")));
    // Outside the work a missing file is refused as well: a page learns
    // nothing of what lies there. Inside, it is reported missing.
    page->send(QJsonObject{{"command", 10006}, {"path", outside.path() + QStringLiteral("/gone.jpg")},
                           {"url", server.url("/upload")}});
    page->send(QJsonObject{{"command", 10006}, {"path", docPath(QStringLiteral("sub/gone.jpg"))},
                           {"url", server.url("/upload")}});
    page->send(QJsonObject{{"command", 10006}, {"url", server.url("/upload")}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 5; }, 5000));
    EXPECT_TRUE(uploadResults(*page).at(2).startsWith(QStringLiteral("拒绝上传")));
    EXPECT_EQ(uploadResults(*page).at(3), QStringLiteral("文件不存在"));
    EXPECT_EQ(uploadResults(*page).at(4), QStringLiteral("文件不存在"));

    // An unreachable server: its error, then the (empty) body of the finished reply.
    const QString file = docPath(QStringLiteral("up.jpg"));
    writeFile(file, "jpeg");
    page->send(QJsonObject{{"command", 10006}, {"path", file},
                           {"url", QStringLiteral("http://127.0.0.1:%1/").arg(servicetest::freePort())}});
    ASSERT_TRUE(testenv::waitFor([&] { return uploadResults(*page).size() == 7; }, 10000));
    EXPECT_FALSE(uploadResults(*page).at(5).isEmpty());
    EXPECT_TRUE(uploadResults(*page).at(6).isEmpty());
    EXPECT_TRUE(server.requests.isEmpty());
}

} // namespace

// ---------------------------------------------------------------- dead clients

namespace {

class TrayOnTestClock : public TrayTest
{
protected:
    void beforeTray() override { clock = std::make_unique<FakeClock>(); }
    void TearDown() override
    {
        TrayTest::TearDown();
        clock.reset();
    }
    std::unique_ptr<FakeClock> clock;
};

TEST_F(TrayOnTestClock, ClientsThatStopAnsweringPingsLoseTheirPlace)
{
    auto asleep = rawHandshake(port);
    ASSERT_TRUE(testenv::waitFor([&] { return tray->clients.size() == 1; }, 5000));
    QWebSocket *asleepOnServer = tray->clients.first();
    auto awake = connectPage();   // answers pings as browsers do
    ASSERT_EQ(tray->clients.size(), 2);

    // A minute on the station clock in half seconds, each with time for the
    // awake page's pong to come back (a ping waits 20 s, forty steps, for it).
    for (int step = 0; step < 120 && tray->clients.contains(asleepOnServer); ++step) {
        clock->advance(500);
        testenv::waitFor([] { return false; }, 30);
    }
    EXPECT_FALSE(tray->clients.contains(asleepOnServer));
    ASSERT_EQ(tray->clients.size(), 1);
    EXPECT_TRUE(awake->isOpen());
    const int from = awake->messages.size();
    awake->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    EXPECT_FALSE(awake->waitFor(20021, 5000, from).isEmpty());
}

} // namespace
