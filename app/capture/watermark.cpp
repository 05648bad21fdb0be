#include "watermark.h"

#include "config.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <QSize>

namespace watermark {

namespace {

constexpr int kCentred = Qt::AlignHCenter | Qt::AlignVCenter;   // 0x84

QFont fontFor(const Config &config, const Config::Texts &text)
{
    QFont font;
    font.setFamily(text.fontFamily);
    if (config.fontSize > 0)
        font.setPointSize(config.fontSize);
    font.setStyleName(text.fontStyleName);
    font.setUnderline(config.underline);
    font.setStrikeOut(config.strikeOut);
    return font;
}

} // namespace

QString textFor(const Config &config, const QDateTime &now)
{
    if (config.watermarkTime)
        return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return config.texts().watermarkText;
}

void draw(QPainter &photoPainter, const QSize &photoSize, const Config &config,
          const QString &text)
{
    if (text.isEmpty() || photoSize.isEmpty())
        return;
    const Config::Texts settingsText = config.texts();
    const QFont font = fontFor(config, settingsText);
    const QRect textBox = QFontMetrics(font).boundingRect(text);
    const QRect page(QPoint(0, 0), photoSize);
    const QPoint shift(int((page.width() - textBox.width()) * (config.watermarkX - 50) / 100.0),
                       int((page.height() - textBox.height()) * (config.watermarkY - 50) / 100.0));

    // The layer is transparent except under the text, so only that part of
    // the photo-sized layer is built: the text keeps the same whole-pixel
    // position, and painting transparent pixels over the photo changes
    // nothing.
    const QImage sameDevice(1, 1, QImage::Format_ARGB32);
    const QRect drawn =
        QFontMetrics(font, &sameDevice).boundingRect(page, kCentred, text).translated(shift);
    const int pad = qMax(8, textBox.height() / 2);
    const QRect region = drawn.adjusted(-pad, -pad, pad, pad).intersected(page);
    if (region.isEmpty())
        return;

    QImage layer(region.size(), QImage::Format_ARGB32);
    layer.fill(16777215u);   // white, fully transparent
    {
        QPainter painter(&layer);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationOver);
        QPen pen = photoPainter.pen();
        pen.setColor(QColor(QStringLiteral("#") + settingsText.watermarkColor));
        painter.setPen(pen);
        painter.setFont(font);
        painter.translate(shift - region.topLeft());
        painter.drawText(page, kCentred, text);
    }
    photoPainter.setOpacity(1.0 - config.transparency / 100.0);
    photoPainter.drawImage(region.topLeft(), layer);
}

} // namespace watermark
