#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

class QObject;

// Small pictures of saved photos (thumbnail ring, export list) are decoded
// off the window's thread: a camera photo takes longer to decode in full than
// the window may stand still.
namespace picturethumbnail {

// Decodes `path` on a worker thread and scales it to fit `bound` as the
// window always did (aspect kept, smooth). `shown` then runs on the window's
// thread with the picture (null when the file does not decode), unless
// `receiver` is gone by then. Answers may come in any order: callers check
// that the picture is still wanted.
void load(const QString &path, QSize bound, QObject *receiver,
          std::function<void(const QImage &)> shown);

// The same scaling, on the calling thread.
QImage scaledPicture(const QString &path, QSize bound);

} // namespace picturethumbnail
