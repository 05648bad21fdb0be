#include "documentwriter.h"

#include "paperresolution.h"
#include "photopage.h"

#include <QDebug>
#include <QFile>
#include <QImage>

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

// Multi-page TIFF written one page at a time: a page is decoded, compressed
// and written before the next is read, so memory does not grow with the page
// count.
namespace documentwriter {

namespace {

// A page is black and white when nearly all its pixels are black or white,
// give or take what JPEG compression does around the strokes.
constexpr int kBilevelMargin = 40;
constexpr double kBilevelShare = 0.97;
constexpr int kGreySpread = 24;
constexpr int kBilevelThreshold = 128;
constexpr int kSampleStep = 2;
constexpr uint32_t kRowsPerStrip = 64; // a multiple of the JPEG block rows

void logTiffMessage(const char *module, const char *format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    qDebug() << "tiff:" << (module ? module : "") << text;
}

void ignoreTiffWarning(const char *, const char *, va_list) {}

class TiffFile {
public:
    explicit TiffFile(const QString &path)
    {
        TIFFSetErrorHandler(&logTiffMessage);
        TIFFSetWarningHandler(&ignoreTiffWarning);
        tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    }
    ~TiffFile()
    {
        if (tiff != nullptr)
            TIFFClose(tiff);
    }
    TiffFile(const TiffFile &) = delete;
    TiffFile &operator=(const TiffFile &) = delete;

    TIFF *get() const { return tiff; }

    // Everything on the disk, or false.
    bool close()
    {
        const bool flushed = TIFFFlush(tiff) == 1 && ::fsync(TIFFFileno(tiff)) == 0;
        TIFFClose(tiff);
        tiff = nullptr;
        return flushed;
    }

private:
    TIFF *tiff = nullptr;
};

enum class PageKind { BlackAndWhite, Grey, Colour };

struct PagePicture {
    QImage image; // Format_Grayscale8 or Format_RGB888
    PageKind kind = PageKind::Colour;
    int jpegQuality = 0; // 0: no JPEG photo, written losslessly
    double dpiX = 0.0;
    double dpiY = 0.0;
};

bool nearBlackOrWhite(int value)
{
    return value <= kBilevelMargin || value >= 255 - kBilevelMargin;
}

// A colour photo of a black-and-white page is still black and white: the
// station saves its black-and-white pictures in colour JPEG files. Every
// other pixel of every other row tells it well enough.
PageKind kindOf(const QImage &image)
{
    qint64 bilevel = 0;
    qint64 looked = 0;
    const int channels = image.format() == QImage::Format_Grayscale8 ? 1 : 3;
    const int width = image.width();
    const int height = image.height();
    for (int y = 0; y < height; y += kSampleStep) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < width; x += kSampleStep) {
            const uchar *pixel = line + channels * x;
            const int value = channels == 1 ? pixel[0] : pixel[1];
            if (channels == 3 &&
                (std::abs(pixel[0] - value) > kGreySpread || std::abs(value - pixel[2]) > kGreySpread))
                return PageKind::Colour;
            ++looked;
            if (nearBlackOrWhite(value))
                ++bilevel;
        }
    }
    return bilevel >= kBilevelShare * double(looked) ? PageKind::BlackAndWhite : PageKind::Grey;
}

// JPEG photos decoded straight into the layout the pages are written from;
// other pictures through Qt.
QImage decodedPicture(const QString &path, PagePicture &page)
{
    photopage::JpegHeader header;
    const QImage jpeg = photopage::decodeJpeg(path, header);
    if (!jpeg.isNull()) {
        page.jpegQuality = header.quality;
        return jpeg;
    }
    if (photopage::readJpegHeader(path, header))
        page.jpegQuality = header.quality;
    const QImage decoded(path);
    const bool grey = decoded.format() == QImage::Format_Grayscale8 ||
                      (decoded.format() == QImage::Format_Indexed8 && decoded.allGray());
    return decoded.isNull()
               ? decoded
               : decoded.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
}

bool readPage(const QString &path, PagePicture &page)
{
    page.image = decodedPicture(path, page);
    if (page.image.isNull())
        return false;
    page.dpiX = paperresolution::ppiOf(page.image.dotsPerMeterX());
    page.dpiY = paperresolution::ppiOf(page.image.dotsPerMeterY());
    page.kind = kindOf(page.image);
    if (page.kind == PageKind::Grey && page.image.format() != QImage::Format_Grayscale8)
        page.image = page.image.convertToFormat(QImage::Format_Grayscale8);
    return true;
}

