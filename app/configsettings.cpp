#include "configsettings.h"

#include <QStandardPaths>

namespace {

// Shorthands that keep each row of the table on one line.
using Kept = std::optional<QVariant>;
const Kept kKeptByInit = std::nullopt;

QString text(const char *latin1) { return QString::fromLatin1(latin1); }

QString defaultDocumentsLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
           + QStringLiteral("/VarEvuZu");
}

QVector<ConfigSetting> buildSettings()
{
    const QVariant empty = QString();
    // key, field, constructor value, factory value
    return {
        {"camera/index", &Config::cameraIndex, 0, kKeptByInit},
        {"camera/exposure", &Config::exposure, 0, 0},
        // The constructor asks for the second pixel format, a new file for the first.
        {"image/fourcc", &Config::fourcc, 1, 0},
        {"image/resolution", &Config::resolution, 0, 0},
        {"image/out_resolution", &Config::outResolution, 3, 3},
        {"image/codec", &Config::codec, text("jpg"), text("jpg")},
        {"image/shooting_time", &Config::shootingTime, 5, 5},
        {"image/quality", &Config::quality, 0, 80},
        {"save/type", &Config::saveType, 0, 0},
        {"save/prefix", &Config::savePrefix, text("IMG"), text("IMG")},
        // Guarded by the save lock: save() reads it while holding that lock.
        {"save/number", &Config::saveNumber, 1, 1},
        {"save/playsound", &Config::playSound, true, true},
        {"save/merge_source", &Config::mergeSource, true, true},
        {"save/pdf_source", &Config::pdfSource, true, true},
        {"watermark/text", &Config::watermarkText, empty, empty},
        {"watermark/time", &Config::watermarkTime, false, false},
        {"watermark/color", &Config::watermarkColor, empty, text("ff000000")},
        {"watermark/font_family", &Config::fontFamily, text("0"), text("Arial")},
        {"watermark/font_size", &Config::fontSize, 0, 100},
        {"watermark/font_styleName", &Config::fontStyleName, text("0"), text("Regular")},
        {"watermark/strikeOut", &Config::strikeOut, false, false},
        {"watermark/underline", &Config::underline, false, false},
        {"watermark/transparency", &Config::transparency, 0, 50},
        {"watermark/x", &Config::watermarkX, 0, 50},
        {"watermark/y", &Config::watermarkY, 0, 50},
        {"painting/percentage", &Config::paintingPercentage, 30, 30},
        {"painting/main_resolution", &Config::paintingMainResolution, 5, 5},
        {"painting/other_resolution", &Config::paintingOtherResolution, 5, 5},
        // The working directory survives a reset to factory values.
        {"user/documentsLocation", &Config::documentsLocation, defaultDocumentsLocation(),
         kKeptByInit},
        {"gn/paishe", &Config::gnPaishe, false, false},
        {"gn/paizhao", &Config::gnPaizhao, true, true},
        {"gn/shenfenz", &Config::gnShenfenz, false, false},
        {"gn/tiaoma", &Config::gnTiaoma, false, false},
        {"gn/yanshi", &Config::gnYanshi, false, false},
        {"gn/zhiwen", &Config::gnZhiwen, false, false},
        {"gn/record", &Config::gnRecord, false, false},
        {"gn/zhuapai", &Config::gnZhuapai, false, false},
        {"gn/renlian", &Config::gnRenlian, false, false},
        {"gn/iswhite", &Config::gnIswhite, true, true},
        {"camera/isWebsocket", &Config::webSocketMode, false, false},
        {"camera/isHttp", &Config::httpMode, false, false},
        {"camera/listenAll", &Config::listenAll, false, false},
        {"camera/allowedOrigins", &Config::allowedOrigins, empty, empty},
        {"extra/searchablePdf", &Config::searchablePdf, false, false},
        {"extra/barcodeNaming", &Config::barcodeNaming, false, false},
        {"extra/barcodeSeparator", &Config::barcodeSeparator, false, false},
        {"extra/dropBlankPages", &Config::dropBlankPages, false, false},
        {"extra/knowPages", &Config::knowPages, false, false},
        {"extra/anyTable", &Config::anyTable, false, false},
    };
}

// Visitor overload set for the field variant.
template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

} // namespace

const QVector<ConfigSetting> &configSettings()
{
    static const QVector<ConfigSetting> settings = buildSettings();
    return settings;
}

QVariant configFileValue(const Config &config, const ConfigSetting &setting)
{
    return std::visit(
        Overloaded{
            [&](int Config::*field) { return QVariant(config.*field); },
            [&](bool Config::*field) { return QVariant(config.*field); },
            [&](QString Config::*field) { return QVariant(config.*field); },
            [&](QStringList Config::*field) {
                return QVariant((config.*field).join(QLatin1Char(' ')));
            },
        },
        setting.field);
}

void assignConfigValue(Config &config, const ConfigSetting &setting, const QVariant &value)
{
    std::visit(Overloaded{
                   [&](int Config::*field) { config.*field = value.toInt(); },
                   [&](bool Config::*field) { config.*field = value.toBool(); },
                   [&](QString Config::*field) { config.*field = value.toString(); },
                   [&](QStringList Config::*field) {
                       config.*field = value.toString().split(QLatin1Char(' '),
                                                              Qt::SkipEmptyParts);
                   },
               },
               setting.field);
}
