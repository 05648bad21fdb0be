#include "fittedfield.h"

#include <QFontMetricsF>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QTextEdit>
#include <QVariant>

#include <cmath>

namespace {

const char kDesignedFont[] = "fittedfield.designedFont";
constexpr qreal kStepPoints = 0.5;
constexpr qreal kSmallestPoints = 4.0;
// QLineEdit keeps this much room beside its text on either side, and one
// pixel for the cursor.
constexpr int kLineEditMargin = 2;
constexpr int kCursorWidth = 1;

// The font the form gave the field, remembered on its first text: a later,
// shorter text goes back to it.
QFont designedFont(QWidget *field)
{
    const QVariant kept = field->property(kDesignedFont);
    if (kept.isValid())
        return kept.value<QFont>();
    field->setProperty(kDesignedFont, field->font());
    return field->font();
}

// Tries the designed size first, then smaller ones, until `fits` says yes.
template <typename Fits> QFont fittedFont(QWidget *field, const QString &text, Fits fits)
{
    QFont font = designedFont(field);
    if (text.isEmpty() || font.pointSizeF() <= 0)
        return font;
    while (!fits(font) && font.pointSizeF() - kStepPoints >= kSmallestPoints)
        font.setPointSizeF(font.pointSizeF() - kStepPoints);
    return font;
}

// Width the line edit draws its text in.
int lineTextWidth(const QLineEdit *field)
{
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = field->contentsRect();
    option.lineWidth =
        field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    option.features = QStyleOptionFrame::None;
    const QRect contents = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
    const QMargins margins = field->textMargins();
    return contents.width() - margins.left() - margins.right() - 2 * kLineEditMargin;
}

} // namespace

namespace fittedfield {

void setText(QLineEdit *field, const QString &text)
{
    const int available = lineTextWidth(field);
    // The line edit scrolls only once its cursor, after the last character,
    // would leave the text area.
    field->setFont(fittedFont(field, text, [&](const QFont &font) {
        return std::ceil(QFontMetricsF(font).horizontalAdvance(text)) + kCursorWidth <= available;
    }));
    field->setText(text);
    field->setCursorPosition(0);
}

void setText(QTextEdit *field, const QString &text)
{
    const QSize available = field->contentsRect().size();
    const qreal documentMargin = field->document()->documentMargin();
    const QTextOption wrapping = field->document()->defaultTextOption();
    field->setFont(fittedFont(field, text, [&](const QFont &font) {
        QTextDocument layout;
        layout.setDocumentMargin(documentMargin);
        layout.setDefaultFont(font);
        layout.setDefaultTextOption(wrapping);
        layout.setPlainText(text);
        layout.setTextWidth(available.width());
        return layout.size().height() <= available.height() && layout.idealWidth() <= available.width();
    }));
    field->setPlainText(text);
}

} // namespace fittedfield
