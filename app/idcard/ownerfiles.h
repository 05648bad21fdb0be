#pragma once

#include <QByteArray>
#include <QString>

// Personal data (card holders' photos) is kept readable by the owner only,
// whatever the process's umask.
namespace ownerfiles {

// Creates `path` and its missing parents; the directory itself ends up 0700.
bool makeOwnerDirectory(const QString &path);

// Writes `bytes` to `path` (created or truncated), mode 0600; a symbolic link
// in its place is refused rather than followed.
bool writeOwnerFile(const QString &path, const QByteArray &bytes);

} // namespace ownerfiles
