#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Records the addresses the program hands to the desktop instead of opening
// them (install with QDesktopServices::setUrlHandler).
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};
