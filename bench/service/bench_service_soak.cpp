// Service mode over a long run with ordinary pages, measured on the real program.
//
//   bench_service_soak [--seconds S] [--pages N] [--fps N] [--station PATH]
//
// Starts docstation in service mode on a synthetic 1280x720 camera
// (15 fps by default) and connects N pages (default 8, native clients, no
// Origin). One page starts the preview at web size 640x480; every reading
// page sends a command about every two seconds, in turn: a Base64 capture
// (10003), a capture to a file in the working directory (10002) read back
// (10021), correction (10007), zoom in and out (10024, 10025). One further
// page stops reading after its handshake and leaves at half time. Reported:
// the station's resident memory after the first minute (or the first sixth
// of a shorter run) and at the end, the log's growth, and the frames per
// second each reading page received against the camera's rate.
// Default 600 s; `--seconds 90` is the short run.
#include "servicebench.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using servicebench::pump;
using servicebench::pumpUntil;

struct Settings {
    double seconds = 600;
    int pages = 8;
    int fps = 15;
    QString station = QStringLiteral(DOCSTATION_BUILT_APP_DIR "/docstation");
};

class Page : public QObject
{
public:
    explicit Page(int number) : number(number)
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            if (text.leftRef(40).contains(QLatin1String("20001")))
                ++frames;
            else
                ++replies;
        });
    }
    bool open(quint16 port)
    {
        return servicebench::openPage(socket, port);
    }
    void send(const QJsonObject &request)
    {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    }
    // The next command of the mix.
    void sendNext(const QString &documents)
    {
        const QString file = documents + QStringLiteral("/soak_%1.jpg").arg(number);
        switch (step++ % 6) {
        case 0: send({{"command", 10003}, {"quality", 80}}); break;
        case 1: send({{"command", 10002}, {"path", file}, {"quality", 80}}); break;
        case 2: send({{"command", 10021}, {"filepath", file}}); break;
        case 3: send({{"command", 10007}, {"bEnable", step % 2}}); break;
        case 4: send({{"command", 10024}}); break;
        default: send({{"command", 10025}}); break;
        }
    }

    QWebSocket socket;
    const int number;
    int step = 0;
    int frames = 0;
    int replies = 0;
};

Settings parse(const QStringList &args)
{
    Settings settings;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &key = args.at(i);
        const QString &value = args.at(i + 1);
        if (key == QLatin1String("--seconds"))
            settings.seconds = value.toDouble();
        else if (key == QLatin1String("--pages"))
            settings.pages = qMax(1, value.toInt());
        else if (key == QLatin1String("--fps"))
            settings.fps = value.toInt();
        else if (key == QLatin1String("--station"))
            settings.station = value;
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
    std::printf("bench_service_soak: %d pages (one stalls, then leaves) for %.0f s, 1280x720 camera at %d fps,"
                " web size 640x480\n", settings.pages, settings.seconds, settings.fps);

    servicebench::Station station;
    if (!station.start(settings.station,
                       QStringLiteral("synthetic:sizes=1280x720,fps=%1,sheets=2").arg(settings.fps))) {
        std::fprintf(stderr, "the station did not start (%s)\n", qPrintable(settings.station));
        return 1;
    }
    const qint64 startMemory = station.memoryKiB();
    const qint64 startLog = station.logBytes();

    std::vector<std::unique_ptr<Page>> pages;
    for (int i = 0; i + 1 < settings.pages; ++i) {
        pages.push_back(std::make_unique<Page>(i));
        if (!pages.back()->open(station.port)) {
            std::fprintf(stderr, "page %d could not connect\n", i);
            return 1;
        }
    }
    auto stalled = std::make_unique<servicebench::StalledPage>();
    if (!stalled->open(station.port))
        std::printf("the stalling page could not connect\n");
    pages.front()->send({{"command", 10001}, {"code", 1}, {"camidx", 1}, {"width", 0}, {"height", 0},
                         {"videoCanvas_width", 640}, {"videoCanvas_height", 480}});

    const qint64 totalMs = qint64(settings.seconds * 1000);
    const qint64 firstMinuteMs = std::min<qint64>(60000, totalMs / 6);
    qint64 memoryAfterFirst = 0, logAfterFirst = 0, peakMemory = 0;
    int framesAtFirst = 0;
    bool stalledLeft = false;
    QElapsedTimer clock;
    clock.start();
    qint64 nextCommandMs = 0;
    size_t nextPage = 0;
    // Each page's commands about every two seconds, spread over the pages.
    const qint64 commandEveryMs = 2000 / qint64(pages.size());
    while (clock.elapsed() < totalMs) {
        pump(50);
        const qint64 now = clock.elapsed();
        if (now >= nextCommandMs) {
            pages[nextPage]->sendNext(station.documents());
            nextPage = (nextPage + 1) % pages.size();
            nextCommandMs = now + commandEveryMs;
        }
        peakMemory = std::max(peakMemory, station.memoryKiB());
        if (!memoryAfterFirst && now >= firstMinuteMs) {
            memoryAfterFirst = station.memoryKiB();
            logAfterFirst = station.logBytes();
            framesAtFirst = pages.back()->frames;
        }
        if (!stalledLeft && now >= totalMs / 2) {
            stalled.reset();   // leaves
            stalledLeft = true;
        }
        if (station.process.state() != QProcess::Running) {
            std::printf("the station ended after %.0f s\n", now / 1000.0);
            return 1;
        }
    }
    const double wall = clock.elapsed() / 1000.0;
    pump(500);
    const qint64 endMemory = station.memoryKiB();
    const qint64 endLog = station.logBytes();

    std::vector<double> rates;
    for (auto &page : pages)
        rates.push_back(page->frames / wall);
    const double minRate = *std::min_element(rates.begin(), rates.end());
    const double maxRate = *std::max_element(rates.begin(), rates.end());
    const double afterFirstRate = (pages.back()->frames - framesAtFirst) / (wall - firstMinuteMs / 1000.0);
    std::printf("memory: start %lld KiB, after %.0f s %lld KiB, end %lld KiB, peak %lld KiB;"
                " end / after-first ratio %.2f\n",
                (long long)startMemory, firstMinuteMs / 1000.0, (long long)memoryAfterFirst,
                (long long)endMemory, (long long)peakMemory,
                memoryAfterFirst ? double(endMemory) / double(memoryAfterFirst) : 0.0);
    std::printf("log: %lld bytes in all, %lld after the first %.0f s; %.1f KiB per minute after it\n",
                (long long)(endLog - startLog), (long long)(logAfterFirst - startLog), firstMinuteMs / 1000.0,
                (endLog - logAfterFirst) / 1024.0 / ((wall - firstMinuteMs / 1000.0) / 60.0));
    std::printf("frames per reading page: min %.1f max %.1f fps (last page after the first %.0f s: %.1f),"
                " camera %d fps; ratio min / camera %.2f\n",
                minRate, maxRate, firstMinuteMs / 1000.0, afterFirstRate, settings.fps, minRate / settings.fps);
    int replies = 0;
    for (auto &page : pages)
        replies += page->replies;
    std::printf("replies received by the reading pages: %d\n", replies);
    return 0;
}
