#pragma once

#include "urlcatcher.h"

#include "formsystemtray.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <memory>

namespace servicetest {

// A TCP port nobody listens on right now.
quint16 freePort();

// One web page: a WebSocket client that keeps every message it receives.
class Page : public QObject
{
    Q_OBJECT
public:
    explicit Page(const QString &origin = QString());
    ~Page() override;

    bool open(quint16 port, const QString &target = QStringLiteral("/"), int timeoutMs = 5000);
    bool isOpen() const { return socket.state() == QAbstractSocket::ConnectedState; }
    void send(const QJsonObject &request);
    void sendText(const QString &text);
    // The first message with `command` received after `from` (an index into
    // messages), waiting up to `timeoutMs`; empty when none came.
    QJsonObject waitFor(int command, int timeoutMs = 5000, int from = 0);
    int count(int command) const;

    QWebSocket socket;
    QList<QJsonObject> messages;   // preview frames (20001) are counted, not kept
    QList<QString> texts;          // raw text of the messages kept
    int frames = 0;
    QString lastFrameText;
};

// The service window on one synthetic virtual camera, in a working directory
// of its own, listening on a free port.
class TrayTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // Connects a page (no Origin: a native program) and checks it is in.
    std::unique_ptr<Page> connectPage(const QString &origin = QString());
    // Starts the preview of the first camera and waits for its first frame.
    void startPreview(Page &page);
    QString docPath(const QString &name) const { return documents.path() + QLatin1Char('/') + name; }

    // Settings a test needs before the window exists.
    virtual void beforeTray() {}
    virtual QString cameraEntries() const { return QStringLiteral("synthetic:sizes=1280x720/1920x1080,fps=15"); }

    QTemporaryDir documents;
    QTemporaryDir outside;
    quint16 port = 0;
    std::unique_ptr<FormSystemTray> tray;
};

// Raw HTTP exchange with the WebSocket port: the status line of the answer
// to a handshake with the given header lines.
QByteArray handshakeStatus(quint16 port, const QByteArray &headers, int timeoutMs = 5000);

} // namespace servicetest
