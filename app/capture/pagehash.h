#pragma once

#include <QtGlobal>

struct PageSheet;

// A perceptual hash of a page: the sheet cut out and straightened, its
// lowest 8 x 8 cosine frequencies compared with their median. The same page
// laid down again, a little moved or turned, keeps nearly every bit; another
// page of text differs in many.
namespace pagehash {

// The hash of the sheet (of the whole picture when no sheet was found);
// 0 for an empty picture.
quint64 of(const PageSheet &sheet);

// Number of differing bits, 0..64.
int distance(quint64 a, quint64 b);

} // namespace pagehash
