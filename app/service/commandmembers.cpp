#include "commandmembers.h"

#include <QJsonValue>

#include <cmath>

namespace commandmembers {

bool valid(const QJsonObject &request, std::initializer_list<Range> ranges, QString *problem)
{
    for (const Range &range : ranges) {
        const QJsonValue member = request.value(QLatin1String(range.name));
        if (member.isUndefined())
            continue;
        const double number = member.toDouble(std::nan(""));
        if (!member.isDouble() || std::floor(number) != number || number < range.lowest
            || number > range.highest) {
            if (problem)
                *problem = QStringLiteral("%1 must be a whole number from %2 to %3")
                               .arg(QLatin1String(range.name))
                               .arg(range.lowest)
                               .arg(range.highest);
            return false;
        }
    }
    return true;
}

int value(const QJsonObject &request, const char *name)
{
    return request.value(QLatin1String(name)).toInt();
}

} // namespace commandmembers
