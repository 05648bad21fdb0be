// Preloaded into an installed station by the package test: presses the
// shutter button every second once the window is up, so the station takes
// photos without anyone at the keyboard, and reports once on stderr whether
// the window found its logo and icons under Resources/. A warning box in the
// way (a press while the camera is still opening, as on a slow machine or
// under emulation) is read out on stderr and answered, as a clerk does.
// Never installed.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

template <typename T> T *findWidget(const char *name)
{
    for (QWidget *widget : QApplication::allWidgets()) {
        if (widget->objectName() == QLatin1String(name))
            return qobject_cast<T *>(widget);
    }
    return nullptr;
}

void reportResources()
{
    const auto *logo = findWidget<QLabel>("lbLogo");
    const auto *rotate = findWidget<QAbstractButton>("btnleft_2");
    const bool logoLoaded = logo && !logo->pixmap(Qt::ReturnByValue).isNull();
    const bool iconLoaded = rotate && !rotate->icon().isNull()
                            && !rotate->icon().pixmap(16, 16).isNull();
    std::fprintf(stderr, "shutterpress: logo=%d icon=%d\n", logoLoaded ? 1 : 0, iconLoaded ? 1 : 0);
}

// True when a message box was open and has been answered.
bool answerMessageBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return false;
    std::fprintf(stderr, "shutterpress: answered \"%s\"\n", qPrintable(box->text()));
    box->done(QMessageBox::Ok);
    return true;
}

void startPressing()
{
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [] {
        static bool reported = false;
        QAbstractButton *shutter = findWidget<QAbstractButton>("btnShooting");
        if (!shutter || !shutter->window()->isVisible() || answerMessageBox())
            return;
        if (!reported) {
            reportResources();
            reported = true;
        }
        // Queued, not pressed from the tick: a warning box opened by the
        // press runs its own event loop, and a timer does not tick again
        // while its own handler is still running, so it could never be answered.
        QMetaObject::invokeMethod(shutter, &QAbstractButton::click, Qt::QueuedConnection);
    });
    timer->start(1000);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startPressing)
