#pragma once

#include <QByteArray>

// Parameters the request endpoint finds in the data after a request line
// (headers and body) by plain substring search.
namespace requestparameters {

constexpr int kUnchanged = -1;

// Correction for "?video=grabimage": after the first "cutpage", a "0"
// means off (0), anything else on (1); kUnchanged without "cutpage".
int grabCorrection(const QByteArray &data);

// Correction for "?param=set": after the first "cutpage", "false" means
// off (0), anything else on (1); kUnchanged without "cutpage".
int setCorrection(const QByteArray &data);

// Output-resolution entry named by "resolution" in the data: the first of
// the size texts it contains, in a fixed order ("720" before "800" and
// "640", so 1280x720 is not taken for 640 or 800); kUnchanged otherwise.
int outputResolution(const QByteArray &data);

// The sizes "?param=get" reports, in the order of the output resolutions.
extern const char *const kResolutionText;

} // namespace requestparameters
