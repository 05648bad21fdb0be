// The WebSocket command set, as a page on this machine uses it.
#include "servicetestsupport.h"
#include "ui_formsystemtray.h"

#include "accesspolicy.h"
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "fakeclock.h"
#include "imageprocessing.h"
#include "recordedvideo.h"
#include "recording.h"
#include "testenv.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QRegularExpression>
#include <QSemaphore>
#include <QUrlQuery>

#include <opencv2/videoio.hpp>

#include <memory>

#include <sys/stat.h>

using servicetest::Page;
using servicetest::TrayTest;

namespace {

void pumpFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    testenv::waitFor([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

QImage decodeBase64Jpeg(const QString &text)
{
    return QImage::fromData(QByteArray::fromBase64(text.toLatin1()), "JPG");
}

bool redDotShown(FormSystemTray &tray)
{
    const QImage logo = tray.ui->label->pixmap(Qt::ReturnByValue).toImage();
    for (int y = 0; y < logo.height() / 2; ++y)
        for (int x = logo.width() / 2; x < logo.width(); ++x) {
            const QColor c = logo.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 40 && c.blue() < 40 && c.alpha() > 200)
                return true;
        }
    return false;
}

TEST_F(TrayTest, WindowIsTheSmallLogoInTheBottomRightCorner)
{
    EXPECT_EQ(tray->objectName(), QStringLiteral("FormSystemTray"));
    EXPECT_EQ(tray->size(), QSize(50, 50));
    EXPECT_EQ(tray->windowTitle(), QStringLiteral("Form"));
    EXPECT_TRUE(tray->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(tray->windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_FALSE(tray->ui->label->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(tray->ui->label->pixmap(Qt::ReturnByValue).height(), 32);
    EXPECT_FALSE(redDotShown(*tray));
    EXPECT_EQ(tray->tcpServer, nullptr);   // request endpoint off
}

TEST_F(TrayTest, PreviewStartRepliesToEveryPageAndFramesReachThemAll)
{
    auto first = connectPage();
    auto second = connectPage();
    first->send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}, {"width", 0},
                            {"height", 0}, {"videoCanvas_width", 320}, {"videoCanvas_height", 240}});
    for (Page *page : {first.get(), second.get()}) {
        const QJsonObject reply = page->waitFor(20000);
        ASSERT_FALSE(reply.isEmpty());
        // Width 0 and height 0 take the configured resolution of the first camera.
        EXPECT_EQ(reply.value("width").toInt(), 1280);
        EXPECT_EQ(reply.value("height").toInt(), 720);
        EXPECT_EQ(reply.value("currestype").toString(), QStringLiteral("mjpg"));
        const QJsonObject format = reply.value("content").toArray().at(0).toObject();
        EXPECT_EQ(format.value("name").toString(), QStringLiteral("mjpg"));
        EXPECT_EQ(format.value("num").toInt(), 2);
        EXPECT_EQ(format.value("res").toArray(),
                  (QJsonArray{QJsonObject{{"width", 1280}, {"height", 720}},
                              QJsonObject{{"width", 1920}, {"height", 1080}}}));
        // Replies are indented JSON.
        EXPECT_TRUE(page->texts.last().contains(QStringLiteral("\n    \"command\": 20000")));
    }
    EXPECT_TRUE(tray->previewOn);
    ASSERT_TRUE(testenv::waitFor([&] { return first->frames >= 3 && second->frames >= 3; }, 10000));

    // A frame: Base64 JPEG of the web size, lines of 76 characters joined by CR LF.
    const QJsonObject frame = QJsonDocument::fromJson(first->lastFrameText.toUtf8()).object();
    const QString video = frame.value("video").toString();
    const QStringList lines = video.split(QStringLiteral("\r\n"));
    ASSERT_GT(lines.size(), 2);
    for (int i = 0; i + 1 < lines.size(); ++i)
        ASSERT_EQ(lines[i].size(), 76) << "line " << i;
    EXPECT_FALSE(video.startsWith(QStringLiteral("data:")));
    const QImage picture = decodeBase64Jpeg(video);
    EXPECT_EQ(picture.size(), QSize(320, 240));
    EXPECT_TRUE(redDotShown(*tray));   // a page receives the preview

    first->send(QJsonObject{{"command", 10001}, {"code", 0}});
    ASSERT_TRUE(testenv::waitFor([&] { return !tray->previewOn; }, 3000));
    // Frames handed over before the stop (one in flight, a few in the socket)
    // may still arrive on a loaded machine; after a quiet spell, none do.
    int seen = second->frames;
    ASSERT_TRUE(testenv::waitFor([&] {
        pumpFor(500);
        const bool quiet = second->frames == seen;
        seen = second->frames;
        return quiet;
    }, 10000));
    const int stoppedAt = second->frames;
    pumpFor(600);
    EXPECT_EQ(second->frames, stoppedAt);
    EXPECT_FALSE(redDotShown(*tray));
}

TEST_F(TrayTest, PreviewOfACameraTheStationLacksChangesNothing)
{
    auto page = connectPage();
    // camidx 0 picks the third camera; this station has one.
    page->send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 0}});
    page->send(QJsonObject{{"command", 10012}, {"camidx", 5}});
    page->send(QJsonObject{{"command", 10012}, {"camidx", -1}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", "/nonexistent"}});   // a probe
    ASSERT_FALSE(page->waitFor(20021).isEmpty());
    EXPECT_EQ(page->count(20000), 0);
    EXPECT_FALSE(tray->previewOn);
    EXPECT_EQ(page->frames, 0);
}

TEST_F(TrayTest, SettersReachTheCaptureThread)
{
    auto page = connectPage();
    ImageProcessing &capture = *tray->imageProcessing;
    page->send(QJsonObject{{"command", 10009}, {"angle", 2}});
    page->send(QJsonObject{{"command", 10013}});
    page->send(QJsonObject{{"command", 10004}, {"types", 1}});
    page->send(QJsonObject{{"command", 10007}, {"bEnable", 1}});
    page->send(QJsonObject{{"command", 10008}, {"bEnable", 1}});
    page->send(QJsonObject{{"command", 10024}});
    page->send(QJsonObject{{"command", 10005}, {"width", 1920}, {"height", 1080}});
    page->send(QJsonObject{{"command", 10015}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    ASSERT_FALSE(page->waitFor(20021).isEmpty());
    EXPECT_EQ(capture.angle, 3);
    EXPECT_EQ(capture.shootType, 1);
    EXPECT_EQ(capture.correction, 1);
    EXPECT_TRUE(Cache::config->autoCaptureOn);
    EXPECT_NEAR(capture.zoomValue, 1.2, 1e-9);
    EXPECT_EQ(capture.frameWidth, 1920);
    EXPECT_EQ(capture.frameHeight, 1080);
    EXPECT_EQ(page->messages.size(), 1);   // only the probe's answer; 10015 is ignored

    page->send(QJsonObject{{"command", 10014}});
    page->send(QJsonObject{{"command", 10025}});
    page->send(QJsonObject{{"command", 10008}, {"bEnable", 0}});
    page->send(QJsonObject{{"command", 10007}, {"bEnable", 0}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    ASSERT_TRUE(testenv::waitFor([&] { return page->count(20021) == 2; }, 5000));
    EXPECT_EQ(capture.angle, 2);
    EXPECT_NEAR(capture.zoomValue, 1.0, 1e-9);
    EXPECT_FALSE(Cache::config->autoCaptureOn);
    EXPECT_EQ(capture.correction, 0);
}

TEST_F(TrayTest, CapturesToFilesAndToBase64)
{
    auto page = connectPage();
    startPreview(*page);

    const QString photo = docPath(QStringLiteral("web.jpg"));
    page->send(QJsonObject{{"command", 10002}, {"path", photo}, {"quality", 80}, {"angle", 0}, {"bShow", 0}});
    const QJsonObject written = page->waitFor(20002, 10000);
    EXPECT_EQ(written.value("result").toInt(), 1);
    EXPECT_EQ(written.value("path").toString(), photo);
    const QImage onDisk(photo);
    ASSERT_FALSE(onDisk.isNull());
    EXPECT_EQ(onDisk.size(), QSize(1280, 720));   // no correction: the whole frame
    // The synthetic table is dark, its sheets bright: both are in the picture.
    int dark = 0, bright = 0;
    for (int y = 0; y < onDisk.height(); y += 16)
        for (int x = 0; x < onDisk.width(); x += 16) {
            const int g = qGray(onDisk.pixel(x, y));
            dark += g < 80;
            bright += g > 180;
        }
    EXPECT_GT(dark, 50);
    EXPECT_GT(bright, 50);

    page->send(QJsonObject{{"command", 10003}, {"quality", 80}, {"angle", 3}, {"bShow", 0}});
    const QJsonObject base64 = page->waitFor(20003, 10000);
    EXPECT_FALSE(decodeBase64Jpeg(base64.value("pic").toString()).isNull());

    // 10011: a capture written outside the working directory, then read back.
    const QString elsewhere = outside.path() + QStringLiteral("/for-page.png");
    page->send(QJsonObject{{"command", 10011}, {"path", elsewhere}});
    const QJsonObject both = page->waitFor(20021, 10000);
    EXPECT_EQ(both.value("result").toString(), QStringLiteral("1"));
    EXPECT_FALSE(decodeBase64Jpeg(both.value("base64").toString()).isNull());
    EXPECT_TRUE(QFileInfo(elsewhere).isFile());
    const int before = page->messages.size();
    page->send(QJsonObject{{"command", 10021}, {"filepath", elsewhere}});
    const QJsonObject readBack = page->waitFor(20021, 5000, before);
    EXPECT_EQ(readBack.value("result").toString(), QStringLiteral("1"));
    EXPECT_FALSE(readBack.value("base64").toString().isEmpty());
}

// With the camera closed nothing is captured: the page hears 0 and the
// picture already at its path stays as it was.
TEST_F(TrayTest, ACaptureThatWroteNothingSaysSoAndLeavesTheOldFile)
{
    auto page = connectPage();
    const QString contract = docPath(QStringLiteral("contract.jpg"));
    QImage older(64, 48, QImage::Format_RGB32);
    older.fill(Qt::darkCyan);
    ASSERT_TRUE(older.save(contract, "jpg"));
    QFile file(contract);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray olderBytes = file.readAll();
    file.close();

    page->send(QJsonObject{{"command", 10002}, {"path", contract}, {"quality", 80}, {"angle", 0}, {"bShow", 0}});
    const QJsonObject answer = page->waitFor(20002, 10000);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_EQ(answer.value("result").toInt(), 0);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), olderBytes);
}

TEST_F(TrayTest, RecordingPlaysBackAtRealSpeed)
{
    auto page = connectPage();
    page->send(QJsonObject{{"command", 10023}});   // nothing recording: nothing happens
    startPreview(*page);
    const QString video = docPath(QStringLiteral("clip.avi"));
    // The recording's time is the test's: two seconds pass on this clock
    // whatever the machine's load.
    FakeClock clock;
    page->send(QJsonObject{{"command", 10022}, {"filepath", video}, {"width", 1}, {"height", 1},
                           {"bitrate", 5}});
    ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo::exists(video); }, 5000));
    const qint64 started = clock.elapsedMs();
    EXPECT_TRUE(redDotShown(*tray));
    for (int step = 0; step < 20; ++step) {
        clock.advance(100);
        pumpFor(10);
    }
    page->send(QJsonObject{{"command", 10023}});
    ASSERT_TRUE(testenv::waitFor([&] { return !tray->recorder->isRecording(); }, 10000));
    EXPECT_EQ(tray->imageProcessing->videoWriter, nullptr);
    const double seconds = (clock.elapsedMs() - started) / 1000.0;

    cv::VideoCapture file(QFile::encodeName(video).toStdString());
    ASSERT_TRUE(file.isOpened());
    EXPECT_NEAR(file.get(cv::CAP_PROP_FPS), 10.0, 0.01);
    const double frames = file.get(cv::CAP_PROP_FRAME_COUNT);
    EXPECT_NEAR(frames / 10.0, seconds, 0.5) << frames << " frames";
    EXPECT_EQ(file.get(cv::CAP_PROP_FRAME_WIDTH), 1280);
    EXPECT_EQ(page->messages.size(), 1);   // 20000 only: recording answers nothing
}

