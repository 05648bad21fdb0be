#include "logtext.h"

QString LogText::clipped(const QString &text)
{
    if (text.size() <= shownCharacters)
        return text;
    return text.left(shownCharacters) + QStringLiteral("… (%1 characters)").arg(text.size());
}
