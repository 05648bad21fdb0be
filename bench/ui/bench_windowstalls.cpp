// The window thread's longest stall during the station's slow actions: a
// probe timer fires every few milliseconds on the window's thread and the
// worst lateness of its ticks is the longest time the window stood still
// (no repaint, no click answered) while the action ran.
//
//   bench_windowstalls --action ACTION [--size WxH] [--probe MS]
//
// ACTION is one of
//   idle            nothing: the window on its camera (the floor of this machine)
//   close-view      close a second-camera view showing its camera
//   service-10012   service mode: switch the camera with command 10012
//   service-10001   service mode: start the preview with command 10001
//   inset           a photo with a second camera's picture as an inset
//   record          record the camera's picture for three seconds
//   thumbnail       a new photo file into the thumbnails and the export list
//   finger          a finger laid on the fingerprint sensor for three seconds
//
// --size is the camera size of the slow side (the second camera for
// "inset", the recorded camera, the photo file), default 3264x2448. The
// fingerprint action needs the plug-in and an algorithm library on
// LD_LIBRARY_PATH. Run it in a scratch directory: it writes "system.ini",
// photos and a video there. Built a second time against another build of
// the station (DOCSTATION_BENCH_BASELINE), the same actions run on that code.
#include "cache.h"
#include "camerainfo.h"
#include "cameraviewdialog.h"
#include "config.h"
#include "dialog.h"
#include "formsystemtray.h"
#include "imageprocessing.h"
#include "mainwindowqcamera.h"
#include "qcameraview.h"
#include "qxsensorcore_sim.h"
#include "startup.h"
#include "ui_mainwindowqcamera.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

// Ticks on the window's thread; the worst gap beyond its period is the
// longest stall since reset().
class StallProbe
{
public:
    explicit StallProbe(int periodMs) : periodMs(periodMs)
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last - this->periodMs);
            last = now;
        });
        clock.start();
        timer.start(periodMs);
    }
    void reset()
    {
        last = clock.elapsed();
        worst = 0;
    }
    qint64 worstMs() const { return worst; }

private:
    const int periodMs;
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
};

// Runs the event loop for `ms`, starting `action` from inside it.
void runFor(int ms, const std::function<void()> &action = {})
{
    QEventLoop loop;
    if (action)
        QTimer::singleShot(0, action);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > limitMs)
            return false;
        runFor(20);
    }
    return true;
}

void report(const char *action, const char *phase, qint64 worstMs)
{
    std::printf("%-14s %-28s worst stall %5lld ms\n", action, phase, static_cast<long long>(worstMs));
    std::fflush(stdout);
}

void useCameras(const QString &entries)
{
    qputenv("DOCSTATION_VIRTUAL_CAMERAS", entries.toUtf8());
    Config &config = *Cache::config;
    *Cache::cameras = Startup::findCameras();
    config.outResolutions.clear();
    Startup::fillOutResolutions(config);
    Startup::fillImageFormats(config);
}

QString synthetic(const QString &size, int seed)
{
    return QStringLiteral("synthetic:sizes=%1,fps=10,seed=%2").arg(size).arg(seed);
}

bool waitForPicture(QCameraView *view)
{
    return runUntil([view] { return !view->isSwitching() && !view->currentImage().isNull(); }, 30000);
}

int idle(StallProbe &probe)
{
    useCameras(synthetic(QStringLiteral("1280x720"), 1));
    MainWindowQCamera window;
    window.show();
    if (!waitForPicture(window.preview()))
        return 1;
    runFor(1000);
    for (int round = 1; round <= 3; ++round) {
        probe.reset();
        runFor(2000);
        report("idle", "2 s of live picture", probe.worstMs());
    }
    return 0;
}

int closeView(StallProbe &probe)
{
    useCameras(synthetic(QStringLiteral("1280x720"), 1) + ';' + synthetic(QStringLiteral("1280x720"), 2));
    MainWindowQCamera window;
    window.show();
    if (!waitForPicture(window.preview()))
        return 1;
    window.form()->btnSecCamCon_2->click();
    if (!waitForPicture(window.childView(1)->preview()))
        return 1;
    runFor(1000);
    probe.reset();
    runFor(1500, [&] { window.form()->btnSecCamCon_2->click(); });
    report("close-view", "close and 1.5 s after", probe.worstMs());
    return 0;
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

int serviceSwitch(StallProbe &probe, int command)
{
    useCameras(synthetic(QStringLiteral("1280x720"), 1) + ';' + synthetic(QStringLiteral("1280x720"), 2) + ';'
               + synthetic(QStringLiteral("1280x720"), 3));
    Config &config = *Cache::config;
    config.webSocketMode = true;
    config.thirdDeviceMain = false;
    qputenv("DOCSTATION_WS_PORT", QByteArray::number(freePort()));
    FormSystemTray tray;
    const auto send = [&tray](const QJsonObject &request) {
        tray.processTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    };
    // camidx 1 starts the preview on the first camera.
    send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 1}});
    if (!runUntil([&] { return tray.imageProcessing->hasLiveFrame(); }, 30000))
        return 1;
    runFor(1000);
    probe.reset();
    if (command == 10012)
        runFor(2000, [&] { send(QJsonObject{{"command", 10012}, {"camidx", 2}}); });
    else
        runFor(2000, [&] { send(QJsonObject{{"command", 10001}, {"code", 1}, {"camidx", 0}}); });
    report(command == 10012 ? "service-10012" : "service-10001", "switch and 2 s after",
           probe.worstMs());
    return 0;
}

