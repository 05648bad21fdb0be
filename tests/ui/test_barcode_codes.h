#pragma once

#include <QImage>
#include <QSize>

#include <ZXing/BarcodeFormat.h>

#include <string>

// Synthetic camera frames holding one barcode, drawn with the zxing-cpp writer.
namespace barcodecodes {

struct Placement
{
    int codeWidth = 300;     // pixels across the code, quiet zone included
    double angle = 0.0;      // degrees, counter-clockwise
    double blurSigma = 0.0;  // Gaussian blur of the whole frame, pixels
    double offsetY = 0.0;    // centre of the code below the frame's centre, fraction of its height
};

// The code alone: black modules on white, `codeWidth` wide (a bar code is a
// third as high as it is wide).
QImage renderCode(ZXing::BarcodeFormat format, const std::string &text, int codeWidth);

// A camera-like frame (grey desk, a white sheet, some text lines) with the code
// at the centre of the sheet. Format_RGB888, as the preview delivers colour frames.
QImage frameWithCode(ZXing::BarcodeFormat format, const std::string &text, QSize frameSize,
                     const Placement &placement);

// The same frame around a QR code holding `bytes` as they are, in byte mode
// without a declared character set (as codes from local systems carry GB 18030).
QImage frameWithQrBytes(const std::string &bytes, QSize frameSize, const Placement &placement);

} // namespace barcodecodes
