#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

// A small page that sends the browser on to the demo page with its token.
//
// Some desktops' openers drop the query of a file:// address, so the demo
// page would lose its token and be refused. The station therefore opens
// this launcher, whose own address has no query; it redirects to the
// tokened address and forwards any query it was itself opened with
// ("launcher.html?port=1234" lands on "wsVideoDemo.html?token=…&port=1234").
//
// The launcher holds the token, so only its user may read it: it is written
// mode 0600 (whatever the umask) as a fresh file renamed into place, never
// through a symlink found at its name, into the user's private runtime
// directory ($XDG_RUNTIME_DIR, when it is a directory of this user that no
// one else may enter) or else into a new 0700 directory in the temporary
// directory. It is removed when this object goes.
class DemoLauncher
{
public:
    // Writes the launcher for `demoUrl`; a non-empty `directory` is used
    // instead of the private directory chosen as above.
    explicit DemoLauncher(const QUrl &demoUrl, const QString &directory = QString());
    ~DemoLauncher();
    DemoLauncher(const DemoLauncher &) = delete;
    DemoLauncher &operator=(const DemoLauncher &) = delete;

    // False when the launcher could not be written.
    bool isWritten() const { return !path.isEmpty(); }
    // The launcher's path; empty when it could not be written.
    QString filePath() const { return path; }
    // What to open: the launcher's file address, or `demoUrl` itself when
    // the launcher could not be written.
    QUrl url() const;

    // The launcher's name: one per running station, so stations of several
    // users or test runs never share one.
    static QString fileName();
    // The launcher page for `demoUrl`.
    static QByteArray page(const QUrl &demoUrl);

private:
    QString chooseDirectory();
    static bool writePrivately(const QString &path, const QByteArray &content);

    QUrl target;
    QString path;
    std::unique_ptr<QTemporaryDir> privateDir;   // when no runtime directory suits
};
