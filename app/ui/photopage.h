#pragma once

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

// What a document writer needs to know of a photo before it decides how the
// photo becomes a page, read from the JPEG header alone, and a JPEG photo's
// pixels in the layout the TIFF pages take them.
namespace photopage {

struct JpegHeader {
    int width = 0;
    int height = 0;
    int components = 0;        // 1 grey, 3 colour (YCbCr)
    bool plainColours = false; // grey or YCbCr: a PDF can show the data as it stands
    double dpiX = 0.0;         // 0: the file names no resolution
    double dpiY = 0.0;
    int quality = 0; // the IJG quality its luminance table was made with, 1..100
};

// False when the file is no readable JPEG.
bool readJpegHeader(const QString &path, JpegHeader &header);

// The photo's pixels as the file stores them, grey (Format_Grayscale8) or
// colour (Format_RGB888), with the file's resolution when it names one, and
// its header. Null when the file is no readable JPEG in plain colours.
QImage decodeJpeg(const QString &path, JpegHeader &header);

// The page, in points, a photo of `pixels` is stretched over in a PDF: the
// standard paper its resolution makes it, else A4 turned like the photo.
QSizeF pagePoints(QSize pixels, double dpiX, double dpiY);

} // namespace photopage
