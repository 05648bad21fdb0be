#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "singleapplication.h"
#include "startup.h"
#include "warningbox.h"

#include <QDebug>
#include <QTextCodec>
#include <QWidget>

int main(int argc, char *argv[])
{
    Startup::keepFrameBuffersInHeap();
    SingleApplication app(argc, argv);
    if (app.isRunning()) {
        if (WarningBox::warning(nullptr, QStringLiteral("警告"),
                                QStringLiteral("Program already running！"))
            == QMessageBox::Ok)
            QCoreApplication::quit();
        return -1;
    }
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    Startup::installApplicationFont();
    qDebug() << "this is tavel program";
    qDebug() << QCoreApplication::applicationDirPath();

    *Cache::cameras = Startup::findCameras();
    Config &config = *Cache::config;
    config.appDir = QCoreApplication::applicationDirPath();
    if (Cache::cameras->isEmpty()) {
        if (WarningBox::warning(nullptr, QStringLiteral("警告"),
                                QStringLiteral("未检测到设备，请检查设备是否已经连接！"))
            == QMessageBox::Ok)
            QCoreApplication::quit();
        return -1;
    }
    Startup::fillOutResolutions(config);
    Startup::fillImageFormats(config);
    QCoreApplication::processEvents();

    Startup::quitOnTerminationSignals();
    QWidget *window = Startup::createModeWindow(config);
    // A second start raises this window instead of leaving it behind others.
    app.window = window;
    window->show();
    const int status = app.exec();
    // Finishes what the window runs (a recording, the capture threads) and
    // removes the demo page's launcher.
    app.window = nullptr;
    delete window;
    return status;
}
