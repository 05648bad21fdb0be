// Creates the top-level window of the configured mode.
#include "startup.h"

#include "config.h"
#include "formsystemtray.h"
#include "mainwindowqcamera.h"

QWidget *Startup::createModeWindow(Config &config)
{
    if (config.httpMode || config.webSocketMode)
        return new FormSystemTray();
    return new MainWindowQCamera();
}
