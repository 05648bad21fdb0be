// Creates the top-level window of the configured mode.
#include "startup.h"

#include "config.h"
#include "formsystemtray.h"
#include "mainwindowqcamera.h"

#include <QApplication>

QWidget *Startup::createModeWindow(Config &config)
{
    if (config.httpMode || config.webSocketMode) {
        QApplication::setQuitOnLastWindowClosed(false);
        return new FormSystemTray();
    }
    return new MainWindowQCamera();
}
