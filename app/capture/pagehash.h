#pragma once

#include <QtGlobal>

#include <array>

struct PageSheet;

// A perceptual hash of a page: the sheet cut out and straightened, its
// lowest 16 x 16 cosine frequencies compared with their median. The same
// page laid down again, a little moved or turned, keeps nearly every bit;
// another page differs in many, even when it follows the same form (an
// 8 x 8 hash cannot tell such pages apart: they share their coarse layout).
namespace pagehash {

constexpr int kBits = 256;
using Hash = std::array<quint64, kBits / 64>;

// The hash of the sheet (of the whole picture when no sheet was found);
// all zeros for an empty picture.
Hash of(const PageSheet &sheet);

// Number of differing bits, 0..kBits.
int distance(const Hash &a, const Hash &b);

} // namespace pagehash
