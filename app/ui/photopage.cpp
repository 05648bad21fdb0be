#include "photopage.h"

#include "paperresolution.h"

#include <QFile>

#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace photopage {

namespace {

struct ErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void leave(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorExit *>(info->err)->jump, 1);
}

void keepQuiet(j_common_ptr, int) {}

// The IJG standard luminance table, which encoders scale by their quality.
const unsigned kStandardLuminance[DCTSIZE2] = {
    16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
    69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
    81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};

// Inverts the IJG scaling (quality 50 is the table itself) on the mean
// ratio of the file's table to the standard one.
int estimatedQuality(const JQUANT_TBL *table)
{
    if (table == nullptr)
        return 75;
    double scale = 0.0;
    for (int i = 0; i < DCTSIZE2; ++i)
        scale += 100.0 * table->quantval[i] / kStandardLuminance[i];
    scale /= DCTSIZE2;
    const double quality = scale <= 100.0 ? (200.0 - scale) / 2.0 : 5000.0 / scale;
    return std::max(1, std::min(100, int(quality + 0.5)));
}

// A4 in whole points, as every PDF page of the station has always been.
const QSizeF kA4Points(595.0, 842.0);

double perInch(unsigned density, int unit)
{
    if (unit == 1)
        return density;
    if (unit == 2)
        return density * 2.54;
    return 0.0; // an aspect ratio only
}

} // namespace

namespace {

// One JPEG file open for reading. libjpeg reports a damaged file by jumping
// back to the last setjmp; the steps that may jump (openAndReadHeader,
// readRows) hold no object with a destructor, and the file and decoder are
// released here, outside them.
struct Decoder {
    jpeg_decompress_struct info{};
    ErrorExit error{};
    FILE *file = nullptr;

    Decoder() = default;
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;
    ~Decoder()
    {
        jpeg_destroy_decompress(&info);
        if (file != nullptr)
            std::fclose(file);
    }
};

bool openAndReadHeader(Decoder &decoder, const char *path, JpegHeader &header)
{
    decoder.file = std::fopen(path, "rb");
    if (decoder.file == nullptr)
        return false;
    jpeg_decompress_struct &info = decoder.info;
    info.err = jpeg_std_error(&decoder.error.manager);
    decoder.error.manager.error_exit = &leave;
    decoder.error.manager.emit_message = &keepQuiet;
    if (setjmp(decoder.error.jump))
        return false;
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, decoder.file);
    jpeg_read_header(&info, TRUE);
    header.width = int(info.image_width);
    header.height = int(info.image_height);
    header.components = info.num_components;
    header.plainColours = (info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1) ||
                          (info.jpeg_color_space == JCS_YCbCr && info.num_components == 3);
    if (info.saw_JFIF_marker) {
        header.dpiX = perInch(info.X_density, info.density_unit);
        header.dpiY = perInch(info.Y_density, info.density_unit);
    }
    header.quality = estimatedQuality(info.quant_tbl_ptrs[0]);
    return header.width > 0 && header.height > 0;
}

// Decodes every row into `pixels`, `bytesPerLine` apart.
bool readRows(Decoder &decoder, uchar *pixels, size_t bytesPerLine)
{
    jpeg_decompress_struct &info = decoder.info;
    if (setjmp(decoder.error.jump))
        return false;
    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + bytesPerLine * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

bool readJpegHeader(const QString &path, JpegHeader &header)
{
    Decoder decoder;
    return openAndReadHeader(decoder, QFile::encodeName(path).constData(), header);
}

QImage decodeJpeg(const QString &path, JpegHeader &header)
{
    Decoder decoder;
    if (!openAndReadHeader(decoder, QFile::encodeName(path).constData(), header) || !header.plainColours)
        return QImage();
    QImage pixels(header.width, header.height,
                  header.components == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (pixels.isNull() || !readRows(decoder, pixels.bits(), size_t(pixels.bytesPerLine())))
        return QImage();
    if (header.dpiX > 0.0 && header.dpiY > 0.0) {
        pixels.setDotsPerMeterX(paperresolution::dotsPerMeter(header.dpiX));
        pixels.setDotsPerMeterY(paperresolution::dotsPerMeter(header.dpiY));
    }
    return pixels;
}

QSizeF pagePoints(QSize pixels, double dpiX, double dpiY)
{
    const QSizeF paper = paperresolution::paperPoints(pixels, dpiX, dpiY);
    if (paper.isValid())
        return paper;
    return pixels.width() > pixels.height() ? kA4Points.transposed() : kA4Points;
}

} // namespace photopage