int inset(StallProbe &probe, const QString &size)
{
    Config &config = *Cache::config;
    useCameras(synthetic(QStringLiteral("1280x720"), 1) + ';' + synthetic(size, 2));
    // The second camera keeps its full size while its view is open.
    config.paintingOtherResolution = config.outResolutions.size();
    MainWindowQCamera window;
    window.show();
    if (!waitForPicture(window.preview()))
        return 1;
    window.form()->btnSecCamCon_2->click();
    if (!waitForPicture(window.childView(1)->preview()) || !waitForPicture(window.preview()))
        return 1;
    window.form()->chMergeImage_2->setChecked(true);
    runFor(1000);
    for (int shot = 1; shot <= 3; ++shot) {
        int photos = 0;
        auto connection = QObject::connect(window.preview(), &QCameraView::sendTakePhotoImageSignal,
                                           [&photos](QList<QString>, int) { ++photos; });
        probe.reset();
        runFor(300, [&] { window.form()->btnShooting->click(); });
        runUntil([&] { return photos > 0; }, 20000);
        runFor(500);
        QObject::disconnect(connection);
        report("inset", "photo until thumbnail", probe.worstMs());
    }
    return 0;
}

int record(StallProbe &probe, const QString &size)
{
    useCameras(synthetic(size, 1));
    MainWindowQCamera window;
    window.show();
    if (!waitForPicture(window.preview()))
        return 1;
    runFor(1000);
    probe.reset();
    runFor(300, [&] { window.form()->btnShootingVideo->click(); });
    report("record", "start", probe.worstMs());
    probe.reset();
    runFor(3000);
    report("record", "3 s of recording", probe.worstMs());
    probe.reset();
    runFor(1000, [&] { window.form()->btnShootingVideo->click(); });
    report("record", "stop and 1 s after", probe.worstMs());
    std::printf("%-14s frames written: %d\n", "record", window.preview()->recordedFrames());
    return 0;
}

int thumbnail(StallProbe &probe, const QString &size)
{
    useCameras(synthetic(QStringLiteral("640x480"), 1));
    const QStringList parts = size.split('x');
    cv::Mat picture(parts.value(1).toInt(), parts.value(0).toInt(), CV_8UC3);
    cv::randu(picture, cv::Scalar::all(0), cv::Scalar::all(255));
    cv::GaussianBlur(picture, picture, cv::Size(9, 9), 3);
    const QString photo = Cache::config->documentsLocation + QStringLiteral("/bench_photo.jpg");
    cv::imwrite(photo.toStdString(), picture);
    MainWindowQCamera window;
    window.show();
    if (!waitForPicture(window.preview()))
        return 1;
    window.form()->btnSavePdfTiff->click();
    runFor(1000);
    for (int round = 1; round <= 3; ++round) {
        probe.reset();
        runFor(1500, [&] { window.takePhotoImage({photo}, 0); });
        report("thumbnail", "thumbnail and export icon", probe.worstMs());
    }
    return 0;
}

int finger(StallProbe &probe)
{
    qxsim_reset();
    const int sensor = qxsim_add_sensor(6997, 292, 3, 1);
    Dialog dialog;
    dialog.show();
    dialog.init();
    auto *box = dialog.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    if (!box || box->toPlainText() != QStringLiteral("连接成功!")) {
        std::fprintf(stderr, "finger: the sensor did not open (%s)\n",
                     box ? qPrintable(box->toPlainText()) : "");
        return 1;
    }
    runFor(500);
    for (int round = 1; round <= 3; ++round) {
        box->clear();
        probe.reset();
        runFor(3000, [&] {
            QXSimFinger placed = qxsim_default_finger();
            placed.present = 1;
            placed.finger_id = 1;
            qxsim_set_finger(sensor, &placed);
        });
        QXSimFinger lifted = qxsim_default_finger();
        lifted.present = 0;
        qxsim_set_finger(sensor, &lifted);
        report("finger", qPrintable(QStringLiteral("3 s on the glass: %1").arg(box->toPlainText())),
               probe.worstMs());
        runFor(500);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QString action;
    QString size = QStringLiteral("3264x2448");
    int probeMs = 5;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--action") && hasValue)
            action = QString::fromLatin1(argv[++i]);
        else if (!std::strcmp(argv[i], "--size") && hasValue)
            size = QString::fromLatin1(argv[++i]);
        else if (!std::strcmp(argv[i], "--probe") && hasValue)
            probeMs = std::max(1, std::atoi(argv[++i]));
    }
    QApplication app(argc, argv);
    Config &config = *Cache::config;
    config.appDir = QStringLiteral(DOCSTATION_BUILT_APP_DIR);
    config.documentsLocation = QDir::currentPath() + QStringLiteral("/photos");
    QDir().mkpath(config.documentsLocation);
    config.cameraIndex = 0;
    config.resolution = 0;
    config.thirdDeviceMain = false;
    config.fourcc = 0;   // MJPG, the factory setting

    StallProbe probe(probeMs);
    if (action == QLatin1String("idle"))
        return idle(probe);
    if (action == QLatin1String("close-view"))
        return closeView(probe);
    if (action == QLatin1String("service-10012"))
        return serviceSwitch(probe, 10012);
    if (action == QLatin1String("service-10001"))
        return serviceSwitch(probe, 10001);
    if (action == QLatin1String("inset"))
        return inset(probe, size);
    if (action == QLatin1String("record"))
        return record(probe, size);
    if (action == QLatin1String("thumbnail"))
        return thumbnail(probe, size);
    if (action == QLatin1String("finger"))
        return finger(probe);
    std::fprintf(stderr, "unknown --action %s\n", qPrintable(action));
    return 2;
}
