// The service window on a synthetic virtual camera, measured as pages see it:
//
//   bench_service [--size WxH] [--fps N] [--seconds S] [--clients 1,4,8]
//
// Defaults: 1920x1080 at 30 fps, web size 640x480, 8 s measured after 3 s of
// warm-up for each client count; then 4 pages beside one that never reads.
// Latency is taken from the capture thread's hand-over of a Base64 frame to
// its arrival at a page. The last table compares the cost of one pushed frame
// (web canvas + Base64 + JSON + send) with the bare floor (resize + JPEG +
// Base64). The pages run in this process, so the CPU figures include their
// share of receiving. Run it in a scratch directory: it writes "system.ini".
#include "base64.h"
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "formsystemtray.h"
#include "imageprocessing.h"
#include "virtualcameras.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketServer>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void pump(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(300);
    }
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// When each Base64 frame left the capture thread, by a short key of its text.
struct HandOvers
{
    QMutex mutex;
    QHash<QByteArray, qint64> at;
    QElapsedTimer clock;
    static QByteArray key(const QString &base64)
    {
        return QCryptographicHash::hash(base64.right(256).toLatin1(), QCryptographicHash::Md5);
    }
};

struct Page
{
    QWebSocket socket;
    int frames = 0;
    std::vector<double> latencyMs;
};

struct Run
{
    int clients = 0;
    std::vector<double> fps;
    double cpuPercent = 0;
    double medianLatency = 0;
    double p95Latency = 0;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

Run measure(int clients, bool withStalled, int warmupMs, int measureMs)
{
    const quint16 port = freePort();
    qputenv("DOCSTATION_WS_PORT", QByteArray::number(port));
    auto tray = std::make_unique<FormSystemTray>();
    HandOvers handOvers;
    handOvers.clock.start();
    QObject::connect(tray->imageProcessing, &ImageProcessing::sendImageBase64Signal, tray->imageProcessing,
                     [&handOvers](QString base64) {
                         QMutexLocker lock(&handOvers.mutex);
                         handOvers.at.insert(HandOvers::key(base64), handOvers.clock.elapsed());
                     }, Qt::DirectConnection);

    std::unique_ptr<QTcpSocket> stalled;
    if (withStalled) {
        stalled = std::make_unique<QTcpSocket>();
        stalled->setReadBufferSize(1);
        stalled->connectToHost(QHostAddress::LocalHost, port);
        stalled->waitForConnected(3000);
        stalled->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    }
    std::vector<std::unique_ptr<Page>> pages;
    for (int i = 0; i < clients; ++i) {
        auto page = std::make_unique<Page>();
        Page *raw = page.get();
        QObject::connect(&raw->socket, &QWebSocket::textMessageReceived, [raw, &handOvers](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.value(QStringLiteral("command")).toInt() != 20001)
                return;
            ++raw->frames;
            const qint64 now = handOvers.clock.elapsed();
            QMutexLocker lock(&handOvers.mutex);
            const auto sent = handOvers.at.constFind(HandOvers::key(message.value(QStringLiteral("video")).toString()));
            if (sent != handOvers.at.constEnd())
                raw->latencyMs.push_back(double(now - *sent));
        });
        raw->socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
        pages.push_back(std::move(page));
    }
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 5000
           && std::any_of(pages.begin(), pages.end(), [](const std::unique_ptr<Page> &p) {
                  return p->socket.state() != QAbstractSocket::ConnectedState;
              }))
        pump(10);
    const QJsonObject start{{"command", 10001}, {"code", 1}, {"camidx", 1}, {"width", 0}, {"height", 0},
                            {"videoCanvas_width", 640}, {"videoCanvas_height", 480}};
    pages.front()->socket.sendTextMessage(QString::fromUtf8(QJsonDocument(start).toJson()));
    pump(warmupMs);

    for (auto &page : pages) {
        page->frames = 0;
        page->latencyMs.clear();
    }
    const double cpuBefore = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    pump(measureMs);
    const double seconds = timer.elapsed() / 1000.0;
    Run run;
    run.clients = clients;
    run.cpuPercent = 100.0 * (cpuSeconds() - cpuBefore) / seconds;
    std::vector<double> latencies;
    for (auto &page : pages) {
        run.fps.push_back(page->frames / seconds);
        latencies.insert(latencies.end(), page->latencyMs.begin(), page->latencyMs.end());
    }
    run.medianLatency = percentile(latencies, 0.5);
    run.p95Latency = percentile(latencies, 0.95);
    if (stalled)
        stalled->abort();
    pages.clear();
    tray.reset();
    return run;
}

