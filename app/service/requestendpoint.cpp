#include "requestendpoint.h"

#include "accesspolicy.h"
#include "cache.h"
#include "cardrecord.h"
#include "config.h"
#include "imageprocessing.h"
#include "orderedjson.h"
#include "requestparameters.h"

#include <QBuffer>
#include <QDebug>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>

#include <opencv2/core.hpp>

#include <exception>

namespace {

QByteArray codeOnly()
{
    return OrderedJson().add(QStringLiteral("code"), 0).toJson();
}

QString pngBase64(const QString &path)
{
    const QImage image(path);
    if (image.isNull())
        return QString();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QString();
    return QString::fromLatin1(png.toBase64());
}

} // namespace

RequestEndpoint::RequestEndpoint(const Station &station, QObject *parent)
    : QObject(parent), station(station)
{
}

void RequestEndpoint::acceptPending(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection())
        accept(socket);
}

void RequestEndpoint::accept(QTcpSocket *socket)
{
    qDebug() << "newConnection";
    if (connections >= kMaxConnections) {
        // A client that opens connections without end gets no more.
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++connections;
    auto *connection = new RequestConnection(socket, this);
    connection->setIdleTimeout(idleTimeoutMs);
    connect(connection, &RequestConnection::requestReceived, this, &RequestEndpoint::serve);
    connect(connection, &QObject::destroyed, this, [this] { --connections; });
}

bool RequestEndpoint::admits(const RequestConnection::Request &request) const
{
    if (!station.policy)
        return false;
    if (request.hasHost && !AccessPolicy::hostAllowed(request.host))
        return false;
    const QList<QByteArray> parts = request.line.split(' ');
    const QByteArray target = parts.size() > 1 ? parts.at(1) : QByteArray();
    return !station.policy->crossSiteRequest(request.line + "\r\n" + request.data, target);
}

void RequestEndpoint::serve(RequestConnection *connection, const RequestConnection::Request &request)
{
    qDebug() << "Request Data:" << request.line;
    qDebug() << request.data;
    if (!admits(request)) {
        qDebug() << "request refused:" << request.line;
        connection->refuse();
        return;
    }
    // A request must never end the station: what OpenCV or the standard
    // library throws ends this request only, unanswered.
    QByteArray answer;
    try {
        answer = respond(request.line, request.data);
    } catch (const cv::Exception &error) {
        qDebug() << "request failed:" << error.what();
    } catch (const std::exception &error) {
        qDebug() << "request failed:" << error.what();
    }
    if (!answer.isEmpty())
        connection->answer(answer);
}

QByteArray RequestEndpoint::respond(const QByteArray &line, const QByteArray &data)
{
    using requestline::Action;
    if (!station.capture || !station.capture())
        return QByteArray();
    switch (requestline::parse(line)) {
    case Action::CardInfo:
        return cardrecord::answer(station.cardJson ? station.cardJson() : QString(),
                                  Cache::config->appDir);
    case Action::OpenCamera0:
        return openCamera(0);
    case Action::OpenCamera1:
        return openCamera(1);
    case Action::CloseCamera:
        // Pages close their view; the preview of other pages keeps running.
        return codeOnly();
    case Action::Grab:
        return grab(data);
    case Action::SetParameters:
        return setParameters(data);
    case Action::GetParameters:
        return OrderedJson()
            .add(QStringLiteral("code"), 0)
            .add(QStringLiteral("resolution"), QLatin1String(requestparameters::kResolutionText))
            .toJson();
    case Action::DeviceInfo:
        return OrderedJson()
            .add(QStringLiteral("code"), 0)
            .add(QStringLiteral("devicename"), QString())
            .toJson();
    case Action::None:
        break;
    }
    return QByteArray();
}

QByteArray RequestEndpoint::openCamera(int position)
{
    ImageProcessing *capture = station.capture();
    capture->requestCameraSwitch(position);
    return codeOnly();
}

QByteArray RequestEndpoint::grab(const QByteArray &data)
{
    ImageProcessing *capture = station.capture();
    const int correction = requestparameters::grabCorrection(data);
    if (correction != requestparameters::kUnchanged)
        capture->setCameraCorrection(correction);
    const QList<QString> paths = capture->takePhotoPaths();
    const QString path = paths.isEmpty() ? QString() : paths.first();
    if (!path.isEmpty())
        emit photoTaken(path);
    const QString photo = path.isEmpty() ? QString() : pngBase64(path);
    // No photo (no frame yet, or nothing could be written) is no success.
    const bool taken = !photo.isEmpty();
    return OrderedJson()
        .add(QStringLiteral("code"), taken ? 0 : 1)
        .add(QStringLiteral("message"), taken ? QString() : QStringLiteral("拍照失败"))
        .add(QStringLiteral("photoBase64"), photo)
        .add(QStringLiteral("filepath"), path)
        .toJson();
}

QByteArray RequestEndpoint::setParameters(const QByteArray &data)
{
    const int correction = requestparameters::setCorrection(data);
    if (correction != requestparameters::kUnchanged)
        station.capture()->setCameraCorrection(correction);
    const int resolution = requestparameters::outputResolution(data);
    if (resolution != requestparameters::kUnchanged) {
        Cache::config->outResolution = resolution;
        Cache::config->save();
    }
    if (station.reConfigVideoSetting)
        station.reConfigVideoSetting();
    return codeOnly();
}
