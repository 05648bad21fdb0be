#pragma once

#include <QImage>

// `picture` in a format ImageProcessing::QImageToMat takes, pixels unchanged:
// as it is when the bridge takes its format already, converted to `otherwise`
// when it does not.
QImage bridgeable(const QImage &picture, QImage::Format otherwise);
