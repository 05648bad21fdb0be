#include "pagememory.h"

#include "pagehash.h"

#include <algorithm>

PageMemory::PageMemory(int remembered, int samePageBits)
    : remembered(std::max(1, remembered)), samePageBits(samePageBits)
{
}

bool PageMemory::contains(const pagehash::Hash &hash) const
{
    return std::any_of(hashes.cbegin(), hashes.cend(),
                       [&](const pagehash::Hash &taken) { return pagehash::distance(taken, hash) <= samePageBits; });
}

void PageMemory::remember(const pagehash::Hash &hash)
{
    hashes.push_back(hash);
    while (int(hashes.size()) > remembered)
        hashes.pop_front();
}
