#pragma once

#include <QImage>
#include <QString>

#include <functional>

// Pictures written whole or not at all, through DocumentFile: photos, card
// pictures, merged pictures and the pictures pages ask for.
namespace imagefile {

// Encodes `image` in `format` ("jpg", "png", "tiff", ...) with `quality`
// into a temporary file in `directory` and publishes it under the name
// `reserveName` gives (photonaming). The final path; empty when the picture
// could not be encoded or written completely, and then nothing is left in
// the folder and no running number is used.
QString saveNew(const QImage &image, const QString &directory, const QString &format, int quality,
                const std::function<QString()> &reserveName);

// Writes `image` onto `path`, replacing the file there only when the new one
// is complete: on failure the old file stays as it was.
bool saveOver(const QImage &image, const QString &path, const QString &format, int quality);

} // namespace imagefile
