// The settings dialog: loading from Config, saving through "system.ini",
// factory values, the watermark style pickers.
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "settingdialog.h"
#include "stationtest.h"
#include "testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

CameraInfo camera(int index, const QList<QSize> &sizes)
{
    CameraInfo info;
    info.index = index;
    info.devicePath = QStringLiteral("/dev/video%1").arg(index);
    info.name = QStringLiteral("camera %1").arg(index);
    info.resolutions = sizes;
    return info;
}

// Reads a key back from the file itself, not from the record.
QVariant fileValue(const QString &key)
{
    QSettings file(QStringLiteral("system.ini"), QSettings::IniFormat);
    return file.value(key);
}

class SettingDialogTest : public testenv::StationTest
{
protected:
    void SetUp() override
    {
        StationTest::SetUp();
        Config &config = *Cache::config;
        config.outResolutions = {{640, 480}, {1280, 720}, {1920, 1080}, {3264, 2448}, {2592, 1944}, {1600, 1200}};
        config.imageFormats = {"bmp", "jpg", "png", "tiff"};
        *Cache::cameras = {camera(0, {{1920, 1080}, {1280, 720}}),
                           camera(2, {{3264, 2448}, {2592, 1944}, {640, 480}})};
        config.save();
        SettingDialog::setColorChooser({});
        SettingDialog::setFontChooser({});
    }
    void TearDown() override
    {
        SettingDialog::setColorChooser({});
        SettingDialog::setFontChooser({});
        Cache::cameras->clear();
        StationTest::TearDown();
    }

    template <typename T> T *child(const char *name)
    {
        T *found = dialog.findChild<T *>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QStringList items(const char *name)
    {
        QStringList texts;
        auto *box = child<QComboBox>(name);
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    }

    SettingDialog dialog;
};

} // namespace

TEST_F(SettingDialogTest, FormHasTitleButtonsAndHiddenWidgets)
{
    dialog.init();
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("设置"));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(child<QPushButton>("saveSetting")->text(), QStringLiteral("保存"));
    EXPECT_EQ(child<QPushButton>("btnDefaultSetting")->text(), QStringLiteral("默认设置"));
    EXPECT_EQ(child<QLabel>("lbWatermarkDemo")->text(), QStringLiteral("我是水印样式Demo"));
    EXPECT_EQ(items("imageFOURCCBox"), (QStringList{"MJPG", "YUYV"}));
    for (const char *hidden : {"checkBox_SavePdfSourceBox", "checkBox_SaveMergeSourceImageBox", "btnVideoSetting",
                               "cbWhite", "widget", "cbPaizhao"})
        EXPECT_TRUE(child<QWidget>(hidden)->isHidden()) << hidden;
    for (const char *shown : {"cbYanshi", "cbPaishe", "cbShenfenz_3", "cbShenfenz_4", "cbShenfenz_5", "cbShenfenz_2",
                              "cbShenfenz", "cbZhiwen", "checkBox_Sound", "saveSetting"})
        EXPECT_FALSE(child<QWidget>(shown)->isHidden()) << shown;
}

TEST_F(SettingDialogTest, ListsTheSelectedCamerasResolutionsAndTheOutputSizes)
{
    Cache::config->cameraIndex = 1;
    Cache::config->resolution = 2;
    Cache::config->outResolution = 3;
    dialog.init();
    EXPECT_EQ(items("imageResolutionBox"), (QStringList{"3264x2448", "2592x1944", "640x480"}));
    EXPECT_EQ(child<QComboBox>("imageResolutionBox")->currentIndex(), 2);
    EXPECT_EQ(child<QComboBox>("imageResolutionBox")->itemData(0).toSize(), QSize(3264, 2448));
    const QStringList outputs{"640x480", "1280x720", "1920x1080", "3264x2448", "2592x1944", "1600x1200"};
    EXPECT_EQ(items("imageOutResolutionBox"), outputs);
    EXPECT_EQ(items("painting_mian_resolutionBox"), outputs);
    EXPECT_EQ(items("painting_other_resolutionBox"), outputs);
    EXPECT_EQ(child<QComboBox>("imageOutResolutionBox")->currentText(), "3264x2448");
    EXPECT_EQ(items("imageCodecBox"), (QStringList{"bmp", "jpg", "png", "tiff"}));
    EXPECT_EQ(child<QComboBox>("imageCodecBox")->currentText(), "jpg");

    // Refilled, not appended, on each init.
    Cache::config->cameraIndex = 0;
    dialog.init();
    EXPECT_EQ(items("imageResolutionBox"), (QStringList{"1920x1080", "1280x720"}));
    EXPECT_EQ(items("imageOutResolutionBox").size(), outputs.size());

    // A camera index beyond the list shows no sizes and saving keeps the index.
    Cache::config->cameraIndex = 7;
    Cache::config->resolution = 1;
    dialog.init();
    EXPECT_TRUE(items("imageResolutionBox").isEmpty());
    child<QPushButton>("saveSetting")->click();
    EXPECT_EQ(Cache::config->resolution, 1);
}

