#pragma once

#include <QDateTime>
#include <QString>

class Config;

// File names the station picks for its photos. Each name is reserved on
// disk the moment it is chosen, so no photo ever overwrites an existing file
// and two threads naming photos at once never get the same name.
namespace photonaming {

// The station clock's wall time, behind time names and time watermarks.
QDateTime now();

// "tiff" when photos are saved as TIFF, the configured codec otherwise.
QString extensionFor(const Config &config, bool saveAsTiff);

// Next free name by the configured pattern: prefix and running number
// (numbers of existing files are used up and skipped), or the capture time
// with the least "_N" suffix that makes it free. A missing working directory
// is created again. Empty when no file can be made there; no number is
// used up then.
QString reservePhotoPath(Config &config, const QString &extension);

// Next free prefix-and-number name, whatever the configured pattern.
QString reserveNumberedPath(Config &config, const QString &extension);

// A text read off the page (a barcode) made fit to be a file's base name:
// no path separators or characters other systems refuse, no control
// characters, no leading dots or spaces, at most 100 characters and short
// enough in bytes for the suffix and extension to fit. Empty when nothing
// usable is left.
QString safeBaseName(const QString &text);

// Next free name "<base>.<ext>", or "<base>_N.<ext>" with the least N that
// makes it free, in the working directory. `baseName` is made safe first;
// empty when nothing usable is left or no file can be made there. Uses no
// running number.
QString reserveNamedPath(Config &config, const QString &baseName, const QString &extension);

// Gives a reservation back when nothing was written into it.
void releaseIfEmpty(const QString &path);

// A photo reserved at `path` could not be written: the empty reservation
// goes, and its running number too unless a later one was handed out since.
void giveBack(Config &config, const QString &path);

} // namespace photonaming
