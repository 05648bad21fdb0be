#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Multi-page documents from image files, one page per image in list order.
// Both writers may run off the GUI thread.
namespace documentwriter {

struct Outcome
{
    bool written = false;
    QString unreadableImage;   // the first image that could not be read
    bool cancelled = false;    // the user stopped the write; nothing was kept
};

// Called with the number (from 1) of the page about to be written.
using Progress = std::function<void(int page)>;

// A4 pages without margins, each page turned like its image (landscape when
// wider than tall) and the image stretched over the whole page; a photo whose
// resolution makes it a standard paper size gets a page of that paper. JPEG
// photos go in as they stand, other pictures losslessly.
Outcome writePdf(const QStringList &images, const QString &target, const Progress &progress);

// One page per image, written one at a time: black-and-white pages in CCITT
// Group 4, JPEG photos as JPEG at their own quality, other pictures
// losslessly; each page keeps its photo's resolution.
Outcome writeTiff(const QStringList &images, const QString &target, const Progress &progress);

} // namespace documentwriter
