#pragma once

#include <QImage>
#include <QRect>

// Tells a blank sheet (paper without ink) from a page with something on it,
// on photos after their colour mode (colour, grey or black-and-white) and
// after JPEG. Ink is what is clearly darker than the paper around it, so
// paper texture, uneven light and compression noise do not count, while a
// single small signature does.
//
//   if (config.dropBlankPages && blankpage::isBlank(photo)) ...
namespace blankpage {

// Share of the page (its border margin left out) covered by ink, 0..1.
// Pixels inside `ignore` (page pixels) are not looked at.
double inkShare(const QImage &page, const QRect &ignore = QRect());

// Less ink than the smallest mark a person makes on purpose.
bool isBlank(const QImage &page);

// Nothing on the page but the code inside `code` (page pixels) and the text
// line printed with it: a separator sheet.
bool isCodeOnly(const QImage &page, const QRect &code);

// The share below which a page counts as blank.
constexpr double kBlankInkShare = 0.00005;

} // namespace blankpage
