// Two-pass parallel thinning with a neighbourhood lookup table per pass.
#include "thinning.h"

#include <array>
#include <vector>

namespace qxfp {
namespace {

// Neighbours P2..P9 clockwise from north as bits 0..7.
using Table = std::array<uint8_t, 256>;

Table make_table(int pass) {
    Table t{};
    for (int code = 0; code < 256; ++code) {
        int p[8];
        for (int i = 0; i < 8; ++i) p[i] = (code >> i) & 1;
        int b = 0, a = 0;
        for (int i = 0; i < 8; ++i) {
            b += p[i];
            if (p[i] == 0 && p[(i + 1) % 8] == 1) ++a;
        }
        const int p2 = p[0], p4 = p[2], p6 = p[4], p8 = p[6];
        bool remove = b >= 2 && b <= 6 && a == 1;
        if (pass == 0) remove = remove && p2 * p4 * p6 == 0 && p4 * p6 * p8 == 0;
        else remove = remove && p2 * p4 * p8 == 0 && p2 * p6 * p8 == 0;
        t[static_cast<size_t>(code)] = remove ? 1 : 0;
    }
    return t;
}

}  // namespace

void thin_ridges(cv::Mat &img) {
    static const Table tables[2] = {make_table(0), make_table(1)};
    const int w = img.cols, h = img.rows;
    img.row(0).setTo(0);
    img.row(h - 1).setTo(0);
    img.col(0).setTo(0);
    img.col(w - 1).setTo(0);
    std::vector<int> candidates;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            if (img.at<uint8_t>(y, x)) candidates.push_back(y * w + x);
    uint8_t *d = img.data;
    std::vector<int> removed;
    bool changed = true;
    while (changed) {
        changed = false;
        for (int pass = 0; pass < 2; ++pass) {
            removed.clear();
            const Table &t = tables[pass];
            for (int idx : candidates) {
                if (!d[idx]) continue;
                const int code = d[idx - w] | (d[idx - w + 1] << 1) | (d[idx + 1] << 2) | (d[idx + w + 1] << 3) |
                                 (d[idx + w] << 4) | (d[idx + w - 1] << 5) | (d[idx - 1] << 6) |
                                 (d[idx - w - 1] << 7);
                if (t[static_cast<size_t>(code)]) removed.push_back(idx);
            }
            for (int idx : removed) d[idx] = 0;
            if (!removed.empty()) changed = true;
        }
        // Keep only pixels still set for the next round.
        size_t k = 0;
        for (int idx : candidates)
            if (d[idx]) candidates[k++] = idx;
        candidates.resize(k);
    }
}

}  // namespace qxfp
