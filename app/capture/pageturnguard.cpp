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

void PageTurnGuard::forget()
{
    taken.clear();
    hands.reset();
    lastSheet = PageSheet();
}
