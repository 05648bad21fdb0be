#include "config.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char *const kKeyNames[] = {
    "camera/index", "camera/exposure", "image/fourcc", "image/resolution",
    "image/out_resolution", "image/codec", "image/shooting_time", "image/quality",
    "save/type", "save/prefix", "save/number", "save/playsound", "save/merge_source",
    "save/pdf_source", "watermark/text", "watermark/time", "watermark/color",
    "watermark/font_family", "watermark/font_size", "watermark/font_styleName",
    "watermark/strikeOut", "watermark/underline", "watermark/transparency",
    "watermark/x", "watermark/y", "painting/percentage", "painting/main_resolution",
    "painting/other_resolution", "user/documentsLocation", "gn/paishe", "gn/paizhao",
    "gn/shenfenz", "gn/tiaoma", "gn/yanshi", "gn/zhiwen", "gn/record", "gn/zhuapai",
    "gn/renlian", "gn/iswhite", "camera/isWebsocket", "camera/isHttp", "camera/listenAll", "camera/allowedOrigins",
    "extra/searchablePdf", "extra/barcodeNaming", "extra/barcodeSeparator",
    "extra/dropBlankPages", "extra/knowPages",
};

bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

Config::Config()
    : fileName(QStringLiteral("system.ini")),
      cameraIndex(0), exposure(0), fourcc(1), resolution(0), outResolution(3),
      codec(QStringLiteral("jpg")), shootingTime(5), quality(0), saveType(0),
      savePrefix(QStringLiteral("IMG")), saveNumber(1), playSound(true),
      mergeSource(true), pdfSource(true), watermarkTime(false),
      fontFamily(QStringLiteral("0")), fontSize(0), fontStyleName(QStringLiteral("0")),
      strikeOut(false), underline(false), transparency(0), watermarkX(0), watermarkY(0),
      paintingPercentage(30), paintingMainResolution(5), paintingOtherResolution(5),
      documentsLocation(QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                        + QStringLiteral("/VarEvuZu")),
      gnPaishe(false), gnPaizhao(true), gnShenfenz(false), gnTiaoma(false),
      gnYanshi(false), gnZhiwen(false), gnRecord(false), gnZhuapai(false),
      gnRenlian(false), gnIswhite(true), webSocketMode(false), httpMode(false),
      listenAll(false), searchablePdf(false), barcodeNaming(false),
      barcodeSeparator(false), dropBlankPages(false), knowPages(false),
      autoCaptureOn(false), thirdDeviceMain(true), correctionMode(0), zoom(1.0),
      panX(0), panY(0), viewWidth(0), viewHeight(0), drawWidth(0), drawHeight(0),
      selectionX(0), selectionY(0), selectionWidth(0), selectionHeight(0)
{
    for (const char *key : kKeyNames)
        keys << QString::fromLatin1(key);
    load();
}

