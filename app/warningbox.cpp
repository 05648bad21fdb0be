#include "warningbox.h"

#include <QByteArray>
#include <QWidget>

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

void WarningBox::notify(QWidget *parent, const QString &title, const QString &text)
{
    if (currentHandler()) {
        currentHandler()(parent, title, text);
        return;
    }
    if (qEnvironmentVariableIsSet("DOCSTATION_WARNINGS_TO_STDERR")) {
        fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        return;
    }
    const QString name = QStringLiteral("WarningNotice");
    QMessageBox *box = parent ? parent->findChild<QMessageBox *>(name, Qt::FindDirectChildrenOnly)
                              : nullptr;
    if (!box) {
        box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
        box->setObjectName(name);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
    }
    box->setWindowTitle(title);
    box->setText(text);
    box->show();
    box->raise();
}
