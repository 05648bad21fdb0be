// The desktop main window: mode guards and their warnings, the toggles with
// their button texts and status line, timed shooting, the thumbnail ring,
// opening files and folders, the camera toggle and shutting down.
#include "cache.h"
#include "erweima.h"
#include "test_barcode_codes.h"
#include "camerainfo.h"
#include "config.h"
#include "fakeclock.h"
#include "imageprocessing.h"
#include "mainwindowqcamera.h"
#include "qcameraview.h"
#include "recording.h"
#include "settingdialog.h"
#include "mainwindowfixture.h"
#include "testenv.h"
#include "ui_mainwindowqcamera.h"
#include "uitesthelpers.h"
#include "virtualcameras.h"
#include "warningbox.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSettings>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextCodec>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>

namespace {

using Mode = MainWindowQCamera::Mode;
using uitest::switchOn;

// Files and folders the window opens are caught in `urls`.
class MainWindowTest : public uitest::MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        MainWindowQCamera::setDirectoryChooser({});
    }

    QTemporaryDir bin;
    UrlCatcher urls;
};

TEST_F(MainWindowTest, FormHoldsTheNamedWidgetsWithTheirLabels)
{
    createWindow();
    const struct {
        const char *name, *text;
    } labelled[] = {
        {"btnShooting", "\n\n拍摄"},     {"btnSetting_2", "\n\n设置"},   {"btnShootingTime", "\n\n定时"},
        {"btnShootingVideo", "\n\n录像"}, {"btnIDCard", "\n\n身份证"},   {"btnIDCard_2", "\n\n指纹"},
        {"btnIDCard_3", "\n\n条码"},     {"btnIDCard_4", "\n\n录音"},    {"btnIDCard_5", "\n\n抓拍"},
        {"rb_correction_10", "不矫正"},  {"rb_correction_11", "单个矫正"}, {"rb_correction_12", "多个矫正"},
        {"rb_correction_13", "自定义矫正"}, {"rb_Shooting_10", "彩色"},    {"rb_Shooting_11", "灰度"},
        {"rb_Shooting_12", "黑白"},      {"rb_Shooting_13", "彩色去底"}, {"chMergeImage_2", "合并拍照"},
        {"check_image_merging_2", "合拼图像"}, {"cbSaveTiffImage_2", "存储PDF/TIFF"},
        {"pushButton", "合并图像"},      {"btnSavePdfTiff", "存储PDF"},  {"cbAutoExp_2", "自动"},
        {"pushButton_2", "最小化"},      {"btnOpenUserWorkDir_2", "浏览图像"},
        {"btnSelectWorkDir_2", "存储位置"}, {"lb_video_tip", "视频加载中，请稍候......"},
    };
    for (const auto &entry : labelled) {
        QWidget *widget = window->findChild<QWidget *>(QLatin1String(entry.name));
        ASSERT_NE(widget, nullptr) << entry.name;
        const QVariant text = widget->property("text");
        EXPECT_EQ(text.toString(), QString::fromUtf8(entry.text)) << entry.name;
    }
    EXPECT_EQ(ui->gpimagepath_2->title(), QStringLiteral("存储路径"));
    EXPECT_EQ(ui->lbUserWorkDir_2->text(), documents.path());
    for (const char *name : {"pic21", "pic22", "pic23", "pic24", "pic25", "pic26", "pic27", "pic28",
                             "pic210", "comboBox", "video", "btnleft_2", "btnupdown_2", "btnright_2",
                             "btnToggleDevice_2", "btnSecCamCon_2", "btnSecCam1Con_2",
                             "groupCorrection_2", "groupShootingSetting_2", "tbExposure_2",
                             "lb_exposure_2"})
        EXPECT_NE(window->findChild<QWidget *>(QLatin1String(name)), nullptr) << name;
    EXPECT_TRUE(ui->btnShooting->styleSheet().contains(
        Cache::config->appDir + QStringLiteral("/Resources/icon/icon_snap_32.png")));
    EXPECT_FALSE(ui->lbLogo->pixmap(Qt::ReturnByValue).isNull());
}

TEST_F(MainWindowTest, FeatureSwitchesShowTheirButtons)
{
    Config &config = *Cache::config;
    config.gnPaizhao = true;
    config.gnYanshi = false;
    config.gnPaishe = true;
    config.gnShenfenz = false;
    config.gnZhiwen = true;
    config.gnTiaoma = false;
    config.gnZhuapai = false;
    config.gnRecord = true;
    createWindow();
    EXPECT_FALSE(ui->btnShooting->isHidden());
    EXPECT_TRUE(ui->btnShootingTime->isHidden());
    EXPECT_FALSE(ui->btnShootingVideo->isHidden());
    EXPECT_TRUE(ui->btnIDCard->isHidden());
    EXPECT_FALSE(ui->btnIDCard_2->isHidden());
    EXPECT_TRUE(ui->btnIDCard_3->isHidden());
    EXPECT_TRUE(ui->btnIDCard_4->isHidden());   // sound recording: always hidden
    EXPECT_TRUE(ui->btnIDCard_5->isHidden());

    config.gnZhuapai = true;
    config.gnYanshi = true;
    window->changeGN();
    EXPECT_FALSE(ui->btnIDCard_5->isHidden());
    EXPECT_FALSE(ui->btnShootingTime->isHidden());
    EXPECT_TRUE(ui->btnIDCard_4->isHidden());
}


