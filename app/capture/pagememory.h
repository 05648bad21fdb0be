#pragma once

#include <QtGlobal>

#include <deque>

// The pages automatic capture took in this run, by their hashes (pagehash):
// the last few are kept, and a page within a few bits of one of them is the
// same page laid down again.
class PageMemory
{
public:
    // How many recent shots are remembered, and how many differing bits a
    // page may show and still be one of them (chosen on bench/autocapture's
    // measurements: the same page laid again differs by 0..6 bits, two
    // different pages of text by 14 or more).
    static constexpr int kRemembered = 16;
    static constexpr int kSamePageBits = 10;

    explicit PageMemory(int remembered = kRemembered, int samePageBits = kSamePageBits);

    // Whether the hash is one of the remembered pages.
    bool contains(quint64 hash) const;
    // Remembers a page that was taken, forgetting the oldest beyond the limit.
    void remember(quint64 hash);
    void clear() { hashes.clear(); }
    int size() const { return int(hashes.size()); }

private:
    int remembered;
    int samePageBits;
    std::deque<quint64> hashes;
};
