// Service-mode preview delivery, measured on the real program.
//
//   bench_service [--seconds S] [--warmup S] [--clients 1,4,8] [--size WxH] [--fps N]
//                 [--station PATH] [--cost-frames N]
//
// Starts docstation in service mode (WebSocket only) on a synthetic camera
// (default 1920x1080 at 30 fps) that paints its read time into every frame,
// connects pages (QWebSocket, no Origin: a native client on this machine)
// that start the preview at web size 640x480, and reports for each number of
// pages: frames per second each page received, the station's CPU (total and
// per page), and camera-to-page latency (the painted time read back from
// the JPEG the first page received). Then one page stops reading (its
// socket fills up) and the others' rate is measured again. Last, in this
// process, the cost of one preview message (image2Data + JSON + send through
// the service window to one page) against the bare floor (resize + imencode
// + Base64) on the same frame.
#include "base64.h"
#include "cache.h"
#include "config.h"
#include "docscene.h"
#include "formsystemtray.h"
#include "imageprocessing.h"
#include "servicebench.h"
#include "timestamp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QWebSocket>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>


#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using servicebench::freePort;
using servicebench::pump;
using servicebench::pumpUntil;
using servicebench::StalledPage;
using servicebench::Station;

struct Settings {
    double seconds = 8;
    double warmup = 3;
    QList<int> clients{1, 4, 8};
    QSize size{1920, 1080};
    int fps = 30;
    QString station = QStringLiteral(DOCSTATION_BUILT_APP_DIR "/docstation");
    int costFrames = 150;
};

// Where the stamp area of a camera frame lands in the web canvas (the
// picture letterboxed on white, as the preview frames are made).
cv::Rect2d stampInCanvas(QSize frame, QSize canvas)
{
    const double aspect = double(frame.width()) / frame.height();
    int w = std::min(canvas.width(), frame.width());
    const int h = std::min(int(w / aspect), canvas.height());
    w = int(aspect * h);
    const double scale = double(w) / frame.width();
    const cv::Rect area = docscene::stampArea(cv::Size(frame.width(), frame.height()));
    return cv::Rect2d(canvas.width() / 2 - w / 2 + area.x * scale, canvas.height() / 2 - h / 2 + area.y * scale,
                      area.width * scale, area.height * scale);
}

// One page: counts preview frames; the first page also reads the time
// painted into each frame it receives.
class Page : public QObject
{
public:
    Page(bool measureLatency, cv::Rect2d stampArea)
        : measureLatency(measureLatency), stampArea(stampArea)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            const qint64 now = docscene::stampClock();
            if (!text.leftRef(40).contains(QLatin1String("20001"))) {
                ++replies;
                return;
            }
            ++frames;
            bytes += text.size();
            if (!this->measureLatency)
                return;
            const QString video = QJsonDocument::fromJson(text.toUtf8()).object().value("video").toString();
            const QByteArray jpeg = QByteArray::fromBase64(video.toLatin1());
            const cv::Mat picture = cv::imdecode(
                cv::Mat(1, jpeg.size(), CV_8UC1, const_cast<char *>(jpeg.constData())), cv::IMREAD_COLOR);
            std::int64_t stamp = 0;
            if (docscene::readTimestamp(picture, this->stampArea, &stamp))
                latencies.push_back(double(docscene::stampAge(stamp, now)));
            else
                ++unreadable;
        });
    }
    bool open(quint16 port)
    {
        return servicebench::openPage(socket, port);
    }
    void reset()
    {
        frames = 0;
        bytes = 0;
        latencies.clear();
        unreadable = 0;
    }

    QWebSocket socket;
    bool measureLatency;
    cv::Rect2d stampArea;
    int frames = 0;
    int replies = 0;
    qint64 bytes = 0;
    int unreadable = 0;
    std::vector<double> latencies;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * (values.size() - 1) + 0.5))];
}

void startPreview(Page &page, const Settings &settings)
{
    page.socket.sendTextMessage(QString::fromUtf8(QJsonDocument(QJsonObject{
        {"command", 10001}, {"code", 1}, {"camidx", 1}, {"width", settings.size.width()},
        {"height", settings.size.height()}, {"autocrop", 0}, {"autograp", 0},
        {"videoCanvas_width", 640}, {"videoCanvas_height", 480}}).toJson(QJsonDocument::Compact)));
}

