// Runs the desktop main window on a synthetic virtual camera and reports how
// many camera frames reach the screen and what the process spends on them.
//
//   bench_preview [--size WxH] [--fps N] [--seconds S] [--warmup S]
//                 [--correction 0..3] [--shoot N] [--stay]
//                 [--children 0..2] [--child-size WxH] [--open export|merging]
//                 [--card none|gui|worker] [--format mjpg|yuyv] [--mode 0..3]
//
// Defaults: 1920x1080 at 30 fps, 10 s measured after 3 s, single correction,
// colour mode, window 1280x800. --shoot takes N photos before measuring (they
// fill the thumbnails); --stay keeps the window open afterwards (screenshots).
// --children opens that many second-camera views, each on a synthetic camera
// of its own (default 1280x720 at the same rate), before measuring. --open
// shows the export or the merging dialog before the photos are taken, so
// they collect them.
// --card lays a resident card on the simulated reader (realistic SAM timing)
// and polls it every 33 ms: "worker" through the card dialog as the program
// does, "gui" with the reader exchanges on the GUI thread (the old way).
// --format is what the station asks the camera for (default mjpg, the
// factory setting: JPEG frames decoded on every read, as a real camera's);
// --mode is the colour mode (0 colour, 1 grey, 2 black-and-white, 3
// black-and-white keeping red seals).
// Run it in a scratch directory: it writes "system.ini" and photos there.
#include "cache.h"
#include "camerainfo.h"
#include "cameraviewdialog.h"
#include "cardreaderworker.h"
#include "cardreading.h"
#include "config.h"
#include "idcarddialog.h"
#include "imageprocessing.h"
#include "mainwindowqcamera.h"
#include "qcameraview.h"
#include "qxident.h"
#include "qxsim_usb.h"
#include "startup.h"
#include "ui_mainwindowqcamera.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

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
        QThread::usleep(500);
    }
}

// The card steps of the dialog run on the GUI thread, one every 33 ms, as
// before the reader got its worker.
void pollOnGuiThread(IDCardDialog *dialog, QTimer *timer, int *cardReads)
{
    if (QXID_Init() <= 0)
        return;
    const int port = QXID_OpenPort(0);
    if (port < 0 || QXID_GetSAMStatus(port, 0) < 0)
        return;
    QObject::connect(timer, &QTimer::timeout, dialog, [dialog, port, cardReads] {
        CardReading reading = cardreading::readOnce(port);
        if (!reading.complete)
            return;
        ++*cardReads;
        Tidentify_info info;
        std::memcpy(&info, reading.text.constData(), sizeof info);
        dialog->read_identfy_info(info);
        dialog->writePhoto(reinterpret_cast<unsigned char *>(reading.photo.data()),
                           int(reading.photoLength));
    });
    timer->start(33);
}

} // namespace

