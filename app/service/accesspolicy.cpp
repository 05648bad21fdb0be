#include "accesspolicy.h"

#include "config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

quint16 portFromEnvironment(const char *name, quint16 fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 && value < 65536 ? quint16(value) : fallback;
}

bool insideDirectory(const QString &canonicalFile, const QString &directory)
{
    const QString dir = QFileInfo(directory).canonicalFilePath();
    if (dir.isEmpty())
        return false;
    return canonicalFile.startsWith(dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/'));
}

// Where the open descriptor really leads, symlinks and all resolved.
QString realPathOf(int fd)
{
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    char resolved[PATH_MAX];
    if (!::realpath(link.constData(), resolved))
        return QString();
    return QFile::decodeName(resolved);
}

// A name that does not exist, resolved as far as it does: its nearest
// existing ancestor with symlinks followed, and the rest as given.
QString resolvedAsFarAsItExists(const QString &path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!QFileInfo::exists(existing)) {
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return QString();
        rest = existing.mid(slash) + rest;
        existing = existing.left(slash);
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return canonical.isEmpty() ? QString() : canonical + rest;
}

} // namespace

AccessPolicy::AccessPolicy(Config &config) : config(config)
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    for (quint32 word : words)
        token += QString::number(word, 16).rightJustified(8, QLatin1Char('0'));
}

quint16 AccessPolicy::webSocketPort()
{
    return portFromEnvironment("DOCSTATION_WS_PORT", 3417);
}

quint16 AccessPolicy::httpPort()
{
    return portFromEnvironment("DOCSTATION_HTTP_PORT", 38088);
}

