#pragma once

#include <QString>

// What a finished recording left on disk. OpenCV's video writer does not
// report a failed write (a full disk): the file is checked afterwards instead.
namespace recordedvideo {

// True when the AVI ends where its writer said it would: the writer patches
// each RIFF chunk's size when it is released, so a file cut short by a
// failed write, or never finished, does not add up.
bool complete(const QString &path);

// True when at least the first picture can be read back.
bool playable(const QString &path);

} // namespace recordedvideo