TEST_F(SettingDialogTest, SavingUnchangedControlsKeepsEveryValue)
{
    Config &config = *Cache::config;
    config.fourcc = 1;
    config.resolution = 1;
    config.outResolution = 4;
    config.codec = "png";
    config.quality = 64;
    config.shootingTime = 9;
    config.exposure = -3;
    config.watermarkText = QStringLiteral("内部资料");
    config.watermarkTime = true;
    config.transparency = 12;
    config.watermarkX = 3;
    config.watermarkY = 97;
    config.watermarkColor = "ff12ab34";
    config.fontFamily = "DejaVu Sans";
    config.fontSize = 48;
    config.fontStyleName = "Bold";
    config.strikeOut = true;
    config.underline = true;
    config.saveType = 1;
    config.savePrefix = "SCAN";
    config.saveNumber = 4711;
    config.playSound = false;
    config.mergeSource = false;
    config.pdfSource = false;
    config.paintingPercentage = 45;
    config.paintingMainResolution = 2;
    config.paintingOtherResolution = 1;
    config.gnPaizhao = false;
    config.gnYanshi = true;
    config.gnPaishe = true;
    config.gnRecord = true;
    config.gnZhuapai = true;
    config.gnRenlian = true;
    config.gnTiaoma = true;
    config.gnShenfenz = true;
    config.gnZhiwen = true;
    config.gnIswhite = false;
    config.save();
    QFile file("system.ini");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    dialog.init();
    EXPECT_EQ(child<QLabel>("lbImageQuality")->text(), "64%");
    EXPECT_EQ(child<QLabel>("lbWatermarkTransparency")->text(), "12%");
    EXPECT_EQ(child<QLabel>("lbWatermarkX")->text(), "3%");
    EXPECT_EQ(child<QLabel>("lbWatermarkY")->text(), "97%");
    EXPECT_EQ(child<QLabel>("lbPaintingPercentage")->text(), "45%");
    EXPECT_TRUE(child<QRadioButton>("radioButton_Time")->isChecked());
    EXPECT_TRUE(child<QRadioButton>("radioButton_watermark_time")->isChecked());
    EXPECT_EQ(dialog.watermarkColor(), QColor(0x12, 0xab, 0x34));

    config.init();   // the dialog, not the record, must carry the values back
    // ... all but the running number, which stays the record's own: photos
    // taken while the dialog is open move it on.
    config.saveNumber = 4711;
    child<QPushButton>("saveSetting")->click();

    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    EXPECT_EQ(QString::fromUtf8(after), QString::fromUtf8(before));
    EXPECT_EQ(config.fontFamily, "DejaVu Sans");
    EXPECT_EQ(config.fontSize, 48);
    EXPECT_EQ(config.saveNumber, 4711);
}

