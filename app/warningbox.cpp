#include "warningbox.h"

#include <QByteArray>

#include <cstdio>

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
    // Headless runs (offscreen platform, scripted starts) have nobody to
    // click the box: the warning goes to standard error and counts as Ok.
    if (qEnvironmentVariableIsSet("DOCSTATION_WARNINGS_TO_STDERR")) {
        fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        return QMessageBox::Ok;
    }
    return QMessageBox::warning(parent, title, text, buttons);
}

void WarningBox::setHandler(Handler handler)
{
    currentHandler() = std::move(handler);
}
