#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every "警告" box of the program goes through here, so tests can see the
// warnings and answer them without a person clicking.
namespace WarningBox {

using Handler = std::function<QMessageBox::StandardButton(QWidget *parent, const QString &title,
                                                          const QString &text)>;

QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Replaces the modal box; pass an empty handler to restore it.
void setHandler(Handler handler);

} // namespace WarningBox
