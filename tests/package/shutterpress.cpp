// Preloaded into an installed station by the package test: presses the
// shutter button every second once the window is up, so the station takes
// photos without anyone at the keyboard. Never installed.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

namespace {

QAbstractButton *findShutter()
{
    for (QWidget *widget : QApplication::allWidgets()) {
        if (widget->objectName() == QLatin1String("btnShooting"))
            return qobject_cast<QAbstractButton *>(widget);
    }
    return nullptr;
}

void startPressing()
{
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [] {
        QAbstractButton *shutter = findShutter();
        if (shutter && shutter->window()->isVisible())
            shutter->click();
    });
    timer->start(1000);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startPressing)
