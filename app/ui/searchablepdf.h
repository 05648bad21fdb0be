#pragma once

#include "documentwriter.h"

#include <QString>
#include <QStringList>

#include <atomic>

// PDFs whose pages carry an invisible, selectable and searchable text layer
// under each picture, recognised offline in simplified Chinese and English.
// Each page is laid out as the plain export lays it out (A4 turned like its
// image, the image stretched over the whole page).
namespace searchablepdf {

// The recognition languages, as their data files are named.
extern const char *const kLanguages;

// Where the language data lies: the directory set here, else the
// environment variable DOCSTATION_TESSDATA, else the system's location.
// An empty directory puts the default back.
void setDataDirectory(const QString &directory);
QString dataDirectory();

// Both languages and the text-layer font are installed.
bool available();

// Writes `target` (which must end in ".pdf"). Runs on any thread; one
// recognition at a time per call. Setting `cancel` stops it within a few
// seconds, leaving no usable file (Outcome::cancelled).
documentwriter::Outcome write(const QStringList &images, const QString &target,
                              const documentwriter::Progress &progress,
                              const std::atomic<bool> *cancel);

} // namespace searchablepdf
