#pragma once

// Automatic capture on a synthetic camera through the station's own path:
// the capture thread reads the camera, its preview frames feed the watcher,
// the watcher's shots become photos written into the working directory.
// Shared by the page-knowing tests and bench/autocapture.

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace autocapturesession {

struct Result
{
    QStringList photos;   // written, in order
    int refused = 0;      // repeated pages the watcher did not shoot
};

// Runs the camera entry (e.g. "synthetic:page=4,script=-/1/2") with
// Config::autoCaptureOn set, until `done` holds or `timeoutMs` passes.
// Cache::config must already point at a working directory.
Result run(const QString &cameraEntry, int timeoutMs, const std::function<bool(const Result &)> &done);

// Which of the scene's pages (seed 1, one sheet, at the photo's size) the
// photo shows, by the page hash; -1 when none is near enough.
int pageShown(const QImage &photo, const QList<int> &pages);

// Whether skin-coloured pixels lie over the sheet in the photo.
bool showsHand(const QImage &photo);

} // namespace autocapturesession
