#include "warningbox.h"

namespace {
WarningBox::Handler &currentHandler()
{
    static WarningBox::Handler handler;
    return handler;
}
} // namespace

QMessageBox::StandardButton WarningBox::warning(QWidget *parent, const QString &title,
                                                const QString &text,
                                                QMessageBox::StandardButtons buttons)
{
    if (currentHandler())
        return currentHandler()(parent, title, text);
    return QMessageBox::warning(parent, title, text, buttons);
}

void WarningBox::setHandler(Handler handler)
{
    currentHandler() = std::move(handler);
}
