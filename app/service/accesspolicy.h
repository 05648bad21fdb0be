#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

class Config;
class QFile;

// Who may use the station's local servers, and which files a page may name.
//
// Both servers (WebSocket and request endpoint) consult one AccessPolicy,
// owned by FormSystemTray, so an origin approved for one is approved for the
// other and the files written for a page can be read back through either.
//
// - Listen addresses: 127.0.0.1 and ::1; every interface when
//   Config::listenAll ("camera/listenAll") is set.
// - Host: the request must name 127.0.0.1, localhost or [::1], with or
//   without a port (a web page of another site reaching us through DNS
//   rebinding names its own host). WebSocket handshakes without Host are refused.
// - Origin: no Origin (a native program) is served; the bundled demo page is
//   served when its URL carries the per-start token; a web origin is served
//   when approved ("always allow" in Config::allowedOrigins, "allow once" for
//   this run); "null" and "file://" identify no page and are never trusted
//   on their own; anything else must be asked about.
// - Files: a page reads (10021, 10006) only regular files inside the
//   working directory or files written for a page since start, opened once
//   and judged by what was opened; it writes only images (10002, 10011) or
//   videos (10022) by extension, never through a symlink and never over
//   something that is not a regular file. A name with a NUL or another
//   control character is refused outright.
class AccessPolicy
{
public:
    // Reads the switches and the approved origins of `config`; approvals
    // are written back to it (and saved) as the user gives them.
    explicit AccessPolicy(Config &config);

    // Port of the WebSocket server (3417) and of the request endpoint
    // (38088). DOCSTATION_WS_PORT / DOCSTATION_HTTP_PORT move them, so tests
    // and a second build can run beside a station in use.
    static quint16 webSocketPort();
    static quint16 httpPort();

    // Addresses each server listens on (one server per address).
    QList<QHostAddress> listenAddresses() const;

    // Host check. `host` is the Host header's value (empty when missing).
    static bool hostAllowed(const QByteArray &host);

    enum class OriginVerdict { Serve, Ask, Refuse };
    // `origin` is the Origin header's value (empty when the client sent
    // none); `requestTarget` the request's target ("/?token=..."), which
    // carries the demo page's token.
    OriginVerdict decideOrigin(const QByteArray &origin, const QByteArray &requestTarget) const;
    // Lower-case scheme://host[:port] as browsers send it, the host in its
    // ASCII (punycode) form; empty when the text is not a web origin.
    static QString normalizedOrigin(const QByteArray &origin);
    bool originApproved(const QString &origin) const;
    void allowOnce(const QString &origin);       // until the station quits
    void allowAlways(const QString &origin);     // kept in "system.ini"
    void revoke(const QString &origin);          // forgets both kinds

    // Random per start; the demo page is opened with "?token=" + this.
    QString demoToken() const { return token; }
    // The demo page's URL with the token.
    QUrl demoPageUrl(const QString &htmlPath) const;

    // The one way a file a page names is read. The name is opened once,
    // without following a symlink at its end; the opened file must be a
    // regular file whose real path lies inside the working directory or is
    // a file written for a page since start. On Opened, `file` is open on
    // that descriptor, so a name swapped after the check is not what is read.
    // Missing (no such file) and Unreadable (no permission) only for a name
    // that would lie inside what pages may read: of anything else a page
    // learns nothing, not even whether it exists.
    enum class ReadVerdict { Opened, Missing, Unreadable, Refused };
    ReadVerdict openForReading(const QString &path, QFile &file) const;
    // openForReading() without keeping the file open.
    bool mayRead(const QString &path) const;
    // Remembers a file the station wrote for a page, so it can be read back.
    void rememberWritten(const QString &path);
    // 10002/10011: jpg, jpeg, png, bmp, tif, tiff; 10022: avi, mp4, mkv, mov.
    // The name must not be a symlink nor an existing non-regular file.
    static bool mayWriteImage(const QString &path);
    static bool mayWriteVideo(const QString &path);

    // Value of header `name` (case-insensitive) in an HTTP request head
    // (request line and header lines, CR LF or LF separated); `found` tells
    // a missing header from an empty one.
    static QByteArray headerValue(const QByteArray &head, const QByteArray &name,
                                  bool *found = nullptr);
    // A browser request of the request endpoint that another site made: an
    // Origin that is neither absent nor approved (nor the demo page with its
    // token), or no Origin with Sec-Fetch-Site "cross-site".
    bool crossSiteRequest(const QByteArray &head, const QByteArray &requestTarget) const;

    // A name the file calls read as the checks do: no NUL (where those
    // calls would end it) and no other control character.
    static bool plainName(const QString &path);

private:
    static bool mayWriteWithExtension(const QString &path, const QStringList &extensions);
    bool tokenPresented(const QByteArray &requestTarget) const;
    bool readableRealPath(const QString &canonical) const;
    bool wouldBeReadable(const QString &missingPath) const;

    Config &config;
    QString token;
    QSet<QString> onceOrigins;
    QSet<QString> writtenFiles;   // canonical paths
};
