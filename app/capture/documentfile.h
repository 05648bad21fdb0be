#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>

// The station's one way to write a file: photos, card pictures, documents,
// merged pictures and pictures a page asks for. The bytes go into a hidden
// temporary file in the target's folder, and only the complete file is
// renamed onto its final name. A new file's name is reserved through the
// photo naming at that moment, so a failed write takes no running number, a
// crash or a full disk never leaves a truncated file under a real name, and
// an existing file is never replaced unless the caller names it (replace).
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

    // Makes `bytes` the whole content of the temporary file. False when any
    // write or the final flush failed (a full disk): the file is then not
    // to be published.
    bool write(const QByteArray &bytes);

    // Reserves the final name with `reserveName` and moves the complete
    // temporary file there. Returns the final path, or an empty string when
    // nothing was published (the reservation is then given back).
    QString publish(const std::function<QString()> &reserveName);

    // Moves the complete temporary file onto `target` in the same folder,
    // replacing the file there in one step: a reader sees the old file or
    // the new one, never a part.
    bool replace(const QString &target);

private:
    QString temporaryPath;
    bool published = false;
};

// A file written for DocumentFile, also by writers that stream into it (the
// PDF writer). QFile takes a block the disk took only part of for written
// and, buffered, drops the rest without a word; and a close that succeeds
// forgets an earlier write error. Here every write goes straight to the
// disk and a short or failed one marks the file as failed for good.
class CompleteFile : public QFile
{
public:
    explicit CompleteFile(const QString &path) : QFile(path) {}
    bool openForWriting();
    // Closes the file: true when every write landed whole.
    bool finish();

protected:
    qint64 writeData(const char *data, qint64 length) override;

private:
    bool failed = false;
};
