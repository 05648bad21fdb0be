#pragma once

#include <QImage>
#include <QString>

#include <opencv2/core.hpp>

#include <string>

// Paper pages as a clerk puts them under the camera, drawn at a given size
// with the same content for the same seed.
namespace pagemaker {

struct TextPage
{
    QImage image;   // Format_RGB32
    QString text;   // the lines drawn, joined by '\n'
};

// Lines of Chinese and English text (a CJK font of the system) on white
// paper, `lines` lines filling the upper part of the page.
TextPage textPage(unsigned seed, QSize size, int lines);

// Paper without ink: fibre texture, a faint stain and uneven light.
QImage blankPage(unsigned seed, QSize size);

// The same paper with one small handwritten signature near the bottom right.
QImage signaturePage(unsigned seed, QSize size);

// Paper with little on it: one short word, a page number or a date stamp.
QImage sparsePage(unsigned seed, QSize size);

enum class Code { Qr, Code128 };

// A separator sheet: the code alone in the middle of clean paper; a Code 128
// has its text printed under the bars. Null when the text cannot be encoded.
QImage codePage(Code kind, const std::string &text, QSize size);

// A page with ordinary text and the code in its corner (a form, not a separator).
QImage formWithCode(Code kind, const std::string &text, QSize size);

// The page lying on a dark table, photographed from above at `frame` size:
// turned slightly, lit unevenly, with sensor noise and a mild blur. 8-bit BGR.
cv::Mat photograph(const QImage &page, cv::Size frame, unsigned seed);

// The page through JPEG at the given quality, as a photo file holds it.
QImage throughJpeg(const QImage &page, int quality);

// Characters to insert, delete or replace to turn `truth` into `read`
// (Unicode code points): the error count behind a recognition's error rate.
int editDistance(const QString &truth, const QString &read);

} // namespace pagemaker
