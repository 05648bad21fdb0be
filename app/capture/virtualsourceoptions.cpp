#include "virtualsourceoptions.h"

#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace VirtualSourceOptions {

bool Window::contains(double seconds) const
{
    if (!enabled || seconds < start)
        return false;
    return duration < 0 || seconds < start + duration;
}

bool parseSize(const QString &text, QSize &size)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,5})\\s*[xX]\\s*(\\d{1,5})\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width < 16 || height < 16 || width > 16384 || height > 16384)
        return false;
    size = QSize(width, height);
    return true;
}

bool parseSizes(const QString &text, QList<QSize> &sizes)
{
    QList<QSize> parsed;
    for (const QString &part : text.split(QLatin1Char('/'))) {
        QSize size;
        if (!parseSize(part, size))
            return false;
        if (!parsed.contains(size))
            parsed.append(size);
    }
    if (parsed.isEmpty())
        return false;
    sizes = parsed;
    return true;
}

bool parseNumber(const QString &text, double low, double high, double &value)
{
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(parsed) || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

bool parseInt(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok);
    if (!ok || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

bool parseSwitch(const QString &text, bool &value)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("1") || word == QLatin1String("on") || word == QLatin1String("yes")
        || word == QLatin1String("true")) {
        value = true;
        return true;
    }
    if (word == QLatin1String("0") || word == QLatin1String("off") || word == QLatin1String("no")
        || word == QLatin1String("false")) {
        value = false;
        return true;
    }
    return false;
}

bool parseWindow(const QString &text, Window &window)
{
    const QStringList parts = text.split(QLatin1Char('+'));
    if (parts.size() > 2)
        return false;
    Window parsed;
    const double noLimit = std::numeric_limits<double>::max();
    if (!parseNumber(parts.at(0), 0, noLimit, parsed.start))
        return false;
    if (parts.size() == 2 && !parts.at(1).trimmed().isEmpty()) {
        if (!parseNumber(parts.at(1), 0, noLimit, parsed.duration))
            return false;
    }
    parsed.enabled = true;
    window = parsed;
    return true;
}

bool checkKnown(const Options &options, const QStringList &known, QString *error)
{
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (!known.contains(it.key())) {
            if (error)
                *error = QStringLiteral("unknown option %1").arg(it.key());
            return false;
        }
    }
    return true;
}

QSize nearestSize(const QList<QSize> &offered, QSize wanted)
{
    QSize best;
    long bestDistance = std::numeric_limits<long>::max();
    for (const QSize &size : offered) {
        const long distance = std::labs(long(size.width()) - wanted.width())
                              + std::labs(long(size.height()) - wanted.height());
        if (distance < bestDistance) {
            bestDistance = distance;
            best = size;
        }
    }
    return best;
}

} // namespace VirtualSourceOptions
