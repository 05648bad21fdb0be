// Creates the top-level window of the configured mode.
#include "startup.h"

#include "config.h"
#include "mainwindowqcamera.h"

#include <QDebug>

QWidget *Startup::createModeWindow(Config &config)
{
    if (config.httpMode || config.webSocketMode)
        qDebug() << "service mode window not available; starting the desktop view";
    return new MainWindowQCamera();
}
