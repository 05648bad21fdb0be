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

// The same warning without a modal loop, for code that must not hold the
// event loop (a server's message handler): shown and left to the user. A
// parent shows one such box at a time; a further warning replaces its text.
void notify(QWidget *parent, const QString &title, const QString &text);

// Replaces the modal box (and the box of notify()); pass an empty handler to
// restore it.
void setHandler(Handler handler);

} // namespace WarningBox