const char *warningOf(Mode mode)
{
    switch (mode) {
    case MainWindowQCamera::TimedShooting: return "警告|定时拍摄中......";
    case MainWindowQCamera::VideoRecording: return "警告|录像中......";
    case MainWindowQCamera::Barcode: return "警告|正在识别条码......";
    case MainWindowQCamera::SoundRecording: return "警告|正在录音中......";
    case MainWindowQCamera::AutoCapture: return "警告|正在抓拍中......";
    }
    return "";
}

TEST_F(MainWindowTest, EachModeBlocksTheActionsItGuards)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    const Mode all[] = {MainWindowQCamera::TimedShooting, MainWindowQCamera::VideoRecording,
                        MainWindowQCamera::Barcode, MainWindowQCamera::SoundRecording,
                        MainWindowQCamera::AutoCapture};
    using Check = std::function<bool(MainWindowQCamera &)>;   // true: the action did nothing
    struct Action {
        const char *name;
        std::function<void(MainWindowQCamera &)> press;
        std::vector<Mode> guards;
        Check unchanged;
    };
    const std::vector<Action> actions = {
        {"shoot", [](MainWindowQCamera &w) { w.form()->btnShooting->click(); },
         {all[0], all[1], all[2], all[3], all[4]},
         [](MainWindowQCamera &w) { return !w.preview()->imageProcessing()->photoRequested; }},
        {"timed", [](MainWindowQCamera &w) { w.form()->btnShootingTime->click(); },
         {MainWindowQCamera::VideoRecording, MainWindowQCamera::Barcode,
          MainWindowQCamera::SoundRecording, MainWindowQCamera::AutoCapture},
         [](MainWindowQCamera &w) { return !w.isModeOn(MainWindowQCamera::TimedShooting); }},
        {"video", [](MainWindowQCamera &w) { w.form()->btnShootingVideo->click(); },
         {MainWindowQCamera::TimedShooting, MainWindowQCamera::Barcode,
          MainWindowQCamera::SoundRecording},
         [](MainWindowQCamera &w) { return !w.isModeOn(MainWindowQCamera::VideoRecording); }},
        {"barcode", [](MainWindowQCamera &w) { w.form()->btnIDCard_3->click(); },
         {MainWindowQCamera::TimedShooting, MainWindowQCamera::VideoRecording},
         [](MainWindowQCamera &w) { return !w.isModeOn(MainWindowQCamera::Barcode); }},
        {"auto capture", [](MainWindowQCamera &w) { w.form()->btnIDCard_5->click(); },
         {MainWindowQCamera::VideoRecording, MainWindowQCamera::TimedShooting,
          MainWindowQCamera::Barcode, MainWindowQCamera::SoundRecording},
         [](MainWindowQCamera &w) { return !w.isModeOn(MainWindowQCamera::AutoCapture); }},
        {"sound", [](MainWindowQCamera &w) { w.form()->btnIDCard_4->click(); },
         {MainWindowQCamera::VideoRecording, MainWindowQCamera::TimedShooting,
          MainWindowQCamera::Barcode, MainWindowQCamera::AutoCapture},
         [](MainWindowQCamera &w) { return !w.isModeOn(MainWindowQCamera::SoundRecording); }},
        {"settings", [](MainWindowQCamera &w) { w.form()->btnSetting_2->click(); },
         {MainWindowQCamera::VideoRecording, MainWindowQCamera::TimedShooting,
          MainWindowQCamera::Barcode, MainWindowQCamera::AutoCapture},
         [](MainWindowQCamera &w) { return w.settingDialog()->isHidden(); }},
        {"identity card", [](MainWindowQCamera &w) { w.form()->btnIDCard->click(); },
         {MainWindowQCamera::VideoRecording, MainWindowQCamera::TimedShooting}, nullptr},
        {"merging", [](MainWindowQCamera &w) { w.form()->check_image_merging_2->click(); },
         {MainWindowQCamera::VideoRecording, MainWindowQCamera::TimedShooting},
         [](MainWindowQCamera &w) { return !w.form()->check_image_merging_2->isChecked(); }},
        {"export", [](MainWindowQCamera &w) { w.form()->btnSavePdfTiff->click(); },
         {MainWindowQCamera::VideoRecording, MainWindowQCamera::TimedShooting}, nullptr},
    };

    // Every guarded action refuses with the running mode's warning and changes nothing.
    for (Mode mode : all) {
        createWindow();
        deliverFrame();
        switchOn(*window, mode);
        ASSERT_TRUE(window->isModeOn(mode)) << int(mode);
        window->preview()->imageProcessing()->end();   // keep photo requests observable
        window->preview()->imageProcessing()->photoRequested = false;
        for (const Action &action : actions) {
            if (std::find(action.guards.begin(), action.guards.end(), mode) == action.guards.end())
                continue;
            warnings.clear();
            action.press(*window);
            EXPECT_EQ(warnings, QStringList{QString::fromUtf8(warningOf(mode))})
                << action.name << " during mode " << int(mode);
            if (action.unchanged) {
                EXPECT_TRUE(action.unchanged(*window)) << action.name << " ran in mode " << int(mode);
            }
            EXPECT_TRUE(window->isModeOn(mode));
        }
        window.reset();
    }
    // Actions a mode does not guard run without a warning (the mode's own
    // toggle aside, which switches it off).
    const char *ownToggle[] = {"timed", "video", "barcode", "sound", "auto capture"};
    for (Mode mode : all) {
        for (const Action &action : actions) {
            if (std::find(action.guards.begin(), action.guards.end(), mode) != action.guards.end()
                || QLatin1String(action.name) == QLatin1String(ownToggle[int(mode)]))
                continue;
            createWindow();
            deliverFrame();
            switchOn(*window, mode);
            warnings.clear();
            action.press(*window);
            // The card dialog opened and found no reader on this machine: its
            // own warning, not a refusal.
            warnings.erase(std::remove_if(warnings.begin(), warnings.end(),
                                          [](const QString &warning) {
                                              return warning.contains(QStringLiteral("身份证阅读器"));
                                          }),
                           warnings.end());
            EXPECT_TRUE(warnings.isEmpty()) << action.name << " during mode " << int(mode) << ": "
                                            << warnings.join(QLatin1Char(';')).toStdString();
            window.reset();
        }
    }
}