struct Round {
    std::vector<double> rates;
    double cpuPercent = 0;
    std::vector<double> latencies;
    int unreadable = 0;
    double kilobytesPerFrame = 0;
};

// Measures what `pages` receive over `seconds`, after `warmup`.
Round measure(Station &station, std::vector<std::unique_ptr<Page>> &pages, const Settings &settings)
{
    pump(int(settings.warmup * 1000));
    for (auto &page : pages)
        page->reset();
    const double cpuBefore = station.cpu();
    QElapsedTimer clock;
    clock.start();
    pump(int(settings.seconds * 1000));
    const double wall = clock.elapsed() / 1000.0;
    Round round;
    round.cpuPercent = 100.0 * (station.cpu() - cpuBefore) / wall;
    for (auto &page : pages)
        round.rates.push_back(page->frames / wall);
    round.latencies = pages.front()->latencies;
    round.unreadable = pages.front()->unreadable;
    round.kilobytesPerFrame = pages.front()->frames ? pages.front()->bytes / 1024.0 / pages.front()->frames : 0;
    return round;
}

void printRound(const char *label, int pageCount, const Round &round, int fps)
{
    const double minRate = *std::min_element(round.rates.begin(), round.rates.end());
    double mean = 0;
    for (double rate : round.rates)
        mean += rate;
    mean /= double(round.rates.size());
    std::printf("%-22s pages %d: fps per page min %.1f mean %.1f (camera %d) | station CPU %.0f%% = %.1f%% per page"
                " | latency median %.0f ms p90 %.0f ms (%zu read, %d unreadable) | %.0f KiB/frame\n",
                label, pageCount, minRate, mean, fps, round.cpuPercent, round.cpuPercent / pageCount,
                percentile(round.latencies, 0.5), percentile(round.latencies, 0.9), round.latencies.size(),
                round.unreadable, round.kilobytesPerFrame);
    std::fflush(stdout);
}

std::vector<std::unique_ptr<Page>> openPages(int count, quint16 port, const Settings &settings)
{
    std::vector<std::unique_ptr<Page>> pages;
    const cv::Rect2d stamp = stampInCanvas(settings.size, QSize(640, 480));
    for (int i = 0; i < count; ++i) {
        pages.push_back(std::make_unique<Page>(i == 0, stamp));
        if (!pages.back()->open(port)) {
            std::fprintf(stderr, "page %d could not connect\n", i);
            pages.pop_back();
        }
    }
    return pages;
}

// Cost of one preview message through the service window against the bare
// floor, on one camera frame, both in this process.
void measureMessageCost(const Settings &settings)
{
    QTemporaryDir dir;
    Config &config = *Cache::config;
    config.init();
    config.webSocketMode = true;
    config.httpMode = false;
    config.appDir = QStringLiteral(DOCSTATION_BUILT_APP_DIR);
    config.documentsLocation = dir.path();
    const quint16 port = freePort();
    qputenv("DOCSTATION_WS_PORT", QByteArray::number(port));
    FormSystemTray tray;
    Page page(false, cv::Rect2d());
    if (!page.open(port) || !pumpUntil([&] { return tray.clients.size() == 1; }, 5000)) {
        std::printf("message cost: no page connected\n");
        return;
    }
    ImageProcessing &capture = *tray.imageProcessing;
    capture.setWebSize(640, 480);

    docscene::Options scene;
    scene.size = cv::Size(settings.size.width(), settings.size.height());
    scene.sheets = 2;
    const cv::Mat frame = docscene::render(scene).image;
    const QImage picture = ImageProcessing::MatQImage(frame);

    const int n = settings.costFrames;
    // Medians per frame: the machine may be shared, and one preempted frame
    // must not decide the figure.
    std::vector<double> full, encodeOnly, floor;
    size_t fullBytes = 0, floorBytes = 0;
    QElapsedTimer timer;
    const auto measureFloor = [&] {
        timer.start();
        const double aspect = double(frame.cols) / frame.rows;
        const int h = std::min(int(640 / aspect), 480);
        cv::Mat small;
        cv::resize(frame, small, cv::Size(int(aspect * h), h), 0, 0, cv::INTER_AREA);
        std::vector<uchar> jpeg;
        cv::imencode(".jpg", small, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90});
        const std::string text = base64::encode(jpeg.data(), int(jpeg.size()));
        floor.push_back(timer.nsecsElapsed() / 1e6);
        floorBytes += text.size();
    };
    int sent = 0;
    const auto measureMessage = [&] {
        timer.start();
        const QString base64 = capture.image2Data(picture);
        encodeOnly.push_back(timer.nsecsElapsed() / 1e6);
        tray.dealSignal(base64);
        tray.clients.first()->flush();
        full.push_back(timer.nsecsElapsed() / 1e6);
        fullBytes += size_t(base64.size());
        ++sent;
        pumpUntil([&] { return page.frames >= sent; }, 2000);   // drained, not timed
    };
    // Alternating which comes first, so neither always runs right after the
    // page has drained a message (caches cold).
    for (int i = 0; i < n; ++i) {
        if (i % 2 == 0) {
            measureFloor();
            measureMessage();
        } else {
            measureMessage();
            measureFloor();
        }
    }
    const double fullMs = percentile(full, 0.5), encodeMs = percentile(encodeOnly, 0.5);
    const double floorMs = percentile(floor, 0.5);
    std::printf("message cost (%dx%d frame, web 640x480, median of %d frames): image2Data + JSON + send %.2f ms"
                " (image2Data %.2f), floor resize + imencode + Base64 %.2f ms, ratio %.2f"
                " (%.0f vs %.0f KiB Base64)\n",
                settings.size.width(), settings.size.height(), n, fullMs, encodeMs, floorMs,
                fullMs / floorMs, fullBytes / 1024.0 / n, floorBytes / 1024.0 / n);
}