TEST_F(TrayTest, PageRecordingIsPacedByTheStationRecorder)
{
    // The recorder's clock stands still unless the test moves it: the file
    // holds the frames of the time the clock says, whatever the real time.
    auto page = connectPage();
    startPreview(*page);
    FakeClock clock;   // once the camera runs, as for the recording above
    const QString video = docPath(QStringLiteral("paced.avi"));
    page->send(QJsonObject{{"command", 10022}, {"filepath", video}});
    ASSERT_TRUE(testenv::waitFor([&] { return tray->recorder->isRecording(); }, 5000));
    pumpFor(300);   // real ticks pass; the recorder's time does not
    clock.advance(3000);
    page->send(QJsonObject{{"command", 10023}});
    ASSERT_TRUE(testenv::waitFor([&] { return !tray->recorder->isRecording(); }, 5000));
    EXPECT_EQ(tray->imageProcessing->videoWriter, nullptr);
    cv::VideoCapture file(QFile::encodeName(video).toStdString());
    ASSERT_TRUE(file.isOpened());
    EXPECT_NEAR(file.get(cv::CAP_PROP_FPS), 10.0, 0.01);
    EXPECT_EQ(file.get(cv::CAP_PROP_FRAME_COUNT), 30);

    // A file that cannot be made leaves nothing recording behind it.
    const QString nowhere = docPath(QStringLiteral("missing/clip.avi"));
    page->send(QJsonObject{{"command", 10022}, {"filepath", nowhere}});
    pumpFor(300);
    EXPECT_FALSE(tray->recorder->isRecording());
    EXPECT_EQ(tray->imageProcessing->videoWriter, nullptr);
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    page->send(QJsonObject{{"command", 10023}});
    pumpFor(100);
    EXPECT_EQ(page->messages.size(), 1);   // 20000 only: recording answers nothing

    // The stop returns while the writer is still busy; what the page asks
    // next is answered once the file is complete, in the order asked.
    const QString slow = docPath(QStringLiteral("slow.avi"));
    page->send(QJsonObject{{"command", 10022}, {"filepath", slow}});
    ASSERT_TRUE(testenv::waitFor([&] { return tray->recorder->isRecordingVideo(); }, 5000));
    clock.advance(1000);
    QSemaphore writerBusy, writerFree;
    const auto holdWriter = [&] {
        tray->recorder->onWriteThread([&] {
            writerBusy.release();
            writerFree.tryAcquire(1, 10000);
        });
        ASSERT_TRUE(writerBusy.tryAcquire(1, 10000));
    };
    holdWriter();
    page->send(QJsonObject{{"command", 10023}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", slow}});
    ASSERT_TRUE(testenv::waitFor([&] { return !tray->recorder->isRecordingVideo(); }, 5000));
    pumpFor(300);
    EXPECT_EQ(page->count(20021), 0) << "answered before the file was finished";
    EXPECT_TRUE(tray->recorder->isRecording());
    writerFree.release();
    const QJsonObject read = page->waitFor(20021, 10000);
    EXPECT_EQ(read.value("result").toString(), QStringLiteral("1"));
    EXPECT_TRUE(recordedvideo::complete(slow));
    EXPECT_FALSE(tray->recorder->isRecording());
    cv::VideoCapture finished(QFile::encodeName(slow).toStdString());
    EXPECT_EQ(finished.get(cv::CAP_PROP_FRAME_COUNT), 10);

    // The station quits while a stop is being finished: the file is complete.
    const QString last = docPath(QStringLiteral("last.avi"));
    page->send(QJsonObject{{"command", 10022}, {"filepath", last}});
    ASSERT_TRUE(testenv::waitFor([&] { return tray->recorder->isRecordingVideo(); }, 5000));
    clock.advance(500);
    holdWriter();
    page->send(QJsonObject{{"command", 10023}});
    ASSERT_TRUE(testenv::waitFor([&] { return !tray->recorder->isRecordingVideo(); }, 5000));
    writerFree.release();
    tray.reset();
    EXPECT_TRUE(recordedvideo::complete(last));
    cv::VideoCapture quit(QFile::encodeName(last).toStdString());
    EXPECT_EQ(quit.get(cv::CAP_PROP_FRAME_COUNT), 5);
}

// A camera slow enough that a read is under way whenever a page closes it.
class SlowCameraTest : public TrayTest
{
protected:
    QString cameraEntries() const override { return QStringLiteral("synthetic:sizes=1280x720,fps=1"); }
};

TEST_F(SlowCameraTest, NothingIsCapturedOrRecordedOnceThePageClosedTheCamera)
{
    auto page = connectPage();
    startPreview(*page);
    page->send(QJsonObject{{"command", 10001}, {"code", 0}});
    ImageProcessing &capture = *tray->imageProcessing;
    ASSERT_TRUE(testenv::waitFor([&] { return !capture.cameraOpen; }, 5000));
    const int framesAtClose = page->frames;
    pumpFor(2000);   // the read that was under way has ended meanwhile
    EXPECT_TRUE(capture.currentFrame().empty()) << "a picture from before the close is kept";
    EXPECT_EQ(page->frames, framesAtClose);

    const int from = page->messages.size();
    page->send(QJsonObject{{"command", 10003}, {"quality", 80}});
    EXPECT_TRUE(page->waitFor(20003, 10000, from).value("pic").toString().isEmpty());
    const QString photo = docPath(QStringLiteral("closed.jpg"));
    page->send(QJsonObject{{"command", 10002}, {"path", photo}, {"quality", 80}});
    EXPECT_EQ(page->waitFor(20002, 10000, from).value("result").toInt(), 0);
    EXPECT_FALSE(QFileInfo::exists(photo));
    const QString video = docPath(QStringLiteral("closed.avi"));
    page->send(QJsonObject{{"command", 10022}, {"filepath", video}});
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});   // a probe
    ASSERT_FALSE(page->waitFor(20021, 5000, from).isEmpty());
    EXPECT_FALSE(tray->recorder->isRecording());
    EXPECT_FALSE(QFileInfo::exists(video));
    EXPECT_FALSE(redDotShown(*tray));
}