TEST_F(MainWindowTest, TogglesShowTheirStateOnButtonAndStatusLine)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    createWindow();
    deliverFrame();
    QLabel *status = ui->lb_video_tip;
    EXPECT_TRUE(status->isHidden());

    const struct {
        Mode mode;
        QPushButton *button;
        const char *onText, *statusText, *offText;
    } toggles[] = {
        {MainWindowQCamera::TimedShooting, ui->btnShootingTime, "\n\n拍照中", "定时拍照中......", "\n\n定时"},
        {MainWindowQCamera::VideoRecording, ui->btnShootingVideo, "\n\n录像中", "视频录像中......", "\n\n录像"},
        {MainWindowQCamera::Barcode, ui->btnIDCard_3, "\n\n识别中", "条码识别中......", "\n\n条码"},
        {MainWindowQCamera::AutoCapture, ui->btnIDCard_5, "\n\n抓拍中", "抓拍中......", "\n\n抓拍"},
        {MainWindowQCamera::SoundRecording, ui->btnIDCard_4, "\n\n录音中", "录音中......", "\n\n录音"},
    };
    for (const auto &toggle : toggles) {
        toggle.button->click();
        EXPECT_TRUE(window->isModeOn(toggle.mode));
        EXPECT_EQ(toggle.button->text(), QString::fromUtf8(toggle.onText));
        EXPECT_FALSE(status->isHidden());
        EXPECT_EQ(status->text(), QString::fromUtf8(toggle.statusText));
        toggle.button->click();
        EXPECT_FALSE(window->isModeOn(toggle.mode));
        EXPECT_EQ(toggle.button->text(), QString::fromUtf8(toggle.offText));
        EXPECT_TRUE(status->isHidden());
        EXPECT_EQ(status->text(), QStringLiteral("视频加载中，请稍候......"));
    }
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char(';')).toStdString();
    EXPECT_FALSE(Cache::config->autoCaptureOn);
}

// A camera that closes and opens again (a reopen, a camera change) shows the
// loading line only while no mode runs, and never hides a running mode's line.
TEST_F(MainWindowTest, CameraReopeningLeavesARunningModesStatusLineAlone)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    createWindow();
    deliverFrame();
    QLabel *status = ui->lb_video_tip;

    window->closeCamera();
    EXPECT_FALSE(status->isHidden());
    EXPECT_EQ(status->text(), QStringLiteral("视频加载中，请稍候......"));
    window->openCamera();
    EXPECT_TRUE(status->isHidden());

    for (Mode mode : {MainWindowQCamera::TimedShooting, MainWindowQCamera::VideoRecording,
                      MainWindowQCamera::Barcode, MainWindowQCamera::AutoCapture,
                      MainWindowQCamera::SoundRecording}) {
        switchOn(*window, mode);
        const QString modeLine = status->text();
        EXPECT_NE(modeLine, QStringLiteral("视频加载中，请稍候......")) << int(mode);
        window->closeCamera();
        EXPECT_EQ(status->text(), modeLine);
        window->openCamera();
        EXPECT_FALSE(status->isHidden()) << int(mode);
        EXPECT_EQ(status->text(), modeLine);
        switchOn(*window, mode);   // off again
        EXPECT_TRUE(status->isHidden());
    }
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char(';')).toStdString();
}

TEST_F(MainWindowTest, CameraStillSwitchingRefusesVideoAndBarcode)
{
    createWindow();   // no frame yet: the camera is still opening
    ui->btnShootingVideo->click();
    EXPECT_EQ(lastWarning(),
              QStringLiteral("警告|视频切换中，请等摄像头准备就绪了再进行录制，谢谢......"));
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::VideoRecording));
    ui->btnIDCard_3->click();
    EXPECT_EQ(lastWarning(),
              QStringLiteral("警告|视频切换中，请等摄像头准备就绪了再进行识别，谢谢......"));
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::Barcode));
    EXPECT_EQ(ui->btnIDCard_3->text(), QStringLiteral("\n\n条码"));
}

