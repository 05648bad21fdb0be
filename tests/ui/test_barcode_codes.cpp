#include "test_barcode_codes.h"

#include <QPainter>
#include <QTransform>

#include <ZXing/BitMatrix.h>
#include <ZXing/CharacterSet.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/TextUtfEncoding.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <random>

namespace barcodecodes {

namespace {

bool isLinear(ZXing::BarcodeFormat format)
{
    return format != ZXing::BarcodeFormat::QRCode && format != ZXing::BarcodeFormat::DataMatrix &&
           format != ZXing::BarcodeFormat::Aztec && format != ZXing::BarcodeFormat::PDF417;
}

void blur(QImage &image, double sigma)
{
    if (sigma <= 0.0)
        return;
    cv::Mat wrapped(image.height(), image.width(), CV_8UC3, image.bits(), size_t(image.bytesPerLine()));
    cv::GaussianBlur(wrapped, wrapped, cv::Size(0, 0), sigma);
}

void drawSheet(QPainter &painter, QSize frameSize)
{
    painter.fillRect(QRect(QPoint(0, 0), frameSize), QColor(92, 88, 80));
    const QRect sheet(frameSize.width() / 8, frameSize.height() / 20, frameSize.width() * 3 / 4,
                      frameSize.height() * 9 / 10);
    painter.fillRect(sheet, QColor(236, 236, 230));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(sheet.width() / 4, sheet.width() * 9 / 10);
    painter.setPen(Qt::NoPen);
    for (int y = sheet.top() + 24; y < sheet.top() + sheet.height() / 5; y += 14)
        painter.fillRect(QRect(sheet.left() + 30, y, length(random) - 30, 6), QColor(40, 40, 40));
    for (int y = sheet.bottom() - sheet.height() / 6; y < sheet.bottom() - 20; y += 14)
        painter.fillRect(QRect(sheet.left() + 30, y, length(random) - 30, 6), QColor(40, 40, 40));
}

// One pixel per module, scaled without smoothing so module edges stay sharp;
// blur comes later.
QImage modulesImage(const ZXing::BitMatrix &matrix, bool linear, int codeWidth)
{
    const int codeHeight = linear ? std::max(codeWidth / 3, 40) : codeWidth;
    QImage modules(matrix.width(), matrix.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < matrix.height(); ++y) {
        uchar *row = modules.scanLine(y);
        for (int x = 0; x < matrix.width(); ++x)
            row[x] = matrix.get(x, y) ? 0 : 255;
    }
    return modules.scaled(codeWidth, codeHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .convertToFormat(QImage::Format_RGB888);
}

QImage frameAround(const QImage &code, QSize frameSize, const Placement &placement)
{
    QImage frame(frameSize, QImage::Format_RGB888);
    QPainter painter(&frame);
    drawSheet(painter, frameSize);
    if (!code.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(frameSize.width() / 2.0, frameSize.height() * (0.5 + placement.offsetY));
        painter.rotate(-placement.angle);
        painter.drawImage(QPointF(-code.width() / 2.0, -code.height() / 2.0), code);
    }
    painter.end();
    blur(frame, placement.blurSigma);
    return frame;
}

} // namespace

QImage renderCode(ZXing::BarcodeFormat format, const std::string &text, int codeWidth)
{
    ZXing::MultiFormatWriter writer(format);
    writer.setMargin(isLinear(format) ? 10 : 4);
    if (!isLinear(format))
        writer.setEncoding(ZXing::CharacterSet::UTF8);
    // The text is UTF-8.
    const ZXing::BitMatrix matrix = writer.encode(ZXing::TextUtfEncoding::FromUtf8(text), 0, isLinear(format) ? 1 : 0);
    return modulesImage(matrix, isLinear(format), codeWidth);
}

QImage frameWithCode(ZXing::BarcodeFormat format, const std::string &text, QSize frameSize,
                     const Placement &placement)
{
    return frameAround(text.empty() ? QImage() : renderCode(format, text, placement.codeWidth), frameSize, placement);
}

QImage frameWithQrBytes(const std::string &bytes, QSize frameSize, const Placement &placement)
{
    // Without a chosen character set the writer uses the byte mode's default,
    // ISO 8859-1, and declares nothing: each character is written as the byte
    // it stands for.
    std::wstring asLatin1;
    for (unsigned char byte : bytes)
        asLatin1.push_back(wchar_t(byte));
    ZXing::MultiFormatWriter writer(ZXing::BarcodeFormat::QRCode);
    writer.setMargin(4);
    return frameAround(modulesImage(writer.encode(asLatin1, 0, 0), false, placement.codeWidth), frameSize, placement);
}

} // namespace barcodecodes
