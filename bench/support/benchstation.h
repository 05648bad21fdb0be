#pragma once

#include "cache.h"
#include "config.h"

#include <QCoreApplication>
#include <QString>

#include <cstdlib>

// What every station benchmark sets before its QGuiApplication exists: the
// offscreen platform unless the caller chose a display.
inline void preferOffscreenPlatform()
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Factory settings with photos going to `documents`, the build tree's
// resources, the first camera and no face search (which would dominate the
// figures of a document benchmark).
inline Config &benchStationConfig(const QString &documents)
{
    Config &config = *Cache::config;
    config.init();
    config.documentsLocation = documents;
    config.appDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../../app");
    config.cameraIndex = 0;
    config.gnRenlian = false;
    return config;
}