TEST_F(MainWindowTest, TimedShootingShootsEveryIntervalAndBlocksTheShootButton)
{
    FakeClock clock;
    Cache::config->shootingTime = 1;
    createWindow();
    deliverFrame();
    ImageProcessing *capture = window->preview()->imageProcessing();
    capture->end();   // photo requests stay visible instead of being taken
    capture->photoRequested = false;
    ui->btnShootingTime->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::TimedShooting));

    ui->btnShooting->click();
    EXPECT_EQ(lastWarning(), QStringLiteral("警告|定时拍摄中......"));
    EXPECT_FALSE(capture->photoRequested);

    // The clock moves on in 50 ms steps, each seen by the window before the next.
    const qint64 start = clock.elapsedMs();
    QList<qint64> shots;
    const auto step = [&] {
        clock.advance(50);
        testenv::waitFor([] { return false; }, 10);
        if (capture->photoRequested.exchange(false))
            shots.append(clock.elapsedMs() - start);
    };
    while (shots.size() < 3 && clock.elapsedMs() - start < 10000)
        step();
    ASSERT_EQ(shots.size(), 3);
    // One request per interval.
    EXPECT_GE(shots[2] - shots[0], 1500);
    EXPECT_LE(shots[0], 8000);

    ui->btnShootingTime->click();
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::TimedShooting));
    shots.clear();
    const qint64 stoppedAt = clock.elapsedMs();
    while (clock.elapsedMs() - stoppedAt < 1500)
        step();
    EXPECT_TRUE(shots.isEmpty());
    window.reset();
}

QString writeImage(const QString &dir, const QString &name, Qt::GlobalColor color)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(color);
    const QString path = dir + QLatin1Char('/') + name;
    image.save(path);
    return path;
}

QString writeFile(const QString &dir, const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("x");
    return path;
}

QLabel *slotLabel(MainWindowQCamera &window, int slot)
{
    return window.findChild<QLabel *>(QStringLiteral("pic2%1").arg(slot));
}

bool samePicture(const QPixmap &shown, const QString &iconPath)
{
    const QImage expected = QPixmap(iconPath).toImage();
    return !expected.isNull()
           && shown.toImage().convertToFormat(QImage::Format_ARGB32)
                  == expected.convertToFormat(QImage::Format_ARGB32);
}

const char kRed[] = "border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:red;";
const char kClear[] = "border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:transparent";

TEST_F(MainWindowTest, ThumbnailRingFillsInOrderWrapsAndMarksTheNewest)
{
    createWindow();
    const QString dir = documents.path();
    QList<QString> images;
    for (int i = 1; i <= 10; ++i)
        images.append(writeImage(dir, QStringLiteral("IMG_%1.jpg").arg(i), Qt::blue));

    window->takePhotoImage({images[0], images[1], images[2]}, 0);
    EXPECT_EQ(window->slotPath(1), images[0]);
    EXPECT_EQ(window->slotPath(3), images[2]);
    EXPECT_EQ(window->nextSlot(), 4);
    EXPECT_EQ(slotLabel(*window, 3)->styleSheet(), QLatin1String(kRed));
    EXPECT_EQ(slotLabel(*window, 8)->styleSheet(), QLatin1String(kClear));
    // Photos are decoded off the window's thread: their pictures follow.
    EXPECT_TRUE(testenv::waitFor([&] { return !slotLabel(*window, 1)->pixmap(Qt::ReturnByValue).isNull(); },
                                 10000));

    window->takePhotoImage({images[3]}, 0);
    EXPECT_EQ(slotLabel(*window, 3)->styleSheet(), QLatin1String(kClear));
    EXPECT_EQ(slotLabel(*window, 4)->styleSheet(), QLatin1String(kRed));

    // Six more: slots 5..8, then wrap to 1 and 2.
    window->takePhotoImage({images[4], images[5], images[6], images[7], images[8], images[9]}, 0);
    EXPECT_EQ(window->slotPath(8), images[7]);
    EXPECT_EQ(window->slotPath(1), images[8]);
    EXPECT_EQ(window->slotPath(2), images[9]);
    EXPECT_EQ(window->nextSlot(), 3);
    EXPECT_EQ(slotLabel(*window, 2)->styleSheet(), QLatin1String(kRed));
    EXPECT_EQ(slotLabel(*window, 4)->styleSheet(), QLatin1String(kClear));

    // Slot 1 receives the first of a batch after slot 8: slot 8 loses the mark.
    createWindow();
    for (int i = 0; i < 8; ++i)
        window->takePhotoImage({images[i]}, 0);
    EXPECT_EQ(slotLabel(*window, 8)->styleSheet(), QLatin1String(kRed));
    window->takePhotoImage({images[8]}, 0);
    EXPECT_EQ(slotLabel(*window, 8)->styleSheet(), QLatin1String(kClear));
    EXPECT_EQ(slotLabel(*window, 1)->styleSheet(), QLatin1String(kRed));
    EXPECT_EQ(window->slotPath(1), images[8]);
}

// Pictures are made off the window's thread and may come late: a slot that
// took a newer file meanwhile keeps showing the newer one.
TEST_F(MainWindowTest, ASlotShowsThePictureOfItsNewestFile)
{
    createWindow();
    const QString dir = documents.path();
    QList<QString> batch{writeImage(dir, QStringLiteral("first.png"), Qt::red)};
    for (int i = 2; i <= 8; ++i)
        batch.append(writeImage(dir, QStringLiteral("IMG_%1.png").arg(i), Qt::blue));
    batch.append(writeImage(dir, QStringLiteral("ninth.png"), Qt::green));
    window->takePhotoImage(batch, 0);   // the ninth file wraps into slot 1
    EXPECT_EQ(window->slotPath(1), batch.last());
    QThreadPool::globalInstance()->waitForDone();
    QApplication::processEvents();
    const QImage shown = slotLabel(*window, 1)->pixmap(Qt::ReturnByValue).toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)), QColor(Qt::green));
}

