#include "hostnames.h"

#include <QStringList>
#include <QVector>

namespace {

// The decoding of one label's Punycode (the part after "xn--").
constexpr uint kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700;
constexpr uint kInitialBias = 72, kInitialN = 128;

uint adapt(uint delta, uint points, bool first)
{
    delta = first ? delta / kDamp : delta / 2;
    delta += delta / points;
    uint k = 0;
    while (delta > ((kBase - kTMin) * kTMax) / 2) {
        delta /= kBase - kTMin;
        k += kBase;
    }
    return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

int digitValue(QChar character)
{
    const ushort c = character.toLower().unicode();
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= '0' && c <= '9')
        return c - '0' + 26;
    return -1;
}

bool decodePunycode(const QString &encoded, QVector<uint> *decoded)
{
    const int delimiter = encoded.lastIndexOf(QLatin1Char('-'));
    QVector<uint> output;
    for (int i = 0; i < qMax(0, delimiter); ++i) {
        if (encoded.at(i).unicode() >= 0x80)
            return false;
        output.append(encoded.at(i).unicode());
    }
    quint64 n = kInitialN, i = 0;
    uint bias = kInitialBias;
    for (int in = delimiter + 1; in < encoded.size();) {
        const quint64 oldI = i;
        quint64 weight = 1;
        for (uint k = kBase;; k += kBase) {
            if (in >= encoded.size())
                return false;
            const int digit = digitValue(encoded.at(in++));
            if (digit < 0)
                return false;
            i += quint64(digit) * weight;
            const uint threshold = k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
            if (uint(digit) < threshold)
                break;
            weight *= kBase - threshold;
            if (i > 0x10FFFF * quint64(output.size() + 1) || weight > 0xFFFFFFFF)
                return false;   // more than any host name holds
        }
        const uint points = uint(output.size()) + 1;
        bias = adapt(uint(i - oldI), points, oldI == 0);
        n += i / points;
        i %= points;
        if (n > 0x10FFFF)
            return false;
        output.insert(int(i), uint(n));
        ++i;
    }
    *decoded = output;
    return true;
}

} // namespace

QString HostNames::unicodeForm(const QString &asciiHost)
{
    QStringList labels = asciiHost.split(QLatin1Char('.'));
    for (QString &label : labels) {
        if (!label.startsWith(QLatin1String("xn--"), Qt::CaseInsensitive))
            continue;
        QVector<uint> decoded;
        if (!decodePunycode(label.mid(4), &decoded))
            return asciiHost;
        label = QString::fromUcs4(decoded.constData(), decoded.size());
    }
    return labels.join(QLatin1Char('.'));
}

bool HostNames::mixesScripts(const QString &host)
{
    for (const QString &label : host.split(QLatin1Char('.'))) {
        QChar::Script seen = QChar::Script_Unknown;
        for (const uint character : label.toUcs4()) {
            const QChar::Script script = QChar::script(character);
            if (script == QChar::Script_Common || script == QChar::Script_Inherited
                || script == QChar::Script_Unknown)
                continue;
            if (seen != QChar::Script_Unknown && script != seen)
                return true;
            seen = script;
        }
    }
    return false;
}
