#pragma once

#include <QString>

// Host names as the clerk should read them. Browsers send international
// names in their ASCII ("xn--") form; the Unicode form is what the name
// looks like, and where it mixes scripts it is how a look-alike ("іcbc"
// with a Cyrillic і) passes for a known name.
namespace HostNames {

// The Unicode form of an ASCII host name (each "xn--" label decoded); the
// name as it stands when a label does not decode.
QString unicodeForm(const QString &asciiHost);

// Whether one label of `host` holds letters of more than one script
// (digits, hyphens and combining marks belong to none).
bool mixesScripts(const QString &host);

} // namespace HostNames
