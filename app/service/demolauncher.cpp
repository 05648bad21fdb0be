#include "demolauncher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A directory of this user that nobody else may enter (not a symlink).
bool privateToUser(const QString &directory)
{
    struct stat info {};
    if (directory.isEmpty() || ::lstat(QFile::encodeName(directory).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

bool writeAll(int fd, const QByteArray &content)
{
    qint64 done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// `text` as a JavaScript string literal that cannot end the script element.
QByteArray scriptString(const QString &text)
{
    QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    json = json.mid(1, json.size() - 2);   // the string without the array's brackets
    return json.replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026");
}

} // namespace

DemoLauncher::DemoLauncher(const QUrl &demoUrl, const QString &directory)
    : target(demoUrl)
{
    const QString dir = directory.isEmpty() ? chooseDirectory() : directory;
    const QString candidate = dir + QLatin1Char('/') + fileName();
    if (!dir.isEmpty() && writePrivately(candidate, page(demoUrl))) {
        path = candidate;
        return;
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    qWarning().noquote() << QStringLiteral("demo page launcher not written in \"%1\" (%2): "
                                           "opening the demo page's address directly")
                                .arg(dir, reason);
}

DemoLauncher::~DemoLauncher()
{
    if (!path.isEmpty())
        QFile::remove(path);
}

QUrl DemoLauncher::url() const
{
    return path.isEmpty() ? target : QUrl::fromLocalFile(path);
}

QString DemoLauncher::fileName()
{
    return QStringLiteral("docstation-demo-%1.html").arg(QCoreApplication::applicationPid());
}

QByteArray DemoLauncher::page(const QUrl &demoUrl)
{
    // Fully encoded, the address holds no quote, space or angle bracket.
    const QString address = QString::fromLatin1(demoUrl.adjusted(QUrl::RemoveFragment).toEncoded());
    const QByteArray literal = scriptString(address);
    const QByteArray attribute = address.toHtmlEscaped().toUtf8();
    // The script forwards the launcher's own query (and fragment); without
    // scripts the refresh still reaches the page with its token.
    return QByteArrayLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
                             "<title>演示页</title>\n<script>\n(function () {\n  var target = ")
        + literal
        + QByteArrayLiteral(";\n  var extra = location.search.replace(/^\\?/, \"\");\n"
                            "  if (extra) target += (target.indexOf(\"?\") < 0 ? \"?\" : \"&\") + extra;\n"
                            "  location.replace(target + location.hash);\n})();\n</script>\n"
                            "<noscript><meta http-equiv=\"refresh\" content=\"0; url=")
        + attribute
        + QByteArrayLiteral("\"></noscript>\n</head><body><p><a href=\"")
        + attribute
        + QByteArrayLiteral("\">打开演示页</a></p></body></html>\n");
}

QString DemoLauncher::chooseDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (privateToUser(runtime))
        return runtime;
    // mkdtemp: a new directory, mode 0700.
    privateDir = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                                 + QStringLiteral("/docstation-demo-XXXXXX"));
    return privateDir->isValid() ? privateDir->path() : QString();
}

// Written under a fresh temporary name (O_EXCL: never through anything
// found there) and renamed over the name, which replaces a symlink there
// instead of following it.
bool DemoLauncher::writePrivately(const QString &path, const QByteArray &content)
{
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, content);
    int failure = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (written && ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    if (written)
        failure = errno;
    ::unlink(temporary.constData());
    errno = failure;
    return false;
}
