#pragma once

#include "documentwriter.h"

// The earlier writers: Qt's PDF engine (every photo decoded and compressed
// again) and OpenCV's TIFF writer (every page decoded and held first).
namespace mainwriters {

documentwriter::Outcome writePdf(const QStringList &images, const QString &target,
                                 const documentwriter::Progress &progress);
documentwriter::Outcome writeTiff(const QStringList &images, const QString &target,
                                  const documentwriter::Progress &progress);

} // namespace mainwriters
