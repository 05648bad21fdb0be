#pragma once

#include <QByteArray>
#include <QString>

// The identity-card answer of the request endpoint ("?card=idcard"), made
// from the last card JSON the identity-card dialog emitted.
namespace cardrecord {

// {"code": 0, "IDCardInfo": {...}} with the members in the order clients
// read them. The stored JSON may use the dialog's spellings ("Adress",
// "BornYear", "BournDay", "VaildDate" as "start-end") or the endpoint's
// ("Address", "BornTear", "BornDay", "VaildDateS", "VaildDateE"); anything
// missing or unreadable gives empty strings. The holder photo is the file
// the card dialog wrote for `appDir` (see holderphoto.h), re-encoded as PNG
// Base64.
QByteArray answer(const QString &storedJson, const QString &appDir);

// The holder photo file as PNG Base64 (no prefix, no line breaks); empty
// when the file is missing or no picture. Creates the photo directory when
// missing.
QString holderPhotoBase64(const QString &appDir);

} // namespace cardrecord
