#include "virtualsyntheticsource.h"

#include "timestamp.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

using namespace VirtualSourceOptions;

namespace {

const char *const kDefaultQr = "DOCSTATION-SYNTHETIC";
const char *const kDefaultCode128 = "DS-0042";
const char *const kDefaultEan13 = "5901234123457";

cv::Size toCv(QSize size)
{
    return cv::Size(size.width(), size.height());
}


bool fail(QString *error, const QString &key, const QString &value)
{
    if (error)
        *error = QStringLiteral("bad value of %1: \"%2\"").arg(key, value);
    return false;
}

} // namespace

QList<QSize> SyntheticSettings::defaultSizes()
{
    // The live size first (what the station opens by default), then the
    // photo sizes from the largest down, as document cameras list them.
    return {QSize(1920, 1080), QSize(3264, 2448), QSize(2592, 1944), QSize(2048, 1536),
            QSize(1600, 1200), QSize(1280, 960), QSize(1280, 720)};
}

bool SyntheticSettings::fromOptions(const Options &options, SyntheticSettings &settings, QString *error)
{
    static const QStringList known = {
        QStringLiteral("sizes"),  QStringLiteral("size"),    QStringLiteral("fps"),
        QStringLiteral("sheets"), QStringLiteral("seal"),    QStringLiteral("qr"),
        QStringLiteral("code128"), QStringLiteral("ean13"),  QStringLiteral("codes"),
        QStringLiteral("seed"),   QStringLiteral("angle"),   QStringLiteral("page"),
        QStringLiteral("dark"),   QStringLiteral("vanish"),  QStringLiteral("repeat"),
        QStringLiteral("stamp"),  QStringLiteral("script"),  QStringLiteral("hand")};
    if (!checkKnown(options, known, error))
        return false;

    SyntheticSettings parsed;
    parsed.sizes = defaultSizes();
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        const QString &key = it.key();
        const QString &value = it.value();
        bool ok = true;
        if (key == QLatin1String("sizes")) {
            ok = parseSizes(value, parsed.sizes);
        } else if (key == QLatin1String("size")) {
            ok = parseSize(value, parsed.size);
        } else if (key == QLatin1String("fps")) {
            ok = parseNumber(value, 0.5, 240, parsed.fps);
        } else if (key == QLatin1String("sheets")) {
            ok = parseInt(value, 1, 4, parsed.scene.sheets);
        } else if (key == QLatin1String("seal")) {
            ok = parseSwitch(value, parsed.scene.seal);
        } else if (key == QLatin1String("qr")) {
            parsed.scene.qr = value.toStdString();
        } else if (key == QLatin1String("code128")) {
            parsed.scene.code128 = value.toStdString();
        } else if (key == QLatin1String("ean13")) {
            parsed.scene.ean13 = value.toStdString();
        } else if (key == QLatin1String("seed")) {
            int seed = 0;
            ok = parseInt(value, 0, 1 << 30, seed);
            parsed.scene.seed = unsigned(seed);
        } else if (key == QLatin1String("angle")) {
            ok = parseNumber(value, -45, 45, parsed.scene.angle);
            parsed.scene.fixedAngle = true;
        } else if (key == QLatin1String("page")) {
            ok = parseNumber(value, 0, 86400, parsed.pageSeconds);
        } else if (key == QLatin1String("dark")) {
            ok = parseWindow(value, parsed.dark);
        } else if (key == QLatin1String("vanish")) {
            ok = parseWindow(value, parsed.vanish);
        } else if (key == QLatin1String("repeat")) {
            ok = parseNumber(value, 0, 86400, parsed.repeatSeconds);
        } else if (key == QLatin1String("stamp")) {
            ok = parseSwitch(value, parsed.stamp);
        } else if (key == QLatin1String("script")) {
            ok = VirtualPageScript::parse(value, parsed.script);
        } else if (key == QLatin1String("hand")) {
            ok = parseNumber(value, 0.1, 3600, parsed.handSeconds);
        }
        if (!ok)
            return fail(error, key, value);
    }
    // "codes" fills in whichever code texts were not given.
    if (options.contains(QStringLiteral("codes"))) {
        const QString value = options.value(QStringLiteral("codes")).trimmed().toLower();
        bool on = false;
        const bool all = value == QLatin1String("all");
        if (!all && !parseSwitch(value, on))
            return fail(error, QStringLiteral("codes"), value);
        if (on || all) {
            if (parsed.scene.qr.empty())
                parsed.scene.qr = kDefaultQr;
            if (parsed.scene.code128.empty())
                parsed.scene.code128 = kDefaultCode128;
        }
        if (all && parsed.scene.ean13.empty())
            parsed.scene.ean13 = kDefaultEan13;
    }
    if (parsed.size.isEmpty())
        parsed.size = parsed.sizes.first();
    else if (!parsed.sizes.contains(parsed.size))
        parsed.sizes.prepend(parsed.size);
    settings = parsed;
    return true;
}

