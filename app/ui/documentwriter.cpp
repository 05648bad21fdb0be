#include "documentwriter.h"

#include "paperresolution.h"
#include "pdfoutput.h"
#include "photopage.h"

#include <QDebug>
#include <QFile>
#include <QImage>
#include <QSizeF>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

namespace documentwriter {

namespace {

void report(const Progress &progress, int page)
{
    if (progress)
        progress(page);
}

// The photo's JPEG bytes, read while the document is written, so that only
// one page's data is in memory at a time. They go to the writer in one piece:
// qpdf gathers every stream in a growing buffer before it writes it, and fed
// in small pieces that buffer is copied and faulted in again and again.
void copyFile(const QString &path, Pipeline *pipeline)
{
    QFile photo(path);
    if (!photo.open(QIODevice::ReadOnly))
        throw std::runtime_error("photo not readable: " + path.toStdString());
    const QByteArray bytes = photo.readAll();
    if (photo.error() != QFileDevice::NoError || bytes.size() != photo.size())
        throw std::runtime_error("photo not read: " + path.toStdString());
    pipeline->write(reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()));
    pipeline->finish();
}

QPDFObjectHandle imageDictionary(QSize pixels, bool grey)
{
    QPDFObjectHandle dictionary = QPDFObjectHandle::newDictionary();
    dictionary.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dictionary.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(pixels.width()));
    dictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(pixels.height()));
    dictionary.replaceKey("/ColorSpace", QPDFObjectHandle::newName(grey ? "/DeviceGray" : "/DeviceRGB"));
    dictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    return dictionary;
}

struct PageImage {
    QPDFObjectHandle stream;
    QSize pixels;
    double dpiX = 0.0;
    double dpiY = 0.0;
};

// A JPEG in grey or YCbCr goes in as it stands (DCTDecode).
PageImage jpegImage(QPDF &pdf, const QString &path, const photopage::JpegHeader &header, int page,
                    const Progress &progress)
{
    PageImage image;
    image.pixels = QSize(header.width, header.height);
    image.dpiX = header.dpiX;
    image.dpiY = header.dpiY;
    image.stream = pdf.newStream();
    image.stream.replaceDict(imageDictionary(image.pixels, header.components == 1));
    image.stream.replaceStreamData(
        [path, page, progress](Pipeline *pipeline) {
            report(progress, page);
            copyFile(path, pipeline);
        },
        QPDFObjectHandle::newName("/DCTDecode"), QPDFObjectHandle::newNull());
    return image;
}

// Any other picture goes in losslessly: each row as its difference to the
// row above (PNG's "up" predictor), compressed with Flate.
PageImage decodedImage(QPDF &pdf, const QImage &decoded)
{
    const bool grey = decoded.allGray();
    const QImage pixels = decoded.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    const int colours = grey ? 1 : 3;
    const int lineBytes = pixels.width() * colours;
    QByteArray predicted((lineBytes + 1) * pixels.height(), '\0');
    uchar *out = reinterpret_cast<uchar *>(predicted.data());
    for (int y = 0; y < pixels.height(); ++y) {
        const uchar *line = pixels.constScanLine(y);
        const uchar *above = y > 0 ? pixels.constScanLine(y - 1) : nullptr;
        *out++ = 2;
        for (int x = 0; x < lineBytes; ++x)
            *out++ = uchar(line[x] - (above ? above[x] : 0));
    }
    // qCompress gives a zlib stream behind four bytes of length.
    const QByteArray compressed = qCompress(predicted).mid(4);
    PageImage image;
    image.pixels = pixels.size();
    image.dpiX = paperresolution::ppiOf(decoded.dotsPerMeterX());
    image.dpiY = paperresolution::ppiOf(decoded.dotsPerMeterY());
    image.stream = pdf.newStream();
    image.stream.replaceDict(imageDictionary(image.pixels, grey));
    QPDFObjectHandle parameters = QPDFObjectHandle::newDictionary();
    parameters.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
    parameters.replaceKey("/Colors", QPDFObjectHandle::newInteger(colours));
    parameters.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(pixels.width()));
    image.stream.replaceStreamData(compressed.toStdString(), QPDFObjectHandle::newName("/FlateDecode"),
                                   parameters);
    return image;
}

// A page showing the image stretched over all of it.
void addPage(QPDF &pdf, const PageImage &image)
{
    const QSizeF size = photopage::pagePoints(image.pixels, image.dpiX, image.dpiY);
    const std::string width = QByteArray::number(size.width(), 'f', 2).toStdString();
    const std::string height = QByteArray::number(size.height(), 'f', 2).toStdString();
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    QPDFObjectHandle images = QPDFObjectHandle::newDictionary();
    images.replaceKey("/Im0", image.stream);
    resources.replaceKey("/XObject", images);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::parse("[0 0 " + width + " " + height + "]"));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", pdf.newStream("q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q\n"));
    QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);
}

} // namespace

Outcome writePdf(const QStringList &images, const QString &target, const Progress &progress)
{
    Outcome outcome;
    if (images.isEmpty())
        return outcome;
    try {
        QPDF pdf;
        pdf.emptyPDF();
        for (int row = 0; row < images.size(); ++row) {
            const QString &path = images.at(row);
            photopage::JpegHeader header;
            if (photopage::readJpegHeader(path, header) && header.plainColours) {
                addPage(pdf, jpegImage(pdf, path, header, row + 1, progress));
                continue;
            }
            report(progress, row + 1);
            const QImage decoded(path);
            if (decoded.isNull()) {
                outcome.unreadableImage = path;
                return outcome;
            }
            addPage(pdf, decodedImage(pdf, decoded));
        }
        outcome.written = pdfoutput::save(pdf, target);
    } catch (const std::exception &error) {
        qDebug() << "pdf not written:" << target << error.what();
    }
    return outcome;
}

} // namespace documentwriter