void Config::load()
{
    if (QFileInfo::exists(fileName)) {
        QSettings s(fileName, QSettings::IniFormat);
        QMutexLocker textsLocked(&textLock);
        // A key missing from an existing file reads as 0, false or empty.
        const QVariant none;
        int k = 0;
        cameraIndex = s.value(keys[k++], none).toInt();
        exposure = s.value(keys[k++], none).toInt();
        fourcc = s.value(keys[k++], none).toInt();
        resolution = s.value(keys[k++], none).toInt();
        outResolution = s.value(keys[k++], none).toInt();
        codec = s.value(keys[k++], none).toString();
        shootingTime = s.value(keys[k++], none).toInt();
        quality = s.value(keys[k++], none).toInt();
        saveType = s.value(keys[k++], none).toInt();
        savePrefix = s.value(keys[k++], none).toString();
        saveNumber = s.value(keys[k++], none).toInt();
        playSound = s.value(keys[k++], none).toBool();
        mergeSource = s.value(keys[k++], none).toBool();
        pdfSource = s.value(keys[k++], none).toBool();
        watermarkText = s.value(keys[k++], none).toString();
        watermarkTime = s.value(keys[k++], none).toBool();
        watermarkColor = s.value(keys[k++], none).toString();
        fontFamily = s.value(keys[k++], none).toString();
        fontSize = s.value(keys[k++], none).toInt();
        fontStyleName = s.value(keys[k++], none).toString();
        strikeOut = s.value(keys[k++], none).toBool();
        underline = s.value(keys[k++], none).toBool();
        transparency = s.value(keys[k++], none).toInt();
        watermarkX = s.value(keys[k++], none).toInt();
        watermarkY = s.value(keys[k++], none).toInt();
        paintingPercentage = s.value(keys[k++], none).toInt();
        paintingMainResolution = s.value(keys[k++], none).toInt();
        paintingOtherResolution = s.value(keys[k++], none).toInt();
        documentsLocation = s.value(keys[k++], none).toString();
        gnPaishe = s.value(keys[k++], none).toBool();
        gnPaizhao = s.value(keys[k++], none).toBool();
        gnShenfenz = s.value(keys[k++], none).toBool();
        gnTiaoma = s.value(keys[k++], none).toBool();
        gnYanshi = s.value(keys[k++], none).toBool();
        gnZhiwen = s.value(keys[k++], none).toBool();
        gnRecord = s.value(keys[k++], none).toBool();
        gnZhuapai = s.value(keys[k++], none).toBool();
        gnRenlian = s.value(keys[k++], none).toBool();
        gnIswhite = s.value(keys[k++], none).toBool();
        webSocketMode = s.value(keys[k++], none).toBool();
        httpMode = s.value(keys[k++], none).toBool();
        listenAll = s.value(keys[k++], none).toBool();
        allowedOrigins = s.value(keys[k++], none).toString().split(QLatin1Char(' '),
                                                                   Qt::SkipEmptyParts);
        searchablePdf = s.value(keys[k++], none).toBool();
        barcodeNaming = s.value(keys[k++], none).toBool();
        barcodeSeparator = s.value(keys[k++], none).toBool();
        dropBlankPages = s.value(keys[k++], none).toBool();
        knowPages = s.value(keys[k++], none).toBool();
    } else {
        init();
        save();
    }
    if (!documentsLocation.isEmpty() && !QDir(documentsLocation).exists())
        QDir().mkpath(documentsLocation);
    autoCaptureOn = false;
}

void Config::init()
{
    QMutexLocker textsLocked(&textLock);
    exposure = 0;
    fourcc = 0;
    resolution = 0;
    outResolution = 3;
    codec = QStringLiteral("jpg");
    shootingTime = 5;
    quality = 80;
    saveType = 0;
    savePrefix = QStringLiteral("IMG");
    saveNumber = 1;
    playSound = true;
    mergeSource = true;
    pdfSource = true;
    watermarkText.clear();
    watermarkTime = false;
    watermarkColor = QStringLiteral("ff000000");
    fontFamily = QStringLiteral("Arial");
    fontSize = 100;
    fontStyleName = QStringLiteral("Regular");
    strikeOut = false;
    underline = false;
    transparency = 50;
    watermarkX = 50;
    watermarkY = 50;
    paintingPercentage = 30;
    paintingMainResolution = 5;
    paintingOtherResolution = 5;
    gnPaishe = false;
    gnPaizhao = true;
    gnShenfenz = false;
    gnTiaoma = false;
    gnYanshi = false;
    gnZhiwen = false;
    gnRecord = false;
    gnZhuapai = false;
    gnRenlian = false;
    gnIswhite = true;
    webSocketMode = false;
    httpMode = false;
    listenAll = false;
    allowedOrigins.clear();
    searchablePdf = false;
    barcodeNaming = false;
    barcodeSeparator = false;
    dropBlankPages = false;
    knowPages = false;
}

void Config::save()
{
    QMutexLocker lock(&saveMutex);
    if (!writeAtomically())
        qDebug() << "Config: could not write" << fileName;
}

int Config::takeSaveNumber()
{
    int number;
    {
        QMutexLocker lock(&saveMutex);
        number = saveNumber++;
    }
    save();
    return number;
}

int Config::peekSaveNumber()
{
    QMutexLocker lock(&saveMutex);
    return saveNumber;
}

void Config::setSaveNumber(int number)
{
    QMutexLocker lock(&saveMutex);
    saveNumber = number;
}

