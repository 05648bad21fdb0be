// Uploads of captured files to a page's server, and page-driven recording.
#include "formsystemtray.h"

#include "accesspolicy.h"
#include "logtext.h"
#include "recording.h"

#include <QDebug>
#include <QFile>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace {

QJsonObject uploadMessage(const QString &result)
{
    return QJsonObject{{QStringLiteral("command"), 20006}, {QStringLiteral("result"), result}};
}

// The part of an upload's reply body kept for the page, and how much was dropped.
const char *const kKeptBody = "docstationKeptBody";
const char *const kDroppedBytes = "docstationDroppedBytes";

} // namespace

void FormSystemTray::httpUploadFile(QString url, QString filePath)
{
    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    auto *file = new QFile(multiPart);
    // Opened once and judged by what was opened: the bytes posted are the
    // file that was checked, whatever happens to its name meanwhile.
    const AccessPolicy::ReadVerdict verdict = accessPolicy->openForReading(filePath, *file);
    if (verdict != AccessPolicy::ReadVerdict::Opened) {
        delete multiPart;
        if (verdict == AccessPolicy::ReadVerdict::Missing) {
            sendDataJson(uploadMessage(QStringLiteral("文件不存在")));
            return;
        }
        if (verdict == AccessPolicy::ReadVerdict::Unreadable) {
            sendDataJson(uploadMessage(QStringLiteral("文件无法读取")));
            return;
        }
        qDebug() << "upload refused: outside the working directory and not written for a page:"
                 << LogText::clipped(filePath);
        sendDataJson(uploadMessage(QStringLiteral("拒绝上传：只能上传工作目录中的文件或本次为网页拍摄的文件")));
        return;
    }
    const QUrl target(url, QUrl::TolerantMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        delete multiPart;
        sendDataJson(uploadMessage(QStringLiteral("上传地址无效")));
        return;
    }
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentTypeHeader, QVariant(QStringLiteral("image/jpeg")));
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QVariant(QStringLiteral("form-data; name=\"file\"; filename=\"image.jpg\"")));
    part.setBodyDevice(file);
    multiPart->append(part);

    QNetworkReply *reply = network->post(QNetworkRequest(target), multiPart);
    multiPart->setParent(reply);   // freed with the reply when the upload ends
    currentReply = reply;
    uploading = true;
    // The body is taken as it arrives, so a server answering with gigabytes
    // costs the station no more than the part a page is shown.
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { keepUploadReply(reply); });
    connect(reply, &QNetworkReply::errorOccurred, this, &FormSystemTray::upLoadError);
    connect(reply, &QNetworkReply::uploadProgress, this, &FormSystemTray::OnUploadProgress);
}

void FormSystemTray::keepUploadReply(QNetworkReply *reply)
{
    QByteArray kept = reply->property(kKeptBody).toByteArray();
    const qint64 room = maxUploadReplyBytes - kept.size();
    if (room > 0)
        kept += reply->read(room);
    const qint64 dropped = reply->skip(reply->bytesAvailable());
    reply->setProperty(kKeptBody, kept);
    if (dropped > 0)
        reply->setProperty(kDroppedBytes, reply->property(kDroppedBytes).toLongLong() + dropped);
}

// Reports the body of the reply that finished (not of a later upload), at
// most maxUploadReplyBytes of it.
void FormSystemTray::replyFinished(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    qDebug() << "http upload返回" << status.toInt();
    keepUploadReply(reply);
    QByteArray body = reply->property(kKeptBody).toByteArray();
    const qint64 dropped = reply->property(kDroppedBytes).toLongLong();
    const int nul = body.indexOf('\0');
    if (nul >= 0)
        body.truncate(nul);
    QString result = QString::fromUtf8(body);
    if (dropped > 0)
        result += QStringLiteral("…（服务器回复过长，其后 %1 字节未转交）").arg(dropped);
    finishUpload(reply, result);
}

void FormSystemTray::upLoadError(QNetworkReply::NetworkError)
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    const QString text = reply ? reply->errorString() : QString();
    qDebug() << "upLoadError" << LogText::clipped(text);
    sendDataJson(uploadMessage(text));
}

void FormSystemTray::finishUpload(QNetworkReply *reply, const QString &result)
{
    sendDataJson(uploadMessage(result));
    if (reply == currentReply) {
        currentReply = nullptr;
        uploading = false;
    }
    reply->deleteLater();
}

// ---------------------------------------------------------------- recording

void FormSystemTray::recordBegin(QString filePath)
{
    if (!recorder->beginVideo(filePath))
        qDebug() << "recording not started:" << LogText::clipped(filePath);
    else
        accessPolicy->rememberWritten(filePath);
    updateUseMark();
}

void FormSystemTray::recordEnd()
{
    if (!recorder->isRecording())
        return;
    recorder->end();   // the red dot goes once the file is announced
}
