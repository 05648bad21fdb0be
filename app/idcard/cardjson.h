#pragma once

#include <QString>

// JSON text whose members keep the order they were added in (QJsonObject
// sorts them), laid out like QJsonDocument's indented form.
namespace cardjson {

class Writer
{
public:
    void add(const QString &key, const QString &value);
    void add(const QString &key, int value);
    void add(const QString &key, bool value);
    QString text() const;   // "{\n    \"key\": value,\n ...}\n"

private:
    void addRaw(const QString &key, const QString &encodedValue);
    QString members;
};

} // namespace cardjson