QList<QHostAddress> AccessPolicy::listenAddresses() const
{
    if (config.listenAll)
        return {QHostAddress(QHostAddress::Any)};
    return {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
}

bool AccessPolicy::hostAllowed(const QByteArray &hostHeader)
{
    QByteArray host = hostHeader.trimmed().toLower();
    if (host.isEmpty())
        return false;
    if (host.startsWith('[')) {
        const int close = host.indexOf(']');
        if (close < 0)
            return false;
        const QByteArray rest = host.mid(close + 1);
        host = host.left(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return false;
        return host == "[::1]";
    }
    const int colon = host.indexOf(':');
    if (colon >= 0) {
        bool ok = false;
        host.mid(colon + 1).toUInt(&ok);
        if (!ok)
            return false;
        host = host.left(colon);
    }
    return host == "127.0.0.1" || host == "localhost";
}

QString AccessPolicy::normalizedOrigin(const QByteArray &origin)
{
    const QUrl url(QString::fromUtf8(origin.trimmed()), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http")
                                                   && scheme != QLatin1String("https")))
        return QString();
    // Browsers send host names in ASCII; QUrl would turn some back into
    // Unicode, where a look-alike ("іcbc" with a Cyrillic і) passes for the real name.
    const QString host = url.host(QUrl::EncodeUnicode).toLower();
    if (host.isEmpty())
        return QString();
    QString text = scheme + QStringLiteral("://") + host;
    if (host.contains(QLatin1Char(':')))
        text = scheme + QStringLiteral("://[") + host + QLatin1Char(']');
    if (url.port() != -1)
        text += QLatin1Char(':') + QString::number(url.port());
    return text;
}

bool AccessPolicy::tokenPresented(const QByteArray &requestTarget) const
{
    const QUrl url(QString::fromUtf8(requestTarget));
    const QString presented = QUrlQuery(url).queryItemValue(QStringLiteral("token"));
    return !presented.isEmpty() && presented == token;
}

AccessPolicy::OriginVerdict AccessPolicy::decideOrigin(const QByteArray &origin,
                                                       const QByteArray &requestTarget) const
{
    if (tokenPresented(requestTarget))
        return OriginVerdict::Serve;
    if (origin.trimmed().isEmpty())
        return OriginVerdict::Serve;
    const QString normalized = normalizedOrigin(origin);
    if (normalized.isEmpty())
        return OriginVerdict::Refuse;   // "null", "file://", anything not naming a site
    return originApproved(normalized) ? OriginVerdict::Serve : OriginVerdict::Ask;
}

bool AccessPolicy::originApproved(const QString &origin) const
{
    return onceOrigins.contains(origin) || config.allowedOrigins.contains(origin);
}

void AccessPolicy::allowOnce(const QString &origin)
{
    onceOrigins.insert(origin);
}

void AccessPolicy::allowAlways(const QString &origin)
{
    if (!config.allowedOrigins.contains(origin)) {
        config.allowedOrigins.append(origin);
        config.save();
    }
}

void AccessPolicy::revoke(const QString &origin)
{
    onceOrigins.remove(origin);
    if (config.allowedOrigins.removeAll(origin) > 0)
        config.save();
}

QUrl AccessPolicy::demoPageUrl(const QString &htmlPath) const
{
    QUrl url = QUrl::fromLocalFile(htmlPath);
    url.setQuery(QStringLiteral("token=") + token);
    return url;
}

bool AccessPolicy::plainName(const QString &path)
{
    for (const QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

AccessPolicy::ReadVerdict AccessPolicy::openForReading(const QString &path, QFile &file) const
{
    if (path.isEmpty())
        return ReadVerdict::Missing;   // names no file at all
    if (!plainName(path))
        return ReadVerdict::Refused;
    const QByteArray name = QFile::encodeName(path);
    // Devices are not even opened: opening some has effects of its own. What
    // decides is the check of the opened file below.
    struct stat named;
    if (::lstat(name.constData(), &named) == 0 && !S_ISREG(named.st_mode))
        return ReadVerdict::Refused;
    // Non-blocking, so a named pipe swapped in cannot hold the station at the open.
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if ((error != ENOENT && error != EACCES) || !wouldBeReadable(path))
            return ReadVerdict::Refused;
        return error == ENOENT ? ReadVerdict::Missing : ReadVerdict::Unreadable;
    }
    struct stat status;
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (!regular || !readableRealPath(realPathOf(fd))) {
        ::close(fd);
        return ReadVerdict::Refused;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return ReadVerdict::Refused;
    }
    return ReadVerdict::Opened;
}

bool AccessPolicy::mayRead(const QString &path) const
{
    QFile file;
    return openForReading(path, file) == ReadVerdict::Opened;
}

bool AccessPolicy::readableRealPath(const QString &canonical) const
{
    if (canonical.isEmpty())
        return false;
    return writtenFiles.contains(canonical) || insideDirectory(canonical, config.documentsLocation);
}

bool AccessPolicy::wouldBeReadable(const QString &missingPath) const
{
    return readableRealPath(resolvedAsFarAsItExists(missingPath));
}

void AccessPolicy::rememberWritten(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        writtenFiles.insert(canonical);
}

bool AccessPolicy::mayWriteWithExtension(const QString &path, const QStringList &extensions)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')) || !plainName(path))
        return false;
    if (!extensions.contains(QFileInfo(path).suffix().toLower()))
        return false;
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT;   // a new file
    return S_ISREG(status.st_mode);   // no symlink, no device, no directory
}

bool AccessPolicy::mayWriteImage(const QString &path)
{
    static const QStringList images = {QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                       QStringLiteral("png"), QStringLiteral("bmp"),
                                       QStringLiteral("tif"), QStringLiteral("tiff")};
    return mayWriteWithExtension(path, images);
}

bool AccessPolicy::mayWriteVideo(const QString &path)
{
    static const QStringList videos = {QStringLiteral("avi"), QStringLiteral("mp4"),
                                       QStringLiteral("mkv"), QStringLiteral("mov")};
    return mayWriteWithExtension(path, videos);
}

QByteArray AccessPolicy::headerValue(const QByteArray &head, const QByteArray &name, bool *found)
{
    if (found)
        *found = false;
    const QList<QByteArray> lines = head.split('\n');
    for (int i = 1; i < lines.size(); ++i) {   // line 0 is the request line
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        if (line.left(colon).trimmed().toLower() == name.toLower()) {
            if (found)
                *found = true;
            return line.mid(colon + 1).trimmed();
        }
    }
    return QByteArray();
}

bool AccessPolicy::crossSiteRequest(const QByteArray &head, const QByteArray &requestTarget) const
{
    const QByteArray origin = headerValue(head, "Origin");
    if (decideOrigin(origin, requestTarget) != OriginVerdict::Serve)
        return true;
    // Without an Origin (plain navigations, images) only the browser's own
    // mark tells another site's request from a native program's.
    return origin.trimmed().isEmpty() && !tokenPresented(requestTarget)
        && headerValue(head, "Sec-Fetch-Site").toLower() == "cross-site";
}