// Where the launcher page sends the browser (the address in its script).
QUrl redirectTarget(const QString &launcher)
{
    QFile file(launcher);
    if (!file.open(QIODevice::ReadOnly))
        return QUrl();
    const QRegularExpression literal(QStringLiteral("var target = (\"(?:[^\"\\\\]|\\\\.)*\");"));
    const QRegularExpressionMatch match = literal.match(QString::fromUtf8(file.readAll()));
    if (!match.hasMatch())
        return QUrl();
    const QJsonArray value = QJsonDocument::fromJson("[" + match.captured(1).toUtf8() + "]").array();
    return QUrl::fromEncoded(value.at(0).toString().toUtf8());
}

class DemoPageTest : public TrayTest
{
protected:
    void beforeTray() override
    {
        ASSERT_TRUE(appDir.isValid());
        QDir().mkpath(appDir.path() + QStringLiteral("/Resources/tavel-web"));
        QFile page(demoPage());
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        Cache::config->appDir = appDir.path();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    }
    void TearDown() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        TrayTest::TearDown();
    }
    QString demoPage() const { return appDir.path() + QStringLiteral("/Resources/tavel-web/wsVideoDemo.html"); }
    QTemporaryDir appDir;
    UrlCatcher catcher;
};

TEST_F(DemoPageTest, DemoPageOpensThroughAPrivateLauncherWithThisStartsToken)
{
    ASSERT_EQ(catcher.opened.size(), 1);
    const QUrl opened = catcher.opened.first();
    ASSERT_TRUE(opened.isLocalFile());
    EXPECT_FALSE(opened.hasQuery());   // openers may drop it
    const QString launcher = opened.toLocalFile();
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(launcher).constData(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    const QUrl url = redirectTarget(launcher);
    EXPECT_EQ(url.toLocalFile(), demoPage());
    const QString token = QUrlQuery(url).queryItemValue(QStringLiteral("token"));
    EXPECT_EQ(token, tray->accessPolicy->demoToken());
    Page demo(QStringLiteral("null"));   // a page opened from a file
    EXPECT_TRUE(demo.open(port, QStringLiteral("/?token=") + token));
    // No logo in this application directory: the label stays empty.
    EXPECT_TRUE(tray->ui->label->pixmap(Qt::ReturnByValue).isNull());

    tray.reset();
    EXPECT_FALSE(QFileInfo::exists(launcher));
}

class PageTurnTest : public TrayTest
{
protected:
    QString cameraEntries() const override
    {
        return QStringLiteral("synthetic:sizes=1280x720,fps=15,page=2");
    }

    FakeClock clock;   // before the tray and its camera: page turns and settling run on it
};

TEST_F(PageTurnTest, SceneChangeAsksThePageToCapture)
{
    auto page = connectPage();
    page->send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}, {"autograp", 1}});
    ASSERT_FALSE(page->waitFor(20000).isEmpty());
    EXPECT_TRUE(Cache::config->autoCaptureOn);
    // The clock moves on 200 ms with every frame the page receives, so the
    // watcher sees the pages the camera shows at each moment.
    clock.advance(100);   // the loop's idle wait before the camera opened ends
    int framesSeen = 0;
    while (page->count(20007) == 0 && clock.elapsedMs() < 15000) {
        ASSERT_TRUE(testenv::waitFor([&] { return page->frames > framesSeen; }, 5000));
        framesSeen = page->frames;
        clock.advance(200);
    }
    const QJsonObject change = page->waitFor(20007);
    ASSERT_FALSE(change.isEmpty());
    EXPECT_EQ(change.keys(), QStringList{"command"});
}

} // namespace
