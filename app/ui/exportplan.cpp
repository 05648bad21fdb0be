#include "exportplan.h"

#include "barcodereader.h"
#include "blankpage.h"

#include <QImage>

namespace exportplan {

namespace {

// The text of a separator sheet; empty when the page is not one.
QString separatorText(const QImage &page)
{
    const BarcodeReader::Found code = BarcodeReader::locate(page);
    if (code.text.isEmpty() || !blankpage::isCodeOnly(page, code.box))
        return QString();
    return code.text;
}

} // namespace

Plan make(const QStringList &pages, const Options &options, const documentwriter::Progress &progress)
{
    Plan plan;
    Document current;
    for (int row = 0; row < pages.size(); ++row) {
        const QString &path = pages.at(row);
        if (!options.any()) {
            current.pages.append(path);
            continue;
        }
        if (progress)
            progress(row + 1);
        const QImage page(path);
        if (page.isNull()) {
            plan = Plan();
            plan.unreadableImage = path;
            return plan;
        }
        if (options.splitAtSeparators) {
            const QString text = separatorText(page);
            if (!text.isEmpty()) {
                if (!current.pages.isEmpty())
                    plan.documents.append(current);
                current = Document{text, {}};
                ++plan.separators;
                continue;
            }
        }
        if (options.dropBlankPages && blankpage::isBlank(page)) {
            plan.blankPages.append(path);
            continue;
        }
        current.pages.append(path);
    }
    if (!current.pages.isEmpty())
        plan.documents.append(current);
    return plan;
}

} // namespace exportplan
