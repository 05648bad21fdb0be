#include "testenv.h"

#include "cache.h"
#include "config.h"
#include "warningbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>

namespace testenv {

void captureWarnings(QStringList &into)
{
    WarningBox::setHandler([&into](QWidget *, const QString &title, const QString &text) {
        into.append(title + QLatin1Char('|') + text);
        return QMessageBox::Ok;
    });
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void resetConfig(QTemporaryDir &documents)
{
    Config &config = *Cache::config;
    config.init();
    config.cameraIndex = 0;
    config.documentsLocation = documents.path();
    config.appDir = appDir();
    config.correctionMode = 0;
    config.autoCaptureOn = false;
    config.zoom = 1.0;
}

QString appDir()
{
    const char *dir = std::getenv("DOCSTATION_APP_DIR");
    return dir ? QString::fromLocal8Bit(dir) : QCoreApplication::applicationDirPath();
}

} // namespace testenv
