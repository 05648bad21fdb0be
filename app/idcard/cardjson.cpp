#include "cardjson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace cardjson {

namespace {

// Qt's own escaping: one string in a compact array, brackets cut off.
QString quoted(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

void Writer::add(const QString &key, const QString &value)
{
    addRaw(key, quoted(value));
}

void Writer::add(const QString &key, int value)
{
    addRaw(key, QString::number(value));
}

void Writer::add(const QString &key, bool value)
{
    addRaw(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void Writer::addRaw(const QString &key, const QString &encodedValue)
{
    if (!members.isEmpty())
        members += QStringLiteral(",\n");
    members += QStringLiteral("    ") + quoted(key) + QStringLiteral(": ") + encodedValue;
}

QString Writer::text() const
{
    if (members.isEmpty())
        return QStringLiteral("{\n}\n");
    return QStringLiteral("{\n") + members + QStringLiteral("\n}\n");
}

} // namespace cardjson