TEST_F(MainWindowTest, DocumentsShowTheirIconsAndPhotosTheirPicture)
{
    createWindow();
    const QString dir = documents.path();
    const QString resources = Cache::config->appDir + QStringLiteral("/Resources/");
    const QString pdf = writeFile(dir, QStringLiteral("scan.pdf"));
    const QString tiff = writeFile(dir, QStringLiteral("scan.tiff"));
    const QString avi = writeFile(dir, QStringLiteral("2026_12_07_09_05_11.042.avi"));
    const QString wav = writeFile(dir, QStringLiteral("2026_12_07_09_05_11.042.wav"));
    const QString photo = writeImage(dir, QStringLiteral("IMG_1.png"), Qt::yellow);
    window->takePhotoImage({pdf, tiff, avi, wav, photo}, 0);
    EXPECT_TRUE(samePicture(slotLabel(*window, 1)->pixmap(Qt::ReturnByValue), resources + "pdf.png"));
    EXPECT_TRUE(samePicture(slotLabel(*window, 2)->pixmap(Qt::ReturnByValue), resources + "tiff.png"));
    EXPECT_TRUE(samePicture(slotLabel(*window, 3)->pixmap(Qt::ReturnByValue), resources + "recored.png"));
    EXPECT_TRUE(samePicture(slotLabel(*window, 4)->pixmap(Qt::ReturnByValue),
                            resources + "icon/icon_record.png"));
    ASSERT_TRUE(testenv::waitFor([&] { return !slotLabel(*window, 5)->pixmap(Qt::ReturnByValue).isNull(); },
                                 10000));
    const QImage shown = slotLabel(*window, 5)->pixmap(Qt::ReturnByValue).toImage();
    EXPECT_EQ(shown.width(), 200);   // scaled copy, stretched by the label
    EXPECT_EQ(QColor(shown.pixel(100, 50)), QColor(Qt::yellow));
    EXPECT_TRUE(slotLabel(*window, 5)->hasScaledContents());
}

TEST_F(MainWindowTest, ClickingAThumbnailOpensItsFile)
{
    createWindow();
    const QString photo = writeImage(documents.path(), QStringLiteral("IMG_1.jpg"), Qt::red);
    window->takePhotoImage({photo}, 0);
    auto press = [&](int slot) {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(slotLabel(*window, slot), &event);
    };
    press(2);   // no file yet
    EXPECT_TRUE(urls.opened.isEmpty());
    press(1);
    ASSERT_EQ(urls.opened.size(), 1);
    EXPECT_EQ(urls.opened.first(), QUrl::fromLocalFile(photo));
}

TEST_F(MainWindowTest, WorkingDirectoryIsChosenShownAndOpened)
{
    createWindow();
    const QString missing = documents.path() + QStringLiteral("/not/yet");
    Cache::config->documentsLocation = missing;
    ui->btnOpenUserWorkDir_2->click();
    EXPECT_TRUE(QFileInfo(missing).isDir());
    ASSERT_EQ(urls.opened.size(), 1);
    EXPECT_EQ(urls.opened.first(), QUrl::fromLocalFile(missing));

    QString offered;
    const QString chosen = documents.path() + QStringLiteral("/chosen");
    QDir().mkpath(chosen);
    MainWindowQCamera::setDirectoryChooser([&](QWidget *, const QString &start) {
        offered = start;
        return chosen;
    });
    ui->btnSelectWorkDir_2->click();
    EXPECT_EQ(offered, missing);
    EXPECT_EQ(Cache::config->documentsLocation, chosen);
    EXPECT_EQ(ui->lbUserWorkDir_2->text(), chosen);
    QSettings saved(QStringLiteral("system.ini"), QSettings::IniFormat);
    EXPECT_TRUE(saved.allKeys().size() > 0);

    MainWindowQCamera::setDirectoryChooser([](QWidget *, const QString &) { return QString(); });
    ui->btnSelectWorkDir_2->click();   // cancelled: nothing changes
    EXPECT_EQ(Cache::config->documentsLocation, chosen);
}

TEST_F(MainWindowTest, SoundRecordingStartsTheRecorderAndAnnouncesTheFile)
{
    const QString argsFile = bin.path() + QStringLiteral("/args.txt");
    uitest::installRecorderStandIn(bin, argsFile);
    createWindow();
    ui->btnIDCard_4->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::SoundRecording));
    const QString wav = window->soundRecordingPath();
    EXPECT_EQ(QFileInfo(wav).absolutePath(), QDir(documents.path()).absolutePath());
    EXPECT_TRUE(wav.endsWith(QLatin1String(".wav")));
    ASSERT_TRUE(testenv::waitFor([&] { return uitest::readLines(argsFile).size() == 6; }, 5000));
    EXPECT_EQ(uitest::readLines(argsFile),
              (QStringList{"-D", "hw:2,0", "-c1", "-r16000", "-fS16_LE", wav}));
    ui->btnIDCard_4->click();
    EXPECT_EQ(window->slotPath(1), wav);
    EXPECT_TRUE(samePicture(slotLabel(*window, 1)->pixmap(Qt::ReturnByValue),
                            Cache::config->appDir + "/Resources/icon/icon_record.png"));
}

