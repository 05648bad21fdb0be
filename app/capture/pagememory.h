#pragma once

#include "pagehash.h"

#include <deque>

// The pages automatic capture took in this run, by their hashes (pagehash):
// the last few are kept, and a page within a few bits of one of them is the
// same page laid down again.
class PageMemory
{
public:
    // How many recent shots are remembered, and how many differing bits a
    // page may show and still be one of them (chosen on bench/autocapture's
    // measurements: the same page laid again, moved, turned and through
    // JPEG, differs by up to 22 of 256 bits; two different pages of the same
    // form by 50 or more. The limit sits between them; sixteen shots cover a
    // page turned back several leaves at little risk of a false match).
    static constexpr int kRemembered = 64;
    static constexpr int kSamePageBits = 36;

    explicit PageMemory(int remembered = kRemembered, int samePageBits = kSamePageBits);

    // Whether the hash is one of the remembered pages.
    bool contains(const pagehash::Hash &hash) const;
    // Remembers a page that was taken, forgetting the oldest beyond the limit.
    void remember(const pagehash::Hash &hash);
    void clear() { hashes.clear(); }
    int size() const { return int(hashes.size()); }

private:
    int remembered;
    int samePageBits;
    std::deque<pagehash::Hash> hashes;
};