void printRun(const char *label, const Run &run, double cameraFps)
{
    double low = 1e9, high = 0, sum = 0;
    for (double f : run.fps) {
        low = std::min(low, f);
        high = std::max(high, f);
        sum += f;
    }
    std::printf("%-22s %7d %8.1f %8.1f %8.1f %7.2f %9.1f %9.1f %9.1f\n", label, run.clients,
                sum / double(run.fps.size()), low, high, sum / double(run.fps.size()) / cameraFps,
                run.cpuPercent, run.cpuPercent / run.clients, run.medianLatency);
    std::printf("%-22s %7s %8s %8s %8s %7s %9s %9s %9.1f (p95)\n", "", "", "", "", "", "", "", "",
                run.p95Latency);
}

// One pushed frame against the floor, on a frame of the camera's size.
void compareFrameCost(const QSize &size)
{
    ImageProcessing capture;
    capture.setWebSize(640, 480);
    cv::Mat frame(size.height(), size.width(), CV_8UC3);
    cv::randu(frame, 0, 255);
    cv::GaussianBlur(frame, frame, cv::Size(15, 15), 0);   // camera-like, not noise
    const QImage image = ImageProcessing::MatQImage(frame);
    QWebSocketServer server(QStringLiteral("bench"), QWebSocketServer::NonSecureMode);
    server.listen(QHostAddress::LocalHost, 0);
    QWebSocket client;
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(server.serverPort())));
    QWebSocket *peer = nullptr;
    QElapsedTimer wait;
    wait.start();
    while (!peer && wait.elapsed() < 3000) {
        pump(5);
        if (server.hasPendingConnections())
            peer = server.nextPendingConnection();
    }
    int received = 0;
    QObject::connect(&client, &QWebSocket::textMessageReceived, [&received](const QString &) { ++received; });

    const int rounds = 60;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i) {
        const QString base64 = capture.image2Data(image);
        const QJsonObject message{{"command", 20001}, {"video", base64}};
        if (peer)
            peer->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
        QCoreApplication::processEvents();
    }
    const double pushed = timer.nsecsElapsed() / 1e6 / rounds;

    timer.restart();
    for (int i = 0; i < rounds; ++i) {
        cv::Mat small;
        cv::resize(frame, small, cv::Size(640, 360), 0, 0, cv::INTER_AREA);
        std::vector<uchar> jpeg;
        cv::imencode(".jpg", small, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90});
        const std::string text = base64::encode(jpeg.data(), int(jpeg.size()));
        (void)text;
    }
    const double floor = timer.nsecsElapsed() / 1e6 / rounds;
    std::printf("\nper-frame cost at %dx%d -> 640x480: pushed frame %.2f ms, floor %.2f ms, ratio %.2f\n",
                size.width(), size.height(), pushed, floor, pushed / floor);
    delete peer;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QApplication app(argc, argv);
    QSize size(1920, 1080);
    int fps = 30;
    int seconds = 8;
    QList<int> counts{1, 4, 8};
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString option = QString::fromLocal8Bit(argv[i]);
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (option == QLatin1String("--size"))
            size = QSize(value.section(QLatin1Char('x'), 0, 0).toInt(), value.section(QLatin1Char('x'), 1, 1).toInt());
        else if (option == QLatin1String("--fps"))
            fps = value.toInt();
        else if (option == QLatin1String("--seconds"))
            seconds = value.toInt();
        else if (option == QLatin1String("--clients")) {
            counts.clear();
            for (const QString &n : value.split(QLatin1Char(',')))
                counts << n.toInt();
        }
    }
    Config &config = *Cache::config;
    config.webSocketMode = true;
    config.httpMode = false;
    config.resolution = 0;
    config.documentsLocation = QDir::currentPath() + QStringLiteral("/captures");
    QDir().mkpath(config.documentsLocation);
    config.appDir = QStringLiteral(DOCSTATION_BUILT_APP_DIR);
    *Cache::cameras = VirtualCameras::parse(
        QStringLiteral("synthetic:sizes=%1x%2,fps=%3").arg(size.width()).arg(size.height()).arg(fps));
    if (Cache::cameras->isEmpty()) {
        std::fprintf(stderr, "no synthetic camera in this build\n");
        return 1;
    }
    std::printf("camera %dx%d at %d fps, web size 640x480, %d s measured per row\n\n", size.width(),
                size.height(), fps, seconds);
    std::printf("%-22s %7s %8s %8s %8s %7s %9s %9s %9s\n", "run", "clients", "fps/page", "min", "max",
                "ratio", "cpu %", "cpu/page", "lat ms");
    for (int clients : counts)
        printRun("pages", measure(clients, false, 3000, seconds * 1000), fps);
    printRun("pages + 1 stalled", measure(4, true, 3000, seconds * 1000), fps);
    compareFrameCost(size);
    return 0;
}
