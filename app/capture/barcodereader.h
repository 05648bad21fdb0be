#pragma once

#include <QImage>
#include <QString>

// Reads a QR code or a Code 128 barcode from one preview frame.
//
//   const QString text = BarcodeReader::decode(frame);   // empty: nothing found
//
// A fresh decoder is built for every call (GUI thread, one frame at a time);
// other symbologies (EAN-13 and the rest) are not enabled. Logs "条码内容\n"
// followed by the result.
namespace BarcodeReader {

// The enabled symbologies: QR code (4096) | Code 128 (32).
constexpr unsigned decoderFormats = 4128;

QString decode(const QImage &frame);

} // namespace BarcodeReader
