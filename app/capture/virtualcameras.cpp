#include "virtualcameras.h"

#include "threadsafety.h"
#include "virtualimagesource.h"
#include "virtualsourceoptions.h"
#include "virtualsyntheticsource.h"
#include "virtualvideosource.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace VirtualCameras {
namespace {

using VirtualSourceOptions::Options;

// What createSource() needs of one parsed camera.
struct Registered
{
    Entry entry;
    SyntheticSettings synthetic;
    VirtualVideoSource::Probe video;
    QStringList images;
    cv::Size imageSize;
    double fps = 30;
    double hold = 0;
    std::shared_ptr<VirtualDeviceState> state = std::make_shared<VirtualDeviceState>();
};

Mutex registryMutex;
QMap<int, std::shared_ptr<Registered>> registry GUARDED_BY(registryMutex);

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Synthetic: return "synthetic";
    case Kind::Video: return "video";
    case Kind::Image: return "image";
    case Kind::Images: return "images";
    }
    return "";
}

bool parseOptions(const QString &text, Options &options, QString *error)
{
    Options parsed;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int equals = part.indexOf(QLatin1Char('='));
        const QString key = part.left(equals).trimmed().toLower();
        if (equals < 0 || key.isEmpty()) {
            if (error)
                *error = QStringLiteral("\"%1\" is not key=value").arg(part.trimmed());
            return false;
        }
        parsed.insert(key, part.mid(equals + 1).trimmed());
    }
    options = parsed;
    return true;
}

// "PATH?key=value,..." -> PATH and options; a "?" that does not start options
// belongs to the path (a wildcard).
void splitLocation(const QString &text, QString &location, QString &optionText)
{
    static const QRegularExpression optionsTail(
        QStringLiteral("\\?([A-Za-z0-9_]+=[^/?]*(,[A-Za-z0-9_]+=[^/?]*)*)$"));
    const QRegularExpressionMatch match = optionsTail.match(text);
    if (match.hasMatch()) {
        location = text.left(match.capturedStart(0));
        optionText = match.captured(1);
    } else {
        location = text;
        optionText.clear();
    }
}

bool takeNumber(Options &options, const char *key, double low, double high, double &value,
                QString *error)
{
    const QString name = QString::fromLatin1(key);
    if (!options.contains(name))
        return true;
    const QString text = options.take(name);
    if (VirtualSourceOptions::parseNumber(text, low, high, value))
        return true;
    if (error)
        *error = QStringLiteral("bad value of %1: \"%2\"").arg(name, text);
    return false;
}

// Checks the entry's options and files and fills in what its source needs.
bool prepare(Registered &camera, QList<QSize> &resolutions, QString *error)
{
    Options options = camera.entry.options;
    options.remove(QStringLiteral("name"));
    const QString &location = camera.entry.location;
    switch (camera.entry.kind) {
    case Kind::Synthetic:
        if (!SyntheticSettings::fromOptions(options, camera.synthetic, error))
            return false;
        resolutions = camera.synthetic.sizes;
        return true;
    case Kind::Video:
        if (!VirtualSourceOptions::checkKnown(options, {}, error))
            return false;
        if (!QFileInfo(location).isFile()) {
            if (error)
                *error = QStringLiteral("no such file %1").arg(location);
            return false;
        }
        if (!VirtualVideoSource::probe(location, camera.video)) {
            if (error)
                *error = QStringLiteral("cannot play %1").arg(location);
            return false;
        }
        resolutions = {QSize(camera.video.size.width, camera.video.size.height)};
        return true;
    case Kind::Image:
    case Kind::Images:
        if (!takeNumber(options, "fps", 0.5, 240, camera.fps, error))
            return false;
        if (camera.entry.kind == Kind::Images && !takeNumber(options, "hold", 0, 86400, camera.hold, error))
            return false;
        if (!VirtualSourceOptions::checkKnown(options, {}, error))
            return false;
        camera.images = camera.entry.kind == Kind::Image ? QStringList{location}
                                                         : VirtualImageSource::expandPattern(location);
        if (!VirtualImageSource::probe(camera.images, camera.imageSize)) {
            if (error)
                *error = QStringLiteral("no readable image at %1").arg(location);
            return false;
        }
        resolutions = {QSize(camera.imageSize.width, camera.imageSize.height)};
        return true;
    }
    return false;
}

QString devicePathOf(const Entry &entry, const QString &text)
{
    if (entry.kind == Kind::Synthetic)
        return text;
    QString path = QString::fromLatin1(kindName(entry.kind)) + QLatin1Char(':') + entry.location;
    QString location, optionText;
    splitLocation(text.mid(text.indexOf(QLatin1Char(':')) + 1), location, optionText);
    if (!optionText.isEmpty())
        path += QLatin1Char('?') + optionText;
    return path;
}

