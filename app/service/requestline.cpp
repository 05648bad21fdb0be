#include "requestline.h"

#include <QStringList>

namespace requestline {

QString actionText(const QByteArray &line)
{
    QByteArray text = line;
    // The line ending belongs to the transport, not to the version or target.
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    const QStringList parts = QString::fromUtf8(text).split(QLatin1Char(' '));
    if (parts.size() < 2)
        return QString();
    const QStringList pieces = parts.at(1).split(QLatin1Char('/'));
    if (pieces.size() < 2)
        return QString();
    return pieces.at(1);
}

Action actionFor(const QString &actionText)
{
    if (actionText == QLatin1String("?card=idcard"))
        return Action::CardInfo;
    const QString text = actionText.startsWith(QLatin1Char('?')) ? actionText.mid(1) : actionText;
    if (text == QLatin1String("video=stream&camidx=0"))
        return Action::OpenCamera0;
    if (text == QLatin1String("video=stream&camidx=1"))
        return Action::OpenCamera1;
    if (text == QLatin1String("video=close&camidx=0") || text == QLatin1String("video=close&camidx=1"))
        return Action::CloseCamera;
    if (text == QLatin1String("video=grabimage"))
        return Action::Grab;
    if (text == QLatin1String("param=set"))
        return Action::SetParameters;
    if (text == QLatin1String("param=get"))
        return Action::GetParameters;
    if (text == QLatin1String("video=deviceinfo"))
        return Action::DeviceInfo;
    return Action::None;
}

} // namespace requestline
