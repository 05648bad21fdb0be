#include "orderedjson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// One value in Qt's own spelling: a one-element array, brackets removed.
QByteArray valueText(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

OrderedJson &OrderedJson::add(const QString &key, const QJsonValue &value)
{
    members.append(Member{key, value, nullptr});
    return *this;
}

OrderedJson &OrderedJson::add(const QString &key, const OrderedJson &object)
{
    members.append(Member{key, QJsonValue(), std::make_shared<OrderedJson>(object)});
    return *this;
}

QByteArray OrderedJson::toJson() const
{
    QByteArray out;
    write(out, 0);
    out += '\n';
    return out;
}

void OrderedJson::write(QByteArray &out, int depth) const
{
    if (members.isEmpty()) {
        out += "{\n";
        out += QByteArray(depth * 4, ' ');
        out += '}';
        return;
    }
    out += "{\n";
    const QByteArray indent((depth + 1) * 4, ' ');
    for (int i = 0; i < members.size(); ++i) {
        const Member &member = members.at(i);
        out += indent;
        out += valueText(member.key);
        out += ": ";
        if (member.object)
            member.object->write(out, depth + 1);
        else
            out += valueText(member.value);
        if (i + 1 < members.size())
            out += ',';
        out += '\n';
    }
    out += QByteArray(depth * 4, ' ');
    out += '}';
}
