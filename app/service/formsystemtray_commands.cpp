// The WebSocket command set: one JSON object per text message, dispatched
// by its "command"; replies are broadcast as indented JSON.
#include "formsystemtray.h"

#include "accesspolicy.h"
#include "cache.h"
#include "camerainfo.h"
#include "commandmembers.h"
#include "config.h"
#include "imageprocessing.h"
#include "logtext.h"
#include "recording.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <opencv2/core.hpp>

#include <climits>
#include <exception>

namespace {

// A page waits a frame's encoding at most; more commands than this in that
// time are a page gone wrong, not work to keep.
constexpr int kMaxHeldMessages = 64;

QJsonArray resolutionList(const CameraInfo &camera)
{
    QJsonArray list;
    for (const QSize &size : camera.resolutions)
        list.append(QJsonObject{{QStringLiteral("width"), size.width()},
                                {QStringLiteral("height"), size.height()}});
    return list;
}

// The ranges of each command's numeric members; what a command does not
// list it does not use as a number.
bool membersValid(int command, const QJsonObject &request, QString *problem)
{
    using commandmembers::kMaxCaptureSide;
    using commandmembers::valid;
    switch (command) {
    case 10001:
        return valid(request, {{"code", 0, 1}, {"camidx", INT_MIN, INT_MAX},
                               {"width", 0, kMaxCaptureSide}, {"height", 0, kMaxCaptureSide},
                               {"autocrop", 0, 1}, {"autograp", 0, 1},
                               {"videoCanvas_width", 0, INT_MAX}, {"videoCanvas_height", 0, INT_MAX}},
                     problem);
    case 10002:
    case 10003:
        return valid(request, {{"quality", 0, 100}, {"angle", 0, 3}, {"bShow", 0, 1}}, problem);
    case 10004:
        return valid(request, {{"types", 0, 3}}, problem);
    case 10005:
        return valid(request, {{"width", 0, kMaxCaptureSide}, {"height", 0, kMaxCaptureSide}}, problem);
    case 10007:
        return valid(request, {{"bEnable", 0, 2}}, problem);
    case 10008:
        return valid(request, {{"bEnable", 0, 1}}, problem);
    case 10009:
        return valid(request, {{"angle", 0, 3}}, problem);
    case 10012:
        return valid(request, {{"camidx", INT_MIN, INT_MAX}}, problem);
    default:
        return true;
    }
}

// The picture in an opened file, fitted into the preview canvas as Base64
// JPEG; empty when it holds no picture. Decoded from the file as it streams,
// so naming a large video reads no more than its first bytes.
QString pictureAsBase64(ImageProcessing &capture, QFile &file)
{
    QImageReader reader(&file);
    return capture.image2Data(reader.read());
}

} // namespace

// A page that stopped a recording sees its file complete in whatever it
// does next (reads or uploads it, records into it again): its commands wait,
// in their order, until the recorder announces the file.
void FormSystemTray::processTextMessage(QString message)
{
    if (!recorder->isFinishingVideo() && heldMessages.isEmpty()) {
        runTextMessage(message);
        return;
    }
    if (heldMessages.size() >= kMaxHeldMessages) {
        qDebug() << "command dropped while a recording is finished:" << LogText::clipped(message);
        return;
    }
    heldMessages.append(message);
}

void FormSystemTray::runHeldMessages()
{
    while (!heldMessages.isEmpty() && !recorder->isFinishingVideo())
        runTextMessage(heldMessages.takeFirst());
}

void FormSystemTray::runTextMessage(const QString &message)
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
    const int command = request.value(QLatin1String("command")).toInt();
    QString problem;
    if (!membersValid(command, request, &problem)) {
        qDebug() << "command" << command << "refused:" << problem;
        refuseCommand(command, request);
        return;
    }
    // A page's input must never end the station: whatever OpenCV or the
    // standard library throws ends this command only.
    try {
        dispatchCommand(command, request);
    } catch (const cv::Exception &error) {
        qDebug() << "command" << command << "failed:" << error.what();
    } catch (const std::exception &error) {
        qDebug() << "command" << command << "failed:" << error.what();
    }
}

// Commands that answer say so also when their members were refused.
void FormSystemTray::refuseCommand(int command, const QJsonObject &request)
{
    if (command == 10002)
        sendDataJson(QJsonObject{{QStringLiteral("command"), 20002},
                                 {QStringLiteral("result"), 0},
                                 {QStringLiteral("path"), request.value(QLatin1String("path")).toString()}});
    else if (command == 10003)
        sendDataJson(QJsonObject{{QStringLiteral("command"), 20003}, {QStringLiteral("pic"), QString()}});
}

void FormSystemTray::dispatchCommand(int command, const QJsonObject &request)
{
    const auto member = [&request](const char *name) { return request.value(QLatin1String(name)); };
    Config &config = *Cache::config;

    switch (command) {
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
    int width = request.value(QLatin1String("width")).toInt();
    int height = request.value(QLatin1String("height")).toInt();
    if (width < 1 || height < 1) {
        const QSize configured = camera.resolutions.value(config.resolution,
                                                          camera.resolutions.value(0));
        width = qMax(0, configured.width());
        height = qMax(0, configured.height());
    }
    // A canvas larger than the camera's picture shows nothing more and
    // costs every frame its memory; setWebSize keeps a ceiling of its own.
    const auto canvasSide = [](double requested, int cameraSide) {
        const int side = int(qMin(requested, double(INT_MAX)));
        return cameraSide > 0 ? qMin(side, cameraSide) : side;
    };
    imageProcessing->setWebSize(
        canvasSide(request.value(QLatin1String("videoCanvas_width")).toDouble(), width),
        canvasSide(request.value(QLatin1String("videoCanvas_height")).toDouble(), height));
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
    QFile file;
    if (accessPolicy->openForReading(path, file) != AccessPolicy::ReadVerdict::Opened)
        return;
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20021},
                             {QStringLiteral("result"), QStringLiteral("1")},
                             {QStringLiteral("base64"), pictureAsBase64(*imageProcessing, file)}});
}

void FormSystemTray::readFileToBase64(const QJsonObject &request)
{
    const QString path = request.value(QLatin1String("filepath")).toString();
    QFile file;
    const bool opened = accessPolicy->openForReading(path, file) == AccessPolicy::ReadVerdict::Opened;
    if (!opened)
        qDebug() << "file refused: missing, outside the working directory and not written for a page:"
                 << LogText::clipped(path);
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20021},
                             {QStringLiteral("result"), opened ? QStringLiteral("1") : QStringLiteral("0")},
                             {QStringLiteral("base64"), opened ? pictureAsBase64(*imageProcessing, file)
                                                               : QString()}});
}
