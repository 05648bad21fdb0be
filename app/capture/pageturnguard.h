#pragma once

#include "handdetector.h"
#include "pagememory.h"
#include "pagesheet.h"

#include <QImage>

// What automatic capture checks when it knows pages: whether a hand is in
// the picture, and whether the page about to be taken was taken already in
// this run. Used from the watcher's thread only.
class PageTurnGuard
{
public:
    // Looks at the frame of one watcher pass; true while a hand is over the
    // sheet or something moves on it.
    bool handInPicture(const QImage &frame);
    // For the frame looked at last: false when that page is one of the
    // recent shots; otherwise it is remembered as taken and true returned.
    bool acceptPage();
    // A new run: no page taken yet, no frame to compare with.
    void forget();

private:
    PageSheet lastSheet;
    HandDetector hands;
    PageMemory taken;
};
