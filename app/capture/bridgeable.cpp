#include "bridgeable.h"

QImage bridgeable(const QImage &picture, QImage::Format otherwise)
{
    switch (picture.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_RGB888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return picture;
    default:
        return picture.convertToFormat(otherwise);
    }
}
