#pragma once

#include "handdetector.h"
#include "pagehash.h"
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
    // The frame looked at last is the watcher's new reference.
    void takeReference();
    // Whether the frame looked at last shows another page than the
    // reference: pages of one form can look alike to the watcher's coarse
    // scene hash, never to the page hash. False without a reference.
    bool pageChanged() const;
    // A new run: no page taken yet, no frame to compare with.
    void forget();

private:
    PageSheet lastSheet;
    pagehash::Hash reference{};
    bool haveReference = false;
    HandDetector hands;
    PageMemory taken;
};