double SyntheticSettings::timeline(double seconds) const
{
    return repeatSeconds > 0 ? std::fmod(seconds, repeatSeconds) : seconds;
}

int SyntheticSettings::pageAt(double timelineSeconds) const
{
    return pageSeconds > 0 ? int(std::floor(timelineSeconds / pageSeconds)) : 0;
}

VirtualSyntheticSource::VirtualSyntheticSource(const SyntheticSettings &settings,
                                               std::shared_ptr<VirtualDeviceState> state)
    : VirtualSourceBase(std::move(state), settings.fps), settings(settings), current(settings.size)
{
}

bool VirtualSyntheticSource::openSource()
{
    current = settings.size;
    return !settings.vanish.contains(settings.timeline(seconds()));
}

bool VirtualSyntheticSource::readSource(cv::Mat &frame)
{
    const double t = settings.timeline(seconds());
    if (settings.vanish.contains(t))
        return false;
    if (settings.dark.contains(t)) {
        if (dark.size() != toCv(current)) {
            dark = docscene::darkFrame(toCv(current));
            darkNumber = pictures++;
        }
        frame = handOut(dark, darkNumber);
        return true;
    }
    int slot = settings.pageAt(t);
    if (!settings.script.isEmpty())
        slot = std::min(slot, settings.script.size() - 1);   // the last step stays on the table
    if (slot != renderedSlot || current != renderedSize)
        renderSlot(slot);
    const double hand = handProgress(t, slot);
    if (!settings.stamp && hand < 0) {
        frame = handOut(rendered.image, renderedNumber);
        return true;
    }
    frame = rendered.image.clone();
    if (hand >= 0)
        docscene::paintHand(frame, rendered.geometry, hand);
    if (settings.stamp)
        docscene::paintTimestamp(frame, docscene::stampClock());
    handedOut = kFreshPicture;
    return true;
}

void VirtualSyntheticSource::renderSlot(int slot)
{
    docscene::Options scene = settings.scene;
    scene.size = toCv(current);
    if (settings.script.isEmpty()) {
        rendered = docscene::render(scene, slot);
    } else {
        const VirtualPageScript::Step &step = settings.script.at(slot);
        if (step.empty) {
            rendered = docscene::Frame{docscene::emptyTable(scene), docscene::Geometry{}};
            rendered.geometry.size = scene.size;
        } else {
            rendered = docscene::render(scene, step.page);
            VirtualPageScript::layAgain(rendered.image, step.showing);
        }
    }
    renderedSlot = slot;
    renderedSize = current;
    renderedNumber = pictures++;
}

double VirtualSyntheticSource::handProgress(double timelineSeconds, int slot) const
{
    if (settings.script.isEmpty() || settings.pageSeconds <= 0 || !settings.script.at(slot).hand)
        return -1;
    const double into = timelineSeconds - slot * settings.pageSeconds;
    if (into < 0 || into >= settings.handSeconds)
        return -1;
    return into / settings.handSeconds;
}

cv::Mat VirtualSyntheticSource::handOut(const cv::Mat &picture, long long number)
{
    handedOut = number;
    // Raw frames are fresh copies, as a camera's are; JPEG bytes are made from a shared one.
    return compressing() ? picture : picture.clone();
}

cv::Size VirtualSyntheticSource::frameSize() const
{
    return toCv(current);
}

bool VirtualSyntheticSource::requestSize(cv::Size wanted)
{
    current = nearestSize(settings.sizes, QSize(wanted.width, wanted.height));
    return true;
}