TEST_F(SettingDialogTest, SaveWritesTheEditedControlsAndAsksForReconfiguration)
{
    dialog.init();
    dialog.show();
    QSignalSpy reconfigure(&dialog, &SettingDialog::reConfigVideoSettingSignal);
    QSignalSpy videoSetting(&dialog, &SettingDialog::videSettingSignal);

    child<QComboBox>("imageFOURCCBox")->setCurrentIndex(1);
    child<QComboBox>("imageResolutionBox")->setCurrentIndex(1);
    child<QComboBox>("imageCodecBox")->setCurrentText("tiff");
    child<QSlider>("imageQualityBox")->setValue(42);
    child<QLineEdit>("imageShootingTimeBox")->setText("12");
    child<QComboBox>("imageOutResolutionBox")->setCurrentIndex(5);
    child<QLineEdit>("imageShootingTimeBox_2")->setText("abc");   // not a number: stored as 0
    child<QLineEdit>("watermark_text_box")->setText(QStringLiteral("样本"));
    child<QRadioButton>("radioButton_watermark_time")->click();
    child<QSlider>("watermark_transparency_box")->setValue(77);
    child<QSlider>("watermark_x_box")->setValue(10);
    child<QSlider>("watermark_y_box")->setValue(90);
    child<QRadioButton>("radioButton_Time")->click();
    child<QLineEdit>("savePreNameBox")->setText("DOC");
    child<QLineEdit>("saveImageNumber")->setText("300");
    child<QCheckBox>("checkBox_Sound")->setChecked(false);
    child<QSlider>("painting_percentage_box")->setValue(55);
    child<QComboBox>("painting_mian_resolutionBox")->setCurrentIndex(0);
    child<QComboBox>("painting_other_resolutionBox")->setCurrentIndex(2);
    child<QCheckBox>("cbShenfenz_2")->setChecked(true);
    child<QCheckBox>("cbShenfenz_4")->setChecked(true);
    child<QCheckBox>("cbZhiwen")->setChecked(true);

    EXPECT_EQ(child<QLabel>("lbImageQuality")->text(), "42%");
    EXPECT_EQ(child<QLabel>("lbWatermarkTransparency")->text(), "77%");
    EXPECT_EQ(child<QLabel>("lbWatermarkX")->text(), "10%");
    EXPECT_EQ(child<QLabel>("lbWatermarkY")->text(), "90%");
    EXPECT_EQ(child<QLabel>("lbPaintingPercentage")->text(), "55%");
    EXPECT_EQ(fileValue("image/quality").toInt(), 80);   // nothing saved before "保存"

    child<QPushButton>("saveSetting")->click();

    EXPECT_EQ(reconfigure.count(), 1);
    EXPECT_EQ(videoSetting.count(), 0);
    EXPECT_FALSE(dialog.isVisible());
    const struct
    {
        const char *key;
        QVariant value;
    } expected[] = {
        {"image/fourcc", 1},
        {"image/resolution", 1},
        {"image/codec", "tiff"},
        {"image/quality", 42},
        {"image/shooting_time", 12},
        {"image/out_resolution", 5},
        {"camera/exposure", 0},
        {"watermark/text", QStringLiteral("样本")},
        {"watermark/time", true},
        {"watermark/transparency", 77},
        {"watermark/x", 10},
        {"watermark/y", 90},
        {"save/type", 1},
        {"save/prefix", "DOC"},
        {"save/number", 300},
        {"save/playsound", false},
        {"painting/percentage", 55},
        {"painting/main_resolution", 0},
        {"painting/other_resolution", 2},
        {"gn/tiaoma", true},
        {"gn/zhuapai", true},
        {"gn/zhiwen", true},
        {"gn/paishe", false},
        {"gn/paizhao", true},
    };
    for (const auto &e : expected)
        EXPECT_EQ(fileValue(e.key).toString(), e.value.toString()) << e.key;
    EXPECT_EQ(Cache::config->quality, 42);
    EXPECT_EQ(Cache::config->codec, "tiff");
}

