#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

// A JSON object that keeps its members in the order they were added
// (QJsonObject sorts them), written in the same indented form as
// QJsonDocument::toJson(): clients of the request endpoint read members in
// this order.
class OrderedJson
{
public:
    OrderedJson &add(const QString &key, const QJsonValue &value);
    OrderedJson &add(const QString &key, const OrderedJson &object);

    QByteArray toJson() const;

private:
    struct Member {
        QString key;
        QJsonValue value;
        std::shared_ptr<OrderedJson> object; // set for nested objects
    };
    void write(QByteArray &out, int depth) const;
    QList<Member> members;
};
