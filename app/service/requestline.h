#pragma once

#include <QByteArray>
#include <QString>

// The request line of the request endpoint: which of its actions a line
// such as "GET /?video=grabimage HTTP/1.1" selects.
namespace requestline {

enum class Action {
    None,          // unknown text, or a line without a target: no answer
    CardInfo,      // "?card=idcard"
    OpenCamera0,   // "?video=stream&camidx=0"
    OpenCamera1,   // "?video=stream&camidx=1"
    CloseCamera,   // "?video=close&camidx=0" and "...=1"
    Grab,          // "?video=grabimage"
    SetParameters, // "?param=set"
    GetParameters, // "?param=get"
    DeviceInfo     // "?video=deviceinfo"
};

// The action text: the line split at single spaces, its second part split
// at "/", and the second element of that ("?param=get" for
// "GET /?param=get HTTP/1.1"). Empty when the line has no such element.
QString actionText(const QByteArray &line);

// Exact, case-sensitive; every action but the card record may be written
// with or without its leading "?".
Action actionFor(const QString &actionText);

inline Action parse(const QByteArray &line) { return actionFor(actionText(line)); }

} // namespace requestline