TEST_F(MainWindowTest, SoundAndVideoAreRecordedByThePreviewsOneRecorder)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    FakeClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 11, 42)));   // before the window
    createWindow();
    Recording *recorder = window->preview()->recording();

    ui->btnIDCard_4->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::SoundRecording));
    const QString wav = documents.path() + QStringLiteral("/2026_12_07_09_05_11.042.wav");
    EXPECT_EQ(window->soundRecordingPath(), wav);
    EXPECT_TRUE(recorder->isRecording());
    ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo(wav).size() > 44; }, 5000));
    ui->btnIDCard_4->click();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(window->slotPath(1), wav);

    clock.setNow(QDateTime(QDate(2026, 12, 7), QTime(9, 6, 11, 42)));
    deliverFrame();
    ui->btnShootingVideo->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::VideoRecording));
    EXPECT_TRUE(recorder->isRecordingVideo());
    clock.advance(1500);
    ui->btnShootingVideo->click();
    ASSERT_TRUE(uitest::waitUntilFinished(*recorder));
    const QString avi = documents.path() + QStringLiteral("/2026_12_07_09_06_11.042.avi");
    EXPECT_EQ(window->slotPath(2), avi);
    const uitest::AviInfo file = uitest::readAvi(avi);
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.frames, 15);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
}

TEST_F(MainWindowTest, VideoRecordingAnnouncesTheFileInTheThumbnails)
{
    ASSERT_NO_FATAL_FAILURE(recordAShortVideo());
    const QString avi = window->slotPath(1);
    EXPECT_TRUE(avi.endsWith(QLatin1String(".avi")));
    EXPECT_TRUE(QFileInfo(avi).size() > 0);
    EXPECT_EQ(slotLabel(*window, 1)->styleSheet(), QLatin1String(kRed));
}

std::unique_ptr<QList<CameraInfo>> fakeCameras(int count)
{
    auto cameras = std::make_unique<QList<CameraInfo>>();
    for (int i = 0; i < count; ++i) {
        CameraInfo camera;
        camera.index = 900 + i;   // no such device: the capture thread simply finds no frames
        camera.name = QStringLiteral("camera %1").arg(i);
        camera.resolutions = {QSize(640 + 16 * i, 480), QSize(320, 240)};
        cameras->append(camera);
    }
    return cameras;
}

TEST_F(MainWindowTest, CameraToggleChoosesTheNextCameraAndIgnoresQuickPresses)
{
    const struct {
        int cameras;
        bool thirdDeviceMain;
        int startIndex;
        int expected;
    } cases[] = {
        {3, true, 0, 2}, {3, true, 2, 0}, {3, true, 1, 0},
        {3, false, 0, 1}, {3, false, 2, 0},
        {2, true, 0, 1},   // no third camera: the next one
        {1, true, 0, 0},
    };
    for (const auto &c : cases) {
        *Cache::cameras = *fakeCameras(c.cameras);
        Cache::config->cameraIndex = c.startIndex;
        Cache::config->thirdDeviceMain = c.thirdDeviceMain;
        Cache::config->fourcc = 3;
        Cache::config->resolution = 1;
        createWindow();
        EXPECT_EQ(ui->comboBox->count(), c.cameras);
        ui->btnToggleDevice_2->click();
        EXPECT_EQ(window->preview()->cameraIndex(), c.expected) << c.cameras << "/" << c.startIndex;
        EXPECT_EQ(Cache::config->cameraIndex, c.expected);
        EXPECT_EQ(ui->comboBox->currentIndex(), c.expected);
        EXPECT_EQ(Cache::config->fourcc, 0);
        EXPECT_EQ(Cache::config->resolution, 0);
        EXPECT_EQ(window->preview()->imageProcessing()->frameWidth, 640 + 16 * c.expected);
        EXPECT_FALSE(ui->btnToggleDevice_2->isEnabled());
        EXPECT_EQ(ui->lb_video_tip->text(), QStringLiteral("视频切换中，请稍候！"));
        EXPECT_FALSE(ui->lb_video_tip->isHidden());

        // Within three seconds a second press is ignored, even once the switch is done.
        window->ChangeBtn2();
        EXPECT_TRUE(ui->btnToggleDevice_2->isEnabled());
        ui->btnToggleDevice_2->click();
        EXPECT_EQ(window->preview()->cameraIndex(), c.expected);
        EXPECT_TRUE(ui->btnToggleDevice_2->isEnabled());
        window.reset();
    }
    Cache::cameras->clear();
    Cache::config->thirdDeviceMain = true;
}

