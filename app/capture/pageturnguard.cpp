#include "pageturnguard.h"

#include "pagehash.h"

bool PageTurnGuard::handInPicture(const QImage &frame)
{
    lastSheet = PageSheet::of(frame);
    return hands.look(lastSheet);
}

bool PageTurnGuard::acceptPage()
{
    if (lastSheet.small.empty())
        return true;   // nothing to judge by: shoot, as without the check
    const pagehash::Hash hash = pagehash::of(lastSheet);
    if (taken.contains(hash))
        return false;
    taken.remember(hash);
    return true;
}

void PageTurnGuard::takeReference()
{
    haveReference = !lastSheet.small.empty();
    if (haveReference)
        reference = pagehash::of(lastSheet);
}

bool PageTurnGuard::pageChanged() const
{
    if (!haveReference || lastSheet.small.empty())
        return false;
    return pagehash::distance(reference, pagehash::of(lastSheet)) > PageMemory::kSamePageBits;
}

void PageTurnGuard::forget()
{
    haveReference = false;
    taken.clear();
    hands.reset();
    lastSheet = PageSheet();
}
