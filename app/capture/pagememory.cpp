#include "pagememory.h"

#include "pagehash.h"

#include <algorithm>

PageMemory::PageMemory(int remembered, int samePageBits)
    : remembered(std::max(1, remembered)), samePageBits(samePageBits)
{
}

bool PageMemory::contains(quint64 hash) const
{
    return std::any_of(hashes.cbegin(), hashes.cend(),
                       [&](quint64 taken) { return pagehash::distance(taken, hash) <= samePageBits; });
}

void PageMemory::remember(quint64 hash)
{
    hashes.push_back(hash);
    while (int(hashes.size()) > remembered)
        hashes.pop_front();
}
