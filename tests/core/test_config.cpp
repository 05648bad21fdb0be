// The settings record and its file "system.ini", seen from the file side.
#include "config.h"
#include "configsettings.h"
#include "workdirtest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <variant>

namespace {

class ConfigFile : public testenv::WorkDirTest
{
protected:

    static void writeIni(const QString &text)
    {
        QFile file(QStringLiteral("system.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }
};

// A value unlike the factory and constructor values of the field, different
// for every row, so a key read into a neighbour's field shows up.
QVariant distinctValue(const ConfigSetting &setting, int row)
{
    struct Pick {
        int row;
        QVariant operator()(int Config::*) const { return 1000 + row; }
        QVariant operator()(bool Config::*) const { return QVariant(); }
        QVariant operator()(QString Config::*) const
        {
            return QStringLiteral("值 %1").arg(row);
        }
        QVariant operator()(QStringList Config::*) const
        {
            return QStringLiteral("https://a%1.example http://b.example:8080").arg(row);
        }
    };
    const QVariant picked = std::visit(Pick{row}, setting.field);
    if (picked.isValid())
        return picked;
    // Booleans: the opposite of the factory value (or of the constructor
    // value where init() keeps the field).
    return !setting.factory.value_or(setting.constructed).toBool();
}

QVariant fieldValue(const Config &config, const ConfigSetting &setting)
{
    return configFileValue(config, setting);
}

std::string shown(const QVariant &value)
{
    return value.toString().toStdString();
}

const QStringList kFileKeys = {
    "camera/index", "camera/exposure", "image/fourcc", "image/resolution",
    "image/out_resolution", "image/codec", "image/shooting_time", "image/quality",
    "save/type", "save/prefix", "save/number", "save/playsound", "save/merge_source",
    "save/pdf_source", "watermark/text", "watermark/time", "watermark/color",
    "watermark/font_family", "watermark/font_size", "watermark/font_styleName",
    "watermark/strikeOut", "watermark/underline", "watermark/transparency",
    "watermark/x", "watermark/y", "painting/percentage", "painting/main_resolution",
    "painting/other_resolution", "user/documentsLocation", "gn/paishe", "gn/paizhao",
    "gn/shenfenz", "gn/tiaoma", "gn/yanshi", "gn/zhiwen", "gn/record", "gn/zhuapai",
    "gn/renlian", "gn/iswhite", "camera/isWebsocket", "camera/isHttp", "camera/listenAll",
    "camera/allowedOrigins", "extra/searchablePdf", "extra/barcodeNaming",
    "extra/barcodeSeparator", "extra/dropBlankPages", "extra/knowPages", "extra/anyTable",
};

// The whole table at once: every key is written in order, read back into its
// own field, reset by init() to its factory value (or kept), and read as its
// factory value when missing from an existing file.
TEST_F(ConfigFile, EverySettingRoundTripsThroughTheFile)
{
    const QVector<ConfigSetting> &settings = configSettings();
    ASSERT_EQ(settings.size(), kFileKeys.size());

    Config written;
    EXPECT_EQ(written.keys, kFileKeys);
    for (int row = 0; row < settings.size(); ++row) {
        EXPECT_EQ(QString::fromLatin1(settings[row].key), kFileKeys[row]);
        assignConfigValue(written, settings[row], distinctValue(settings[row], row));
    }
    written.save();

    QSettings file(QStringLiteral("system.ini"), QSettings::IniFormat);
    QStringList onDisk = file.allKeys();
    QStringList expected = kFileKeys;
    onDisk.sort();
    expected.sort();
    EXPECT_EQ(onDisk, expected);

    Config read;
    for (int row = 0; row < settings.size(); ++row) {
        const ConfigSetting &setting = settings[row];
        const QVariant value = distinctValue(setting, row);
        EXPECT_EQ(shown(file.value(setting.key)), shown(value)) << setting.key;
        EXPECT_EQ(shown(fieldValue(read, setting)), shown(value)) << setting.key;
    }
    EXPECT_EQ(read.allowedOrigins.size(), 2);

    read.init();
    for (int row = 0; row < settings.size(); ++row) {
        const ConfigSetting &setting = settings[row];
        const QVariant expectedValue =
            setting.factory ? *setting.factory : distinctValue(setting, row);
        EXPECT_EQ(shown(fieldValue(read, setting)), shown(expectedValue))
            << setting.key;
    }
    EXPECT_TRUE(read.allowedOrigins.isEmpty());

    writeIni(QStringLiteral("[image]\n"));
    Config sparse;
    for (const ConfigSetting &setting : settings)
        EXPECT_EQ(shown(fieldValue(sparse, setting)),
                  shown(setting.factory.value_or(setting.constructed)))
            << setting.key;
}

// Only the two fields init() keeps show their constructor values after a
// new file is made; the constructor's other values differ from the factory
// ones where the table says so and are overwritten.
TEST_F(ConfigFile, ConstructorValuesSurviveOnlyWhereInitKeepsTheField)
{
    Config config;
    int kept = 0;
    for (const ConfigSetting &setting : configSettings()) {
        const QVariant expectedValue = setting.factory ? *setting.factory : setting.constructed;
        EXPECT_EQ(shown(fieldValue(config, setting)), shown(expectedValue))
            << setting.key;
        kept += setting.factory ? 0 : 1;
    }
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(config.documentsLocation, QDir::homePath() + QStringLiteral("/VarEvuZu"));
    EXPECT_EQ(config.fourcc, 0);
    EXPECT_EQ(config.fontFamily, QStringLiteral("Arial"));
}

TEST_F(ConfigFile, MissingFileIsCreatedWithFactoryValues)
{
    const QString home = QDir::homePath();
    QDir(home + QStringLiteral("/VarEvuZu")).removeRecursively();

    Config config;

    ASSERT_TRUE(QFileInfo::exists(QStringLiteral("system.ini")));
    EXPECT_EQ(config.cameraIndex, 0);
    EXPECT_EQ(config.documentsLocation, home + QStringLiteral("/VarEvuZu"));
    EXPECT_TRUE(QDir(config.documentsLocation).exists());
    EXPECT_EQ(config.quality, 80);
    EXPECT_EQ(config.fourcc, 0);

    QSettings file(QStringLiteral("system.ini"), QSettings::IniFormat);
    EXPECT_EQ(file.value("image/quality").toInt(), 80);
    EXPECT_EQ(file.value("image/codec").toString(), QStringLiteral("jpg"));
    EXPECT_EQ(file.value("image/out_resolution").toInt(), 3);
    EXPECT_EQ(file.value("save/prefix").toString(), QStringLiteral("IMG"));
    EXPECT_EQ(file.value("save/number").toInt(), 1);
    EXPECT_EQ(file.value("watermark/color").toString(), QStringLiteral("ff000000"));
    EXPECT_EQ(file.value("watermark/font_family").toString(), QStringLiteral("Arial"));
    EXPECT_EQ(file.value("watermark/font_size").toInt(), 100);
    EXPECT_EQ(file.value("watermark/font_styleName").toString(), QStringLiteral("Regular"));
    EXPECT_EQ(file.value("watermark/transparency").toInt(), 50);
    EXPECT_EQ(file.value("gn/paizhao").toString(), QStringLiteral("true"));
    EXPECT_EQ(file.value("gn/iswhite").toString(), QStringLiteral("true"));
    EXPECT_EQ(file.value("gn/paishe").toString(), QStringLiteral("false"));
    EXPECT_EQ(file.value("camera/isWebsocket").toString(), QStringLiteral("false"));
    EXPECT_EQ(file.value("camera/isHttp").toString(), QStringLiteral("false"));
    // Every persisted key, the service switches included, is in the file.
    EXPECT_EQ(file.value("camera/listenAll").toString(), QStringLiteral("false"));
    // The optional page features are all off on a new station.
    for (const char *key : {"extra/searchablePdf", "extra/barcodeNaming", "extra/barcodeSeparator",
                            "extra/dropBlankPages", "extra/knowPages", "extra/anyTable"})
        EXPECT_EQ(file.value(key).toString(), QStringLiteral("false")) << key;
    EXPECT_EQ(file.allKeys().size(), 49);
}

// The service-mode line of the README run on a fresh machine, before the
// station ever started: a file of one key. The rest must not read as 0 or
// empty (an empty working directory and prefix, quality 0: every capture
// fails); a complete file still reads exactly as written.
TEST_F(ConfigFile, KeysMissingFromAnExistingFileTakeTheirFactoryValues)
{
    QDir(QDir::homePath() + QStringLiteral("/VarEvuZu")).removeRecursively();
    writeIni(QStringLiteral("[camera]\nisWebsocket=true\n"));
    Config service;
    EXPECT_TRUE(service.webSocketMode);
    EXPECT_EQ(service.documentsLocation, QDir::homePath() + QStringLiteral("/VarEvuZu"));
    EXPECT_TRUE(QDir(service.documentsLocation).exists());
    EXPECT_EQ(service.savePrefix, QStringLiteral("IMG"));
    EXPECT_EQ(service.saveNumber, 1);
    EXPECT_EQ(service.quality, 80);
    EXPECT_EQ(service.codec, QStringLiteral("jpg"));
    EXPECT_EQ(service.watermarkColor, QStringLiteral("ff000000"));
    EXPECT_TRUE(service.gnPaizhao);
    EXPECT_TRUE(service.gnIswhite);

    writeIni(QStringLiteral("[image]\ncodec=png\nquality=0\n[save]\nplaysound=false\nprefix=\n"));
    Config partial;
    EXPECT_EQ(partial.codec, QStringLiteral("png"));
    EXPECT_EQ(partial.quality, 0);   // written, so kept
    EXPECT_FALSE(partial.playSound);
    EXPECT_EQ(partial.savePrefix, QString());
    EXPECT_EQ(partial.outResolution, 3);
    EXPECT_EQ(partial.fontFamily, QStringLiteral("Arial"));
    EXPECT_FALSE(partial.httpMode);
    EXPECT_FALSE(partial.autoCaptureOn);
}

TEST_F(ConfigFile, ServiceModeSwitchesAreReadFromTheFile)
{
    writeIni(QStringLiteral("[camera]\nisWebsocket=true\nisHttp=false\n"));
    Config websocket;
    EXPECT_TRUE(websocket.webSocketMode);
    EXPECT_FALSE(websocket.httpMode);

    writeIni(QStringLiteral("[camera]\nisHttp=true\n"));
    Config http;
    EXPECT_FALSE(http.webSocketMode);
    EXPECT_TRUE(http.httpMode);
}

TEST_F(ConfigFile, WorkingDirectoryFromTheFileIsCreated)
{
    const QString target = work.path() + QStringLiteral("/captures/today");
    writeIni(QStringLiteral("[user]\ndocumentsLocation=") + target + QStringLiteral("\n"));
    Config config;
    EXPECT_EQ(config.documentsLocation, target);
    EXPECT_TRUE(QDir(target).exists());
}

TEST_F(ConfigFile, InitKeepsCameraAndWorkingDirectory)
{
    Config config;
    config.cameraIndex = 2;
    config.documentsLocation = QStringLiteral("/tmp/elsewhere");
    config.quality = 12;
    config.savePrefix = QStringLiteral("DOC");
    config.gnRenlian = true;
    config.init();
    EXPECT_EQ(config.cameraIndex, 2);
    EXPECT_EQ(config.documentsLocation, QStringLiteral("/tmp/elsewhere"));
    EXPECT_EQ(config.quality, 80);
    EXPECT_EQ(config.savePrefix, QStringLiteral("IMG"));
    EXPECT_FALSE(config.gnRenlian);
}

TEST_F(ConfigFile, SaveThenLoadRestoresEveryField)
{
    Config written;
    written.cameraIndex = 1;
    written.exposure = -7;
    written.fourcc = 1;
    written.resolution = 2;
    written.outResolution = 6;
    written.codec = QStringLiteral("png");
    written.shootingTime = 9;
    written.quality = 65;
    written.saveType = 1;
    written.savePrefix = QStringLiteral("合同");
    written.saveNumber = 42;
    written.playSound = false;
    written.mergeSource = false;
    written.pdfSource = false;
    written.watermarkText = QStringLiteral("仅供办理业务使用");
    written.watermarkTime = true;
    written.watermarkColor = QStringLiteral("ff12ab34");
    written.fontFamily = QStringLiteral("DejaVu Sans");
    written.fontSize = 33;
    written.fontStyleName = QStringLiteral("Bold");
    written.strikeOut = true;
    written.underline = true;
    written.transparency = 20;
    written.watermarkX = 10;
    written.watermarkY = 90;
    written.paintingPercentage = 25;
    written.paintingMainResolution = 1;
    written.paintingOtherResolution = 2;
    written.documentsLocation = work.path() + QStringLiteral("/out");
    written.gnPaishe = true;
    written.gnPaizhao = false;
    written.gnShenfenz = true;
    written.gnTiaoma = true;
    written.gnYanshi = true;
    written.gnZhiwen = true;
    written.gnRecord = true;
    written.gnZhuapai = true;
    written.gnRenlian = true;
    written.gnIswhite = false;
    written.webSocketMode = true;
    written.httpMode = true;
    written.save();

    Config read;
    EXPECT_EQ(read.cameraIndex, 1);
    EXPECT_EQ(read.exposure, -7);
    EXPECT_EQ(read.fourcc, 1);
    EXPECT_EQ(read.resolution, 2);
    EXPECT_EQ(read.outResolution, 6);
    EXPECT_EQ(read.codec, QStringLiteral("png"));
    EXPECT_EQ(read.shootingTime, 9);
    EXPECT_EQ(read.quality, 65);
    EXPECT_EQ(read.saveType, 1);
    EXPECT_EQ(read.savePrefix, QStringLiteral("合同"));
    EXPECT_EQ(read.saveNumber, 42);
    EXPECT_FALSE(read.playSound);
    EXPECT_FALSE(read.mergeSource);
    EXPECT_FALSE(read.pdfSource);
    EXPECT_EQ(read.watermarkText, QStringLiteral("仅供办理业务使用"));
    EXPECT_TRUE(read.watermarkTime);
    EXPECT_EQ(read.watermarkColor, QStringLiteral("ff12ab34"));
    EXPECT_EQ(read.fontFamily, QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(read.fontSize, 33);
    EXPECT_EQ(read.fontStyleName, QStringLiteral("Bold"));
    EXPECT_TRUE(read.strikeOut);
    EXPECT_TRUE(read.underline);
    EXPECT_EQ(read.transparency, 20);
    EXPECT_EQ(read.watermarkX, 10);
    EXPECT_EQ(read.watermarkY, 90);
    EXPECT_EQ(read.paintingPercentage, 25);
    EXPECT_EQ(read.paintingMainResolution, 1);
    EXPECT_EQ(read.paintingOtherResolution, 2);
    EXPECT_EQ(read.documentsLocation, work.path() + QStringLiteral("/out"));
    EXPECT_TRUE(read.gnPaishe);
    EXPECT_FALSE(read.gnPaizhao);
    EXPECT_TRUE(read.gnShenfenz);
    EXPECT_TRUE(read.gnTiaoma);
    EXPECT_TRUE(read.gnYanshi);
    EXPECT_TRUE(read.gnZhiwen);
    EXPECT_TRUE(read.gnRecord);
    EXPECT_TRUE(read.gnZhuapai);
    EXPECT_TRUE(read.gnRenlian);
    EXPECT_FALSE(read.gnIswhite);
    EXPECT_TRUE(read.webSocketMode);
    EXPECT_TRUE(read.httpMode);
}

TEST_F(ConfigFile, SaveReplacesTheFileInsteadOfRewritingItInPlace)
{
    Config config;
    config.savePrefix = QStringLiteral("OLD");
    config.save();
    // A second name for the old file: an in-place rewrite would change it too.
    ASSERT_EQ(::link("system.ini", "before.ini"), 0);

    config.savePrefix = QStringLiteral("NEW");
    config.save();

    EXPECT_EQ(QSettings(QStringLiteral("before.ini"), QSettings::IniFormat).value("save/prefix"),
              QStringLiteral("OLD"));
    EXPECT_EQ(QSettings(QStringLiteral("system.ini"), QSettings::IniFormat).value("save/prefix"),
              QStringLiteral("NEW"));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("system.ini.tmp")));
}

TEST_F(ConfigFile, RunningNumbersFromTwoThreadsAreNeverShared)
{
    Config config;
    config.saveNumber = 5;
    const int perThread = 60;
    QList<int> first, second;
    QThread *a = QThread::create([&] { for (int i = 0; i < perThread; ++i) first << config.takeSaveNumber(); });
    QThread *b = QThread::create([&] { for (int i = 0; i < perThread; ++i) second << config.takeSaveNumber(); });
    a->start();
    b->start();
    a->wait();
    b->wait();
    delete a;
    delete b;

    QSet<int> all;
    for (int n : first + second)
        all.insert(n);
    EXPECT_EQ(all.size(), 2 * perThread);
    EXPECT_EQ(*std::min_element(all.begin(), all.end()), 5);
    EXPECT_EQ(*std::max_element(all.begin(), all.end()), 5 + 2 * perThread - 1);
    EXPECT_EQ(config.saveNumber, 5 + 2 * perThread);
    EXPECT_EQ(QSettings(QStringLiteral("system.ini"), QSettings::IniFormat).value("save/number").toInt(),
              5 + 2 * perThread);
}

} // namespace