TEST_F(SettingDialogTest, DefaultSettingsResetAndSaveAtOnceKeepingTheWorkingDirectory)
{
    Config &config = *Cache::config;
    config.quality = 33;
    config.shootingTime = 60;
    config.savePrefix = "OLD";
    config.saveNumber = 77;
    config.gnTiaoma = true;
    config.cameraIndex = 1;
    config.save();
    const QString workDir = config.documentsLocation;
    dialog.init();
    dialog.show();
    QSignalSpy reconfigure(&dialog, &SettingDialog::reConfigVideoSettingSignal);

    child<QPushButton>("btnDefaultSetting")->click();

    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(reconfigure.count(), 0);
    EXPECT_EQ(child<QSlider>("imageQualityBox")->value(), 80);
    EXPECT_EQ(child<QLabel>("lbImageQuality")->text(), "80%");
    EXPECT_EQ(child<QLineEdit>("imageShootingTimeBox")->text(), "5");
    EXPECT_EQ(child<QLineEdit>("savePreNameBox")->text(), "IMG");
    EXPECT_EQ(child<QLineEdit>("saveImageNumber")->text(), "1");
    EXPECT_FALSE(child<QCheckBox>("cbShenfenz_2")->isChecked());
    EXPECT_EQ(child<QComboBox>("imageOutResolutionBox")->currentIndex(), 3);
    EXPECT_EQ(fileValue("image/quality").toInt(), 80);
    EXPECT_EQ(fileValue("save/prefix").toString(), "IMG");
    EXPECT_EQ(fileValue("save/number").toInt(), 1);
    EXPECT_EQ(fileValue("user/documentsLocation").toString(), workDir);
    EXPECT_EQ(fileValue("camera/index").toInt(), 1);
    EXPECT_EQ(config.documentsLocation, workDir);
}

TEST_F(SettingDialogTest, ChosenColourAndFontBecomeTheWatermarkStyle)
{
    dialog.init();
    QColor offered;
    SettingDialog::setColorChooser([&](const QColor &initial, QWidget *) {
        offered = initial;
        return QColor(255, 0, 0);
    });
    QFont fontOffered;
    SettingDialog::setFontChooser([&](QFont &font, QWidget *) {
        fontOffered = font;
        font.setFamily("DejaVu Serif");
        font.setPointSize(36);
        font.setUnderline(true);
        return true;
    });
    child<QPushButton>("btnColorSelect")->click();
    child<QPushButton>("btnFontSelect")->click();
    EXPECT_EQ(offered, QColor(0, 0, 0));   // factory "ff000000"
    EXPECT_EQ(fontOffered.pointSize(), 100);
    EXPECT_EQ(dialog.watermarkColor(), QColor(255, 0, 0));
    EXPECT_EQ(child<QLabel>("lbWatermarkDemo")->font().family(), "DejaVu Serif");

    child<QPushButton>("saveSetting")->click();
    EXPECT_EQ(fileValue("watermark/color").toString(), "ffff0000");
    EXPECT_EQ(fileValue("watermark/font_family").toString(), "DejaVu Serif");
    EXPECT_EQ(fileValue("watermark/font_size").toInt(), 36);
    EXPECT_EQ(fileValue("watermark/underline").toBool(), true);
    EXPECT_EQ(fileValue("watermark/strikeOut").toBool(), false);
}

TEST_F(SettingDialogTest, CancelledPickersKeepTheStyle)
{
    Cache::config->watermarkColor = "ff0000ff";
    dialog.init();
    SettingDialog::setColorChooser([](const QColor &, QWidget *) { return QColor(); });
    SettingDialog::setFontChooser([](QFont &font, QWidget *) {
        font.setPointSize(5);
        return false;
    });
    child<QPushButton>("btnColorSelect")->click();
    child<QPushButton>("btnFontSelect")->click();
    EXPECT_EQ(dialog.watermarkColor(), QColor(0, 0, 255));
    EXPECT_EQ(dialog.watermarkFont().pointSize(), 100);
    child<QPushButton>("saveSetting")->click();
    EXPECT_EQ(fileValue("watermark/color").toString(), "ff0000ff");
}

TEST(SettingDialogColour, StoredAsEightLowerCaseDigits)
{
    EXPECT_EQ(SettingDialog::colorToConfig(QColor(255, 0, 0)), "ffff0000");
    EXPECT_EQ(SettingDialog::colorToConfig(QColor(0, 0, 0)), "ff000000");
    EXPECT_EQ(SettingDialog::colorToConfig(QColor(0x0a, 0xbc, 0xde, 0x10)), "ff0abcde");
}