// White is 0 (min-is-white), a set bit is ink; eight pixels to a byte.
template <typename GreyOf>
void packInk(int width, std::vector<uchar> &row, GreyOf greyOf)
{
    uchar *out = row.data();
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        unsigned bits = 0;
        for (int bit = 0; bit < 8; ++bit)
            bits = (bits << 1) | unsigned(greyOf(x + bit) < kBilevelThreshold);
        *out++ = uchar(bits);
    }
    if (x < width) {
        unsigned bits = 0;
        for (int shift = 7; x < width; ++x, --shift)
            bits |= unsigned(greyOf(x) < kBilevelThreshold) << shift;
        *out = uchar(bits);
    }
}

// One row as the page's directory describes it.
void fillRow(const PagePicture &page, int width, int y, std::vector<uchar> &row)
{
    const QImage &image = page.image;
    const uchar *line = image.constScanLine(y);
    switch (page.kind) {
    case PageKind::BlackAndWhite:
        if (image.format() == QImage::Format_Grayscale8)
            packInk(width, row, [line](int x) { return int(line[x]); });
        else
            packInk(width, row, [line](int x) { return int(line[3 * x + 1]); });
        break;
    case PageKind::Grey: std::copy(line, line + width, row.begin()); break;
    case PageKind::Colour: std::copy(line, line + 3 * width, row.begin()); break;
    }
}

// Black and white in CCITT Group 4, JPEG photos again as JPEG at their own
// quality, everything else losslessly (Deflate).
bool describePage(TIFF *tiff, const PagePicture &page, int number, int pages)
{
    const QImage &image = page.image;
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(image.width())) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(image.height())) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
              TIFFSetField(tiff, TIFFTAG_PAGENUMBER, uint16_t(number), uint16_t(pages)) &&
              TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(page.dpiX)) &&
              TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(page.dpiY));
    if (page.kind == PageKind::BlackAndWhite) {
        return ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1) &&
               TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
               TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
               TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
               TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(image.height()));
    }
    const bool colour = page.kind == PageKind::Colour;
    ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
         TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, colour ? 3 : 1) &&
         TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    if (page.jpegQuality > 0) {
        ok = ok && TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG) &&
             TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, colour ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_MINISBLACK) &&
             TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, page.jpegQuality);
        // The library turns the RGB rows into YCbCr itself.
        return ok && (!colour || TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB));
    }
    return ok && TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
           TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
           TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, colour ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
}

bool writePage(TIFF *tiff, const PagePicture &page, int number, int pages)
{
    if (!describePage(tiff, page, number, pages))
        return false;
    const int width = page.image.width();
    const size_t rowBytes = page.kind == PageKind::BlackAndWhite ? size_t((width + 7) / 8)
                            : page.kind == PageKind::Grey        ? size_t(width)
                                                                 : size_t(3 * width);
    std::vector<uchar> row(rowBytes);
    const int height = page.image.height();
    for (int y = 0; y < height; ++y) {
        fillRow(page, width, y, row);
        if (TIFFWriteScanline(tiff, row.data(), uint32_t(y), 0) != 1)
            return false;
    }
    return TIFFWriteDirectory(tiff) == 1;
}

void report(const Progress &progress, int page)
{
    if (progress)
        progress(page);
}

} // namespace

Outcome writeTiff(const QStringList &images, const QString &target, const Progress &progress)
{
    Outcome outcome;
    if (images.isEmpty())
        return outcome;
    TiffFile file(target);
    if (file.get() == nullptr) {
        qDebug() << "tiff not opened:" << target;
        return outcome;
    }
    for (int row = 0; row < images.size(); ++row) {
        report(progress, row + 1);
        PagePicture page;
        if (!readPage(images.at(row), page)) {
            outcome.unreadableImage = images.at(row);
            return outcome;
        }
        if (!writePage(file.get(), page, row, images.size())) {
            qDebug() << "tiff page not written:" << target << row + 1;
            return outcome;
        }
    }
    outcome.written = file.close();
    if (!outcome.written)
        qDebug() << "tiff not written:" << target;
    return outcome;
}

} // namespace documentwriter
