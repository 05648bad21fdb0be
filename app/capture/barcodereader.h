#pragma once

#include <QImage>
#include <QRect>
#include <QString>

// Reads a QR code or a Code 128 barcode from one preview frame.
//
//   const QString text = BarcodeReader::decode(frame);   // empty: nothing found
//
// Called on the GUI thread, one frame at a time; other symbologies (EAN-13 and
// the rest) are not enabled. Text that is not valid UTF-8 and declares no
// character set is read as GB 18030, the encoding of codes printed by local
// systems. Logs "条码内容\n" followed by the result.
namespace BarcodeReader {

QString decode(const QImage &frame);

struct Found
{
    QString text;   // empty: no code
    QRect box;      // the symbol's bounding box in picture pixels
};

// The first QR code or Code 128 of a photo or page and where it lies,
// without logging; safe on any thread.
Found locate(const QImage &picture);

} // namespace BarcodeReader