Settings parse(const QStringList &args)
{
    Settings settings;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &key = args.at(i);
        const QString &value = args.at(i + 1);
        if (key == QLatin1String("--seconds"))
            settings.seconds = value.toDouble();
        else if (key == QLatin1String("--warmup"))
            settings.warmup = value.toDouble();
        else if (key == QLatin1String("--fps"))
            settings.fps = value.toInt();
        else if (key == QLatin1String("--station"))
            settings.station = value;
        else if (key == QLatin1String("--cost-frames"))
            settings.costFrames = value.toInt();
        else if (key == QLatin1String("--size"))
            settings.size = QSize(value.section('x', 0, 0).toInt(), value.section('x', 1, 1).toInt());
        else if (key == QLatin1String("--clients")) {
            settings.clients.clear();
            for (const QString &n : value.split(','))
                settings.clients.append(n.toInt());
        }
    }
    return settings;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Settings settings = parse(app.arguments());
    std::printf("bench_service: %dx%d synthetic camera at %d fps, web size 640x480, %.0f s per round after %.0f s\n",
                settings.size.width(), settings.size.height(), settings.fps, settings.seconds, settings.warmup);

    Station station;
    if (!station.start(settings.station,
                       QStringLiteral("synthetic:sizes=%1x%2,fps=%3,stamp=1,sheets=2")
                           .arg(settings.size.width()).arg(settings.size.height()).arg(settings.fps))) {
        std::fprintf(stderr, "the station did not start (%s)\n", qPrintable(settings.station));
        return 1;
    }
    int most = 0;
    for (int count : settings.clients) {
        auto pages = openPages(count, station.port, settings);
        if (pages.empty())
            return 1;
        startPreview(*pages.front(), settings);
        printRound("all reading", int(pages.size()), measure(station, pages, settings), settings.fps);
        most = std::max(most, count);
    }

    // Four pages, and a fifth that stops reading.
    {
        auto pages = openPages(4, station.port, settings);
        startPreview(*pages.front(), settings);
        const Round before = measure(station, pages, settings);
        printRound("4 reading", 4, before, settings.fps);
        StalledPage stalled;
        if (!stalled.open(station.port)) {
            std::printf("stalled page could not connect\n");
        } else {
            printRound("4 reading + 1 stalled", 4, measure(station, pages, settings), settings.fps);
            std::printf("%-22s unread bytes held by the stalled page's socket: %lld\n", "",
                        (long long)stalled.socket.bytesAvailable());
        }
    }
    station.process.terminate();
    station.process.waitForFinished(5000);

    measureMessageCost(settings);
    return 0;
}