int main(int argc, char **argv)
{
    QString size = QStringLiteral("1920x1080");
    int fps = 30;
    int seconds = 10;
    int warmup = 3;
    int correction = 1;
    int shots = 0;
    bool stay = false;
    QString card = QStringLiteral("none");
    int children = 0;
    QString childSize = QStringLiteral("1280x720");
    QString openDialog;
    QString format = QStringLiteral("mjpg");
    int mode = 0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "--size") && hasValue)
            size = QString::fromLatin1(argv[++i]);
        else if (!strcmp(argv[i], "--fps") && hasValue)
            fps = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--seconds") && hasValue)
            seconds = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--warmup") && hasValue)
            warmup = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--correction") && hasValue)
            correction = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--shoot") && hasValue)
            shots = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--stay"))
            stay = true;
        else if (!strcmp(argv[i], "--card") && hasValue)
            card = QString::fromLatin1(argv[++i]);
        else if (!strcmp(argv[i], "--children") && hasValue)
            children = qBound(0, atoi(argv[++i]), 2);
        else if (!strcmp(argv[i], "--child-size") && hasValue)
            childSize = QString::fromLatin1(argv[++i]);
        else if (!strcmp(argv[i], "--open") && hasValue)
            openDialog = QString::fromLatin1(argv[++i]);
        else if (!strcmp(argv[i], "--format") && hasValue)
            format = QString::fromLatin1(argv[++i]);
        else if (!strcmp(argv[i], "--mode") && hasValue)
            mode = qBound(0, atoi(argv[++i]), 3);
    }
    QString cameras = QStringLiteral("synthetic:sizes=%1,fps=%2").arg(size).arg(fps);
    for (int child = 1; child <= children; ++child)
        cameras += QStringLiteral(";synthetic:sizes=%1,fps=%2,seed=%3,name=Side camera %4")
                       .arg(childSize)
                       .arg(fps)
                       .arg(child + 1)
                       .arg(child);
    qputenv("DOCSTATION_VIRTUAL_CAMERAS", cameras.toUtf8());
    QApplication app(argc, argv);

    Config &config = *Cache::config;
    config.appDir = QStringLiteral(DOCSTATION_BUILT_APP_DIR);
    config.documentsLocation = QDir::currentPath() + QStringLiteral("/photos");
    QDir().mkpath(config.documentsLocation);
    config.cameraIndex = 0;
    config.resolution = 0;
    config.thirdDeviceMain = false;   // views show cameras 1 and 2
    config.fourcc = format == QLatin1String("yuyv") ? 1 : 0;   // the settings' MJPG / YUYV entries
    *Cache::cameras = Startup::findCameras();
    if (Cache::cameras->isEmpty()) {
        std::fprintf(stderr, "no virtual camera\n");
        return 1;
    }
    Startup::fillOutResolutions(config);
    Startup::fillImageFormats(config);

    MainWindowQCamera window;
    window.resize(1280, 800);
    window.show();
    Ui::MainWindowQCamera *ui = window.form();
    QAbstractButton *modes[] = {ui->rb_Shooting_10, ui->rb_Shooting_11, ui->rb_Shooting_12,
                                ui->rb_Shooting_13};
    modes[mode]->click();
    QAbstractButton *corrections[] = {ui->rb_correction_10, ui->rb_correction_11,
                                      ui->rb_correction_12, ui->rb_correction_13};
    corrections[qBound(0, correction, 3)]->click();

    QCameraView *view = window.preview();
    QElapsedTimer opening;
    opening.start();
    while (view->isSwitching() && opening.elapsed() < 20000)
        pump(50);
    qxsim_usb_sam().set_card(qxsim::CardKind::Resident);
    qxsim_usb_sam().set_realistic_timing(true);
    IDCardDialog *cards = window.findChild<IDCardDialog *>();
    QTimer guiThreadPolling;
    int cardReads = 0;
    if (card == QLatin1String("worker")) {
        QObject::connect(cards->findChild<CardReaderWorker *>(), &CardReaderWorker::cardRead, cards,
                         [&cardReads](const CardReading &reading) { cardReads += reading.complete; });
        window.on_btnIDCard_clicked();
    } else if (card == QLatin1String("gui")) {
        cards->show();
        pollOnGuiThread(cards, &guiThreadPolling, &cardReads);
    }
    if (children >= 1)
        ui->btnSecCamCon_2->click();
    if (children >= 2)
        ui->btnSecCam1Con_2->click();
    opening.restart();
    while (view->isSwitching() && opening.elapsed() < 20000)
        pump(50);
    if (openDialog == QLatin1String("export"))
        ui->btnSavePdfTiff->click();
    else if (openDialog == QLatin1String("merging"))
        ui->pushButton->click();
    for (int i = 0; i < shots; ++i) {
        ui->btnShooting->click();
        pump(1500);
    }
    pump(warmup * 1000);

    const quint64 received0 = view->receivedFrames();
    const quint64 painted0 = view->paintedFrames();
    const int cardReads0 = cardReads;
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    pump(seconds * 1000);
    const double elapsed = wall.elapsed() / 1000.0;
    const double received = double(view->receivedFrames() - received0) / elapsed;
    const double painted = double(view->paintedFrames() - painted0) / elapsed;
    const double cpu = (cpuSeconds() - cpu0) / elapsed * 100.0;
    const double cardRate = (cardReads - cardReads0) / elapsed;
    const QSize frameSize = view->currentImage().size();
    const cv::Mat cameraFrame = view->imageProcessing()->currentFrame();
    std::printf("preview %dx%d of camera frames %dx%d at %d fps %s, mode %d, window %dx%d "
                "(view %dx%d), correction %d, card %s, platform %s, %d second-camera view(s)",
                frameSize.width(), frameSize.height(), cameraFrame.cols, cameraFrame.rows, fps,
                qPrintable(format), mode, window.width(), window.height(), view->width(),
                view->height(), correction,
                qPrintable(card), qPrintable(QGuiApplication::platformName()), children);
    for (int child = 1; child <= children; ++child) {
        const QSize childFrame = window.childView(child)->getChildImage().size();
        std::printf(" %dx%d", childFrame.width(), childFrame.height());
    }
    std::printf("\n");
    std::printf("  frames received %.1f/s  shown %.1f/s  (%.0f%% of the camera rate)  "
                "CPU %.0f%% of one core over %.1f s\n",
                received, painted, painted / fps * 100.0, cpu, elapsed);
    if (card != QLatin1String("none"))
        std::printf("  cards read %.2f/s\n", cardRate);
    std::fflush(stdout);
    if (stay)
        return app.exec();
    window.close();
    return 0;
}
