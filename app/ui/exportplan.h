#pragma once

#include "documentwriter.h"

#include <QList>
#include <QString>
#include <QStringList>

// Which documents an export writes from its page list: separator sheets (a
// page holding nothing but a barcode) split the list, each part named after
// the separator before it; blank pages are left out when asked.
namespace exportplan {

struct Options
{
    bool splitAtSeparators = false;
    bool dropBlankPages = false;
    bool any() const { return splitAtSeparators || dropBlankPages; }
};

struct Document
{
    QString name;        // the separator's text; empty: the usual file name
    QStringList pages;
};

struct Plan
{
    QList<Document> documents;   // in page order, none without pages
    QStringList blankPages;      // left out
    int separators = 0;
    QString unreadableImage;     // set: a page could not be read, nothing planned
};

// Reads every page when an option needs it (may run off the GUI thread);
// `progress` gets the number (from 1) of the page being looked at.
Plan make(const QStringList &pages, const Options &options, const documentwriter::Progress &progress);

} // namespace exportplan