QString nameOf(const Entry &entry, int number)
{
    const QString given = entry.options.value(QStringLiteral("name"));
    if (!given.isEmpty())
        return given;
    QString what = QString::fromLatin1(kindName(entry.kind));
    if (entry.kind != Kind::Synthetic)
        what += QLatin1Char(' ') + QFileInfo(entry.location).fileName();
    return QStringLiteral("Virtual camera %1 (%2)").arg(number).arg(what);
}

std::shared_ptr<Registered> lookUp(int deviceNumber)
{
    MutexLocker lock(&registryMutex);
    return registry.value(deviceNumber);
}

} // namespace

bool parseEntry(const QString &text, Entry &entry, QString *error)
{
    const QString trimmed = text.trimmed();
    const int colon = trimmed.indexOf(QLatin1Char(':'));
    const QString kind = (colon < 0 ? trimmed : trimmed.left(colon)).trimmed().toLower();
    const QString rest = colon < 0 ? QString() : trimmed.mid(colon + 1);
    Entry parsed;
    QString optionText;
    if (kind == QLatin1String("synthetic")) {
        parsed.kind = Kind::Synthetic;
        optionText = rest;
    } else if (kind == QLatin1String("video") || kind == QLatin1String("image")
               || kind == QLatin1String("images")) {
        parsed.kind = kind == QLatin1String("video")   ? Kind::Video
                      : kind == QLatin1String("image") ? Kind::Image
                                                       : Kind::Images;
        splitLocation(rest, parsed.location, optionText);
        parsed.location = parsed.location.trimmed();
        if (parsed.location.isEmpty()) {
            if (error)
                *error = QStringLiteral("%1 needs a path").arg(kind);
            return false;
        }
        // A wildcard pattern keeps its wildcards; the directory part becomes absolute.
        const QFileInfo info(parsed.location);
        parsed.location = info.absoluteDir().absoluteFilePath(info.fileName());
        if (info.fileName().isEmpty())
            parsed.location = info.absoluteFilePath();
    } else {
        if (error)
            *error = QStringLiteral("unknown kind \"%1\"").arg(kind);
        return false;
    }
    if (!parseOptions(optionText, parsed.options, error))
        return false;
    entry = parsed;
    return true;
}

QList<CameraInfo> fromEnvironment()
{
    return parse(QString::fromLocal8Bit(qgetenv(environmentVariable)));
}

QList<CameraInfo> parse(const QString &entries)
{
    QList<CameraInfo> cameras;
    QMap<int, std::shared_ptr<Registered>> parsed;
    for (const QString &text : entries.split(QLatin1Char(';'))) {
        if (text.trimmed().isEmpty())
            continue;
        auto camera = std::make_shared<Registered>();
        QList<QSize> resolutions;
        QString error;
        if (!parseEntry(text, camera->entry, &error) || !prepare(*camera, resolutions, &error)) {
            qWarning().noquote() << QStringLiteral("virtual camera \"%1\" skipped: %2").arg(text.trimmed(), error);
            continue;
        }
        CameraInfo info;
        info.index = firstIndex + cameras.size();
        info.devicePath = devicePathOf(camera->entry, text.trimmed());
        info.name = nameOf(camera->entry, cameras.size() + 1);
        info.resolutions = resolutions;
        parsed.insert(info.index, camera);
        cameras.append(info);
        qDebug().noquote() << "virtual camera" << info.index << info.devicePath << info.name;
    }
    MutexLocker lock(&registryMutex);
    registry = parsed;
    return cameras;
}

bool isVirtual(int deviceNumber)
{
    return deviceNumber >= firstIndex;
}

std::unique_ptr<VirtualSource> createSource(int deviceNumber)
{
    const std::shared_ptr<Registered> camera = lookUp(deviceNumber);
    if (!camera)
        return nullptr;
    switch (camera->entry.kind) {
    case Kind::Synthetic:
        return std::make_unique<VirtualSyntheticSource>(camera->synthetic, camera->state);
    case Kind::Video:
        return std::make_unique<VirtualVideoSource>(camera->entry.location, camera->video, camera->state);
    case Kind::Image:
    case Kind::Images:
        return std::make_unique<VirtualImageSource>(camera->images, camera->imageSize, camera->fps,
                                                    camera->hold, camera->state);
    }
    return nullptr;
}

void setPlugged(int deviceNumber, bool plugged)
{
    if (const std::shared_ptr<Registered> camera = lookUp(deviceNumber))
        camera->state->plugged = plugged;
}

int openCount(int deviceNumber)
{
    const std::shared_ptr<Registered> camera = lookUp(deviceNumber);
    return camera ? camera->state->opens.load() : 0;
}

} // namespace VirtualCameras
