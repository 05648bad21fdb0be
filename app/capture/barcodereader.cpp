#include "barcodereader.h"

#include <QDebug>

#include <qzxing/QZXing.h>

namespace BarcodeReader {

QString decode(const QImage &frame)
{
    QZXing decoder;
    decoder.setDecoder(decoderFormats);
    const QString result = frame.isNull() ? QString() : decoder.decodeImage(frame, -1, -1, false);
    qDebug().noquote() << QStringLiteral("条码内容\n") + result;
    return result;
}

} // namespace BarcodeReader
