#include "cardrecord.h"

#include "holderphoto.h"
#include "orderedjson.h"

#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

namespace cardrecord {

namespace {

// The first of the spellings that holds text.
QString member(const QJsonObject &card, std::initializer_list<const char *> spellings)
{
    for (const char *key : spellings) {
        const QString text = card.value(QLatin1String(key)).toString();
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

// Start and end of validity: the endpoint's own members, or the dialog's
// one "start-end" text split at its first "-".
QPair<QString, QString> validity(const QJsonObject &card)
{
    QString start = member(card, {"VaildDateS"});
    QString end = member(card, {"VaildDateE"});
    const QString both = member(card, {"VaildDate"});
    const int dash = both.indexOf(QLatin1Char('-'));
    if (start.isEmpty())
        start = dash < 0 ? both : both.left(dash);
    if (end.isEmpty() && dash >= 0)
        end = both.mid(dash + 1);
    return {start, end};
}

} // namespace

QString holderPhotoBase64(const QString &appDir)
{
    const QImage photo(holderphoto::filePath(appDir));
    if (photo.isNull())
        return QString();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!photo.save(&buffer, "PNG"))
        return QString();
    return QString::fromLatin1(png.toBase64());
}

QByteArray answer(const QString &storedJson, const QString &appDir)
{
    const QJsonObject card = QJsonDocument::fromJson(storedJson.toUtf8()).object();
    const QString sex = member(card, {"Sex"});
    const QString nation = member(card, {"Nation"});
    const QString birthday = member(card, {"BornYear", "BornTear"}) + QLatin1Char('-')
                             + member(card, {"BornMonth"}) + QLatin1Char('-')
                             + member(card, {"BournDay", "BornDay"});
    const QPair<QString, QString> valid = validity(card);

    OrderedJson info;
    info.add(QStringLiteral("cardID"), member(card, {"IDNumber"}))
        .add(QStringLiteral("name"), member(card, {"Name"}))
        .add(QStringLiteral("sex"), sex)
        .add(QStringLiteral("sexCode"), sex)
        .add(QStringLiteral("birthday"), birthday)
        .add(QStringLiteral("nationCode"), nation)
        .add(QStringLiteral("nation"), nation)
        .add(QStringLiteral("validStart"), valid.first)
        .add(QStringLiteral("validEnd"), valid.second)
        .add(QStringLiteral("issueOrgan"), member(card, {"Mechanics"}))
        .add(QStringLiteral("address"), member(card, {"Adress", "Address"}))
        .add(QStringLiteral("photoBase64"), holderPhotoBase64(appDir));
    OrderedJson reply;
    reply.add(QStringLiteral("code"), 0).add(QStringLiteral("IDCardInfo"), info);
    return reply.toJson();
}

} // namespace cardrecord
