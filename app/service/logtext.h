#pragma once

#include <QString>

// What the service writes into the log of a text a page sent or is sent:
// a short prefix and the full length. Pages send megabytes of paths and
// receive Base64 pictures; whole texts would fill the disk with the log.
namespace LogText {

constexpr int shownCharacters = 160;

QString clipped(const QString &text);

// A reply as the log shows it: its command and result only. Replies carry
// card holders' names, numbers and portraits and fingerprint results, which
// must not end up in a log file any local user may read.
QString replySummary(const QString &reply);

} // namespace LogText
