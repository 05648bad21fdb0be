#pragma once

#include <QDateTime>
#include <QString>

class Config;
class QPainter;
class QSize;

// The text watermark of photos, shared by desktop and web capture.
namespace watermark {

// The capture time when time stamping is on, else the configured text;
// empty means no watermark.
QString textFor(const Config &config, const QDateTime &now);

// Draws `text` over the photo that `photoPainter` paints on, placed by
// watermarkX/watermarkY (0 left/top, 50 centred, 100 right/bottom), in the
// configured colour and font, at the configured transparency.
void draw(QPainter &photoPainter, const QSize &photoSize, const Config &config,
          const QString &text);

} // namespace watermark