TEST_F(MainWindowTest, CameraToggleTakesThePressAgainAfterThreeSeconds)
{
    *Cache::cameras = *fakeCameras(3);
    Cache::config->cameraIndex = 0;
    Cache::config->thirdDeviceMain = false;
    FakeClock clock;
    createWindow();
    ui->btnToggleDevice_2->click();
    ASSERT_EQ(window->preview()->cameraIndex(), 1);
    window->ChangeBtn2();
    clock.advance(2999);
    ui->btnToggleDevice_2->click();
    EXPECT_EQ(window->preview()->cameraIndex(), 1) << "still within three seconds";
    clock.advance(1);
    ui->btnToggleDevice_2->click();
    EXPECT_EQ(window->preview()->cameraIndex(), 2);
    window->ChangeBtn2();
    clock.advance(3000);
    ui->btnToggleDevice_2->click();
    EXPECT_EQ(window->preview()->cameraIndex(), 0) << "round to the first camera";
    window.reset();
    Cache::cameras->clear();
    Cache::config->thirdDeviceMain = true;
}

TEST_F(MainWindowTest, CameraChoiceIsRefusedWhileRecordingOrTimedShooting)
{
    *Cache::cameras = *fakeCameras(2);
    Cache::config->cameraIndex = 0;
    createWindow();
    deliverFrame();
    ui->btnShootingTime->click();
    ui->comboBox->setCurrentIndex(1);
    EXPECT_EQ(lastWarning(), QStringLiteral("警告|定时拍摄中......"));
    EXPECT_EQ(ui->comboBox->currentIndex(), 0);
    EXPECT_EQ(window->preview()->cameraIndex(), 0);
    ui->btnShootingTime->click();
    ui->comboBox->setCurrentIndex(1);
    EXPECT_EQ(window->preview()->cameraIndex(), 1);
    EXPECT_EQ(Cache::config->cameraIndex, 1);
    EXPECT_TRUE(window->preview()->isSwitching());
    window.reset();
    Cache::cameras->clear();
}

TEST_F(MainWindowTest, SecondCameraViewsNeedMoreCameras)
{
    createWindow();
    ui->btnSecCamCon_2->click();
    EXPECT_EQ(lastWarning(), QStringLiteral("警告|未检测到子摄像头"));
    warnings.clear();
    ui->btnSecCam1Con_2->click();
    EXPECT_EQ(lastWarning(), QStringLiteral("警告|未检测到子摄像头"));
}

TEST_F(MainWindowTest, SidePanelOptionsReachThePreview)
{
    createWindow();
    ImageProcessing *capture = window->preview()->imageProcessing();
    ui->btnright_2->click();
    EXPECT_EQ(capture->angle, 1);
    ui->btnupdown_2->click();
    EXPECT_EQ(capture->angle, 3);
    ui->btnleft_2->click();
    EXPECT_EQ(capture->angle, 2);
    ui->rb_correction_12->click();
    EXPECT_EQ(capture->correction, 2);
    EXPECT_EQ(Cache::config->correctionMode, 2);
    ui->rb_correction_13->click();
    EXPECT_EQ(Cache::config->correctionMode, 3);
    EXPECT_FALSE(window->preview()->cropLabel()->isHidden());
    ui->rb_Shooting_11->click();
    EXPECT_EQ(capture->shootType, 1);
    ui->chMergeImage_2->click();
    EXPECT_TRUE(capture->childCamera);
    ui->cbSaveTiffImage_2->click();
    EXPECT_TRUE(capture->saveImageToTiff);
    ui->tbExposure_2->setValue(4);
    EXPECT_EQ(Cache::config->exposure, 4);
    EXPECT_EQ(ui->lb_exposure_2->text(), QStringLiteral("4"));
    ui->cbAutoExp_2->click();
    EXPECT_FALSE(ui->tbExposure_2->isEnabled());
    ui->cbAutoExp_2->click();
    EXPECT_TRUE(ui->tbExposure_2->isEnabled());
}

TEST_F(MainWindowTest, SettingsOpenAndSavingReappliesTheSwitches)
{
    createWindow();
    ui->btnSetting_2->click();
    EXPECT_TRUE(window->settingDialog()->isVisible() || !window->settingDialog()->isHidden());
    Cache::config->gnZhuapai = true;
    Cache::config->exposure = 6;
    emit window->settingDialog()->reConfigVideoSettingSignal();
    EXPECT_FALSE(ui->btnIDCard_5->isHidden());
    EXPECT_EQ(ui->tbExposure_2->value(), 6);
}

TEST_F(MainWindowTest, ClosingWithAFrameInFlightStopsTheThreads)
{
    createWindow();
    window->show();
    ImageProcessing *capture = window->preview()->imageProcessing();
    uitest::FrameFlood flood(capture, uitest::toImage(uitest::testFrame(640, 480)));
    ASSERT_TRUE(flood.waitUntilFlowing(5000));
    QSignalSpy closed(window.get(), &MainWindowQCamera::closed);
    QElapsedTimer timer;
    timer.start();
    window->close();
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(capture->isRunning());
    EXPECT_TRUE(flood.stop(3000));
    window.reset();
}

// ---------------------------------------------------------------- on a live virtual camera

class LiveWindowTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        *Cache::cameras = VirtualCameras::parse(QStringLiteral("synthetic:sizes=640x480,fps=30"));
        ASSERT_EQ(Cache::cameras->size(), 1);
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        Cache::cameras->clear();
    }
    bool waitForLivePicture()
    {
        return testenv::waitFor([&] { return !window->preview()->isSwitching(); }, 20000);
    }
};

