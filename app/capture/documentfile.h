#pragma once

#include <QString>

#include <functional>

// A document or merged picture being written: the bytes go into a hidden
// temporary file in the working directory, and only the complete file is
// renamed onto its final name. The final name is reserved through the photo
// naming at that moment, so a failed write takes no running number, a crash
// or a full disk never leaves a truncated file under a real name, and an
// existing file is never replaced.
class DocumentFile
{
public:
    // `extension` without the dot; writers that pick their format from the
    // name (OpenCV) see it on the temporary name too.
    DocumentFile(const QString &directory, const QString &extension);
    ~DocumentFile();   // removes the temporary file unless it was published

    DocumentFile(const DocumentFile &) = delete;
    DocumentFile &operator=(const DocumentFile &) = delete;

    bool isValid() const { return !temporaryPath.isEmpty(); }
    QString path() const { return temporaryPath; }

    // Reserves the final name with `reserveName` and moves the complete
    // temporary file there. Returns the final path, or an empty string when
    // nothing was published (the reservation is then given back).
    QString publish(const std::function<QString()> &reserveName);

private:
    QString temporaryPath;
    bool published = false;
};
