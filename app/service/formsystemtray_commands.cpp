// The WebSocket command set: one JSON object per text message, dispatched
// by its "command"; replies are broadcast as indented JSON.
#include "formsystemtray.h"

#include "accesspolicy.h"
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "imageprocessing.h"
#include "logtext.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

QJsonArray resolutionList(const CameraInfo &camera)
{
    QJsonArray list;
    for (const QSize &size : camera.resolutions)
        list.append(QJsonObject{{QStringLiteral("width"), size.width()},
                                {QStringLiteral("height"), size.height()}});
    return list;
}

} // namespace

void FormSystemTray::processTextMessage(QString message)
{
    qDebug() << "收到消息并显示: \n" << LogText::clipped(message);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toLocal8Bit(), &error);
    if (document.isNull()) {
        qDebug() << "String NULL" << LogText::clipped(message);
        return;
    }
    const QJsonObject request = document.object();
    if (!request.contains(QStringLiteral("command")))
        return;
    const auto member = [&request](const char *name) { return request.value(QLatin1String(name)); };
    Config &config = *Cache::config;

    switch (member("command").toInt()) {
    case 10001:
        if (member("code").toInt() == 1) {
            startPreview(request);
        } else if (member("code").toInt() == 0) {
            previewOn = false;
            requestCamera(false);
            updateUseMark();
        }
        break;
    case 10002:
        takePhotoToFile(request);
        break;
    case 10003: {
        const QString pic = imageProcessing->takePhotoByWebBase64(
            member("quality").toInt(), imageProcessing->angle, member("bShow").toInt());
        sendDataJson(QJsonObject{{QStringLiteral("command"), 20003}, {QStringLiteral("pic"), pic}});
        break;
    }
    case 10004:
        imageProcessing->setCameraShootType(member("types").toInt());
        break;
    case 10005:
        imageProcessing->setFrameWidthAndHeight(member("width").toInt(), member("height").toInt());
        imageProcessing->resolutionChanged = true;
        break;
    case 10006:
        httpUploadFile(member("url").toString(), member("path").toString());
        break;
    case 10007:
        imageProcessing->setCameraCorrection(member("bEnable").toInt());
        break;
    case 10008:
        config.autoCaptureOn = member("bEnable").toInt() == 1;
        break;
    case 10009:
        imageProcessing->angle = member("angle").toInt();
        break;
    case 10010:
        toggleIdCardDialog();
        break;
    case 10011:
        takePhotoToBase64File(request);
        break;
    case 10012: {
        const int camidx = member("camidx").toInt();
        if (camidx < 0 || camidx >= Cache::cameras->size())
            break;
        const QList<QSize> &sizes = Cache::cameras->at(camidx).resolutions;
        requestCamera(true, camidx, sizes.value(config.resolution, sizes.value(0)));
        break;
    }
    case 10013:
        imageProcessing->setAngle(1);
        break;
    case 10014:
        imageProcessing->setAngle(-1);
        break;
    case 10021:
        readFileToBase64(request);
        break;
    case 10022: {
        const QString path = member("filepath").toString();
        if (AccessPolicy::mayWriteVideo(path))
            recordBegin(path);
        else
            qDebug() << "recording refused: not a video file name or not a regular file:"
                     << LogText::clipped(path);
        break;
    }
    case 10023:
        recordEnd();
        break;
    case 10024:
        imageProcessing->setZoomValue(0.2);
        break;
    case 10025:
        imageProcessing->setZoomValue(-0.2);
        break;
    case 10026:
        toggleFingerDialog();
        break;
    default:
        break;   // 10015..10020 and anything outside the set
    }
}

void FormSystemTray::startPreview(const QJsonObject &request)
{
    Config &config = *Cache::config;
    const QList<CameraInfo> &cameras = *Cache::cameras;
    const int camidx = request.value(QLatin1String("camidx")).toInt();
    const int position = camidx != 0 ? 0 : (config.thirdDeviceMain ? 2 : 1);
    if (position >= cameras.size()) {
        qDebug() << "preview refused: camera position" << position << "beyond the"
                 << cameras.size() << "cameras";
        return;
    }
    previewOn = true;
    const CameraInfo camera = cameras.at(position);

    config.autoCaptureOn = request.value(QLatin1String("autograp")).toInt() == 1;
    imageProcessing->setCameraCorrection(request.value(QLatin1String("autocrop")).toInt() == 1 ? 1 : 0);
    imageProcessing->setWebSize(request.value(QLatin1String("videoCanvas_width")).toInt(),
                                request.value(QLatin1String("videoCanvas_height")).toInt());
    int width = request.value(QLatin1String("width")).toInt();
    int height = request.value(QLatin1String("height")).toInt();
    if (width < 1 || height < 1) {
        const QSize configured = camera.resolutions.value(config.resolution,
                                                          camera.resolutions.value(0));
        width = qMax(0, configured.width());
        height = qMax(0, configured.height());
    }
    requestCamera(true, position, QSize(width, height));
    updateUseMark();

    const QJsonArray res = resolutionList(camera);
    const QJsonObject format{{QStringLiteral("name"), QStringLiteral("mjpg")},
                             {QStringLiteral("res"), res},
                             {QStringLiteral("num"), res.size()}};
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20000},
                             {QStringLiteral("width"), width},
                             {QStringLiteral("height"), height},
                             {QStringLiteral("currestype"), QStringLiteral("mjpg")},
                             {QStringLiteral("content"), QJsonArray{format}}});
}

void FormSystemTray::takePhotoToFile(const QJsonObject &request)
{
    const QString path = request.value(QLatin1String("path")).toString();
    bool taken = false;
    if (!AccessPolicy::mayWriteImage(path)) {
        qDebug() << "photo refused: not an image file name or not a regular file:"
                 << LogText::clipped(path);
    } else {
        taken = imageProcessing->takePhotoByWeb(path, request.value(QLatin1String("quality")).toInt(),
                                                request.value(QLatin1String("angle")).toInt(),
                                                request.value(QLatin1String("bShow")).toInt())
                && QFileInfo(path).isFile();
        if (taken)
            accessPolicy->rememberWritten(path);
    }
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20002},
                             {QStringLiteral("result"), taken ? 1 : 0},
                             {QStringLiteral("path"), path}});
}

void FormSystemTray::takePhotoToBase64File(const QJsonObject &request)
{
    const QString path = request.value(QLatin1String("path")).toString();
    if (!AccessPolicy::mayWriteImage(path)) {
        qDebug() << "photo refused: not an image file name or not a regular file:"
                 << LogText::clipped(path);
        return;
    }
    if (!imageProcessing->takePhotoByWeb(path, Cache::config->quality, imageProcessing->angle, 0)
        || !QFileInfo(path).isFile())
        return;
    accessPolicy->rememberWritten(path);
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20021},
                             {QStringLiteral("result"), QStringLiteral("1")},
                             {QStringLiteral("base64"), imageProcessing->fileToBase64(path)}});
}

void FormSystemTray::readFileToBase64(const QJsonObject &request)
{
    const QString path = request.value(QLatin1String("filepath")).toString();
    const bool allowed = accessPolicy->mayRead(path);
    if (!allowed)
        qDebug() << "file refused: outside the working directory and not written for a page:"
                 << LogText::clipped(path);
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20021},
                             {QStringLiteral("result"), allowed ? QStringLiteral("1") : QStringLiteral("0")},
                             {QStringLiteral("base64"), allowed ? imageProcessing->fileToBase64(path)
                                                                : QString()}});
}
