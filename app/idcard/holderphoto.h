#pragma once

#include <QString>

// Where the card holder's photo of the last card read is kept. The card
// dialog writes it and the service's card record reads it back, so both ask
// here.
namespace holderphoto {

// "data" beside the program (`appDir`) when files can be created there, as
// in a build tree or a writable install; else "data" in the user's
// application data directory (or in the working directory when the system
// names none), since an installed program's directory is read-only to the
// user. The directory is created when missing and ends up 0700. The choice
// is logged when it is first made and whenever it changes.
QString directory(const QString &appDir);

// The photo file ("image.bmp") in directory().
QString filePath(const QString &appDir);

} // namespace holderphoto