TEST_F(LiveWindowTest, TimedShootingFillsTheThumbnailsWithPhotos)
{
    Cache::config->shootingTime = 1;
    createWindow();
    ASSERT_TRUE(waitForLivePicture());
    EXPECT_TRUE(ui->lb_video_tip->isHidden());
    ui->btnShootingTime->click();
    ASSERT_TRUE(testenv::waitFor([&] { return !window->slotPath(2).isEmpty(); }, 15000));
    ui->btnShootingTime->click();
    for (int slot : {1, 2}) {
        EXPECT_TRUE(QFileInfo(window->slotPath(slot)).isFile()) << slot;
        EXPECT_EQ(QFileInfo(window->slotPath(slot)).absolutePath(), QDir(documents.path()).absolutePath());
        EXPECT_TRUE(testenv::waitFor(
            [&] { return !slotLabel(*window, slot)->pixmap(Qt::ReturnByValue).isNull(); }, 10000));
    }
    EXPECT_EQ(slotLabel(*window, window->nextSlot() == 1 ? 8 : window->nextSlot() - 1)->styleSheet(),
              QLatin1String(kRed));
}

TEST_F(LiveWindowTest, ClosingWhileTheCameraDeliversEndsPromptly)
{
    createWindow();
    window->show();
    ASSERT_TRUE(waitForLivePicture());
    ImageProcessing *capture = window->preview()->imageProcessing();
    // Let the loop block in its next frame hand-over: nobody pumps events now.
    QThread::msleep(150);
    QElapsedTimer timer;
    timer.start();
    window->close();
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_FALSE(capture->isRunning());
    timer.restart();
    window.reset();
    EXPECT_LT(timer.elapsed(), 1500);
}

// ---------------------------------------------------------------- barcode and automatic capture

TEST_F(MainWindowTest, BarcodeModeShowsTheFirstDecodedTextAndEnds)
{
    createWindow();
    deliverFrame();
    ui->btnIDCard_3->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::Barcode));
    const barcodecodes::Placement plain;
    window->recErweimaSignal(barcodecodes::frameWithCode(ZXing::BarcodeFormat::EAN13, "5901234123457",
                                                         QSize(1280, 720), plain));
    EXPECT_TRUE(window->isModeOn(MainWindowQCamera::Barcode));   // not an enabled symbology
    EXPECT_TRUE(window->erweimaDialog()->isHidden());

    window->recErweimaSignal(barcodecodes::frameWithCode(
        ZXing::BarcodeFormat::QRCode, "www.example.org/station", QSize(1280, 720), plain));
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::Barcode));
    EXPECT_FALSE(window->preview()->isErweimaOn());
    EXPECT_EQ(ui->btnIDCard_3->text(), QStringLiteral("\n\n条码"));
    EXPECT_TRUE(ui->lb_video_tip->isHidden());
    EXPECT_FALSE(window->erweimaDialog()->isHidden());
    EXPECT_EQ(window->erweimaDialog()->text(), QStringLiteral("www.example.org/station"));
}

TEST_F(MainWindowTest, BarcodeModeShowsGb18030TextReadable)
{
    createWindow();
    deliverFrame();
    ui->btnIDCard_3->click();
    const QString words = QStringLiteral("挂号单 门诊 0042");
    const QByteArray gb18030 = QTextCodec::codecForName("GB18030")->fromUnicode(words);
    window->recErweimaSignal(barcodecodes::frameWithQrBytes(gb18030.toStdString(), QSize(1280, 720), {300, 0.0, 0.0}));
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::Barcode));
    EXPECT_EQ(window->erweimaDialog()->findChild<QLineEdit *>("lineEdit")->text(), words);
}

TEST_F(LiveWindowTest, AutomaticCaptureShootsOnceAfterAPageTurn)
{
    FakeClock clock;   // before the camera: its page turns follow this clock
    *Cache::cameras =
        VirtualCameras::parse(QStringLiteral("synthetic:sizes=640x480,fps=15,page=4"));
    Cache::config->gnZhuapai = true;
    createWindow();
    // Counted on the capture thread, which goes on delivering until the
    // window is torn down after this body: the counter must outlive it.
    const auto frames = std::make_shared<std::atomic<int>>(0);
    QObject::connect(window->preview()->imageProcessing(), &ImageProcessing::sendFarmeSignal,
                     window->preview(), [frames] { ++*frames; }, Qt::DirectConnection);
    ASSERT_TRUE(clock.advanceUntil([&] { return !window->preview()->isSwitching(); }, 20000));
    ui->btnIDCard_5->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::AutoCapture));
    EXPECT_TRUE(Cache::config->autoCaptureOn);
    // The clock moves on 200 ms with every frame, so the watcher sees the
    // page the camera shows at each moment.
    int framesSeen = *frames;
    while (window->slotPath(1).isEmpty() && clock.elapsedMs() < 60000) {
        ASSERT_TRUE(testenv::waitFor([&] { return *frames > framesSeen; }, 5000));
        framesSeen = *frames;
        clock.advance(200);
    }
    ASSERT_TRUE(testenv::waitFor([&] { return !window->slotPath(1).isEmpty(); }, 5000));
    EXPECT_TRUE(QFileInfo(window->slotPath(1)).isFile());
    ui->btnIDCard_5->click();
    EXPECT_FALSE(Cache::config->autoCaptureOn);
    EXPECT_EQ(ui->btnIDCard_5->text(), QStringLiteral("\n\n抓拍"));
}

} // namespace
