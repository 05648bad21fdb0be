#include "virtualpagescript.h"

#include <QHash>
#include <QStringList>

#include <algorithm>

bool VirtualPageScript::parse(const QString &text, VirtualPageScript &script)
{
    QVector<Step> parsed;
    QHash<int, int> shown;
    for (QString item : text.split(QLatin1Char('/'))) {
        item = item.trimmed().toLower();
        Step step;
        if (item == QLatin1String("-")) {
            step.empty = true;
            parsed.append(step);
            continue;
        }
        if (item.endsWith(QLatin1Char('h'))) {
            step.hand = true;
            item.chop(1);
        }
        bool ok = false;
        step.page = item.toInt(&ok);
        if (!ok || step.page < 0 || step.page > 9999 || item.startsWith(QLatin1Char('+')))
            return false;
        step.showing = shown[step.page]++;
        parsed.append(step);
    }
    if (parsed.isEmpty())
        return false;
    script.steps = parsed;
    return true;
}

const VirtualPageScript::Step &VirtualPageScript::at(int slot) const
{
    return steps.at(std::clamp(slot, 0, steps.size() - 1));
}