void Config::commitSaveNumber(int number)
{
    QMutexLocker lock(&saveMutex);
    if (saveNumber <= number)
        saveNumber = number + 1;
    if (!writeAtomically())
        qDebug() << "Config: could not write" << fileName;
}

void Config::returnSaveNumber(int number)
{
    QMutexLocker lock(&saveMutex);
    if (saveNumber != number + 1)
        return;
    saveNumber = number;
    if (!writeAtomically())
        qDebug() << "Config: could not write" << fileName;
}

Config::Texts Config::texts() const
{
    QMutexLocker lock(&textLock);
    return Texts{codec, savePrefix, watermarkText, watermarkColor,
                 fontFamily, fontStyleName, documentsLocation};
}

// Writes a complete file next to the old one and renames it into place, so a
// crash or a full disk leaves either the old or the new file, never a torn one.
bool Config::writeAtomically()
{
    const QString tmpName = fileName + QStringLiteral(".tmp");
    QFile::remove(tmpName);
    const Texts text = texts();
    QStringList origins;
    {
        QMutexLocker textsLocked(&textLock);
        origins = allowedOrigins;
    }
    {
        QSettings s(tmpName, QSettings::IniFormat);
        int k = 0;
        s.setValue(keys[k++], cameraIndex);
        s.setValue(keys[k++], exposure);
        s.setValue(keys[k++], fourcc);
        s.setValue(keys[k++], resolution);
        s.setValue(keys[k++], outResolution);
        s.setValue(keys[k++], text.codec);
        s.setValue(keys[k++], shootingTime);
        s.setValue(keys[k++], quality);
        s.setValue(keys[k++], saveType);
        s.setValue(keys[k++], text.savePrefix);
        s.setValue(keys[k++], saveNumber);
        s.setValue(keys[k++], playSound);
        s.setValue(keys[k++], mergeSource);
        s.setValue(keys[k++], pdfSource);
        s.setValue(keys[k++], text.watermarkText);
        s.setValue(keys[k++], watermarkTime);
        s.setValue(keys[k++], text.watermarkColor);
        s.setValue(keys[k++], text.fontFamily);
        s.setValue(keys[k++], fontSize);
        s.setValue(keys[k++], text.fontStyleName);
        s.setValue(keys[k++], strikeOut);
        s.setValue(keys[k++], underline);
        s.setValue(keys[k++], transparency);
        s.setValue(keys[k++], watermarkX);
        s.setValue(keys[k++], watermarkY);
        s.setValue(keys[k++], paintingPercentage);
        s.setValue(keys[k++], paintingMainResolution);
        s.setValue(keys[k++], paintingOtherResolution);
        s.setValue(keys[k++], text.documentsLocation);
        s.setValue(keys[k++], gnPaishe);
        s.setValue(keys[k++], gnPaizhao);
        s.setValue(keys[k++], gnShenfenz);
        s.setValue(keys[k++], gnTiaoma);
        s.setValue(keys[k++], gnYanshi);
        s.setValue(keys[k++], gnZhiwen);
        s.setValue(keys[k++], gnRecord);
        s.setValue(keys[k++], gnZhuapai);
        s.setValue(keys[k++], gnRenlian);
        s.setValue(keys[k++], gnIswhite);
        s.setValue(keys[k++], webSocketMode);
        s.setValue(keys[k++], httpMode);
        s.setValue(keys[k++], listenAll);
        s.setValue(keys[k++], origins.join(QLatin1Char(' ')));
        s.setValue(keys[k++], searchablePdf);
        s.setValue(keys[k++], barcodeNaming);
        s.setValue(keys[k++], barcodeSeparator);
        s.setValue(keys[k++], dropBlankPages);
        s.setValue(keys[k++], knowPages);
        s.sync();
        if (s.status() != QSettings::NoError) {
            QFile::remove(tmpName);
            return false;
        }
    }
    if (!syncFile(tmpName)
        || std::rename(QFile::encodeName(tmpName).constData(),
                       QFile::encodeName(fileName).constData()) != 0) {
        QFile::remove(tmpName);
        return false;
    }
    return true;
}
