#pragma once

#include <QString>

// What the service writes into the log of a text a page sent or is sent:
// a short prefix and the full length. Pages send megabytes of paths and
// receive Base64 pictures; whole texts would fill the disk with the log.
namespace LogText {

constexpr int shownCharacters = 160;

QString clipped(const QString &text);

} // namespace LogText
