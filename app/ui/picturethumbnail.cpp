#include "picturethumbnail.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

namespace picturethumbnail {

QImage scaledPicture(const QString &path, QSize bound)
{
    const QImage picture(path);
    if (picture.isNull())
        return picture;
    return picture.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void load(const QString &path, QSize bound, QObject *receiver,
          std::function<void(const QImage &)> shown)
{
    QPointer<QObject> target(receiver);
    QThreadPool::globalInstance()->start([path, bound, target, shown] {
        const QImage picture = scaledPicture(path, bound);
        // The receiver is looked at only on the window's thread, where it
        // can be destroyed meanwhile.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [target, shown, picture] {
                if (target)
                    shown(picture);
            },
            Qt::QueuedConnection);
    });
}

} // namespace picturethumbnail
