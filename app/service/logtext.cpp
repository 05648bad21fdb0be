#include "logtext.h"

#include <QJsonDocument>
#include <QJsonObject>

QString LogText::clipped(const QString &text)
{
    if (text.size() <= shownCharacters)
        return text;
    return text.left(shownCharacters) + QStringLiteral("… (%1 characters)").arg(text.size());
}

QString LogText::replySummary(const QString &reply)
{
    const QJsonObject object = QJsonDocument::fromJson(reply.toUtf8()).object();
    const QJsonValue command = object.value(QLatin1String("command"));
    if (command.isUndefined())
        return QStringLiteral("(%1 characters)").arg(reply.size());
    const QJsonValue result = object.value(QLatin1String("result"));
    QString summary = QStringLiteral("command %1").arg(command.toVariant().toString());
    if (!result.isUndefined())
        summary += QStringLiteral(" result %1").arg(result.toVariant().toString());
    return summary + QStringLiteral(" (%1 characters)").arg(reply.size());
}
