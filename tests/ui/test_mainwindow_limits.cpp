// The desktop window at its limits: small counter screens, a camera without
// a listed size, shooting without a live picture, recordings that cannot be
// written or a recorder without a sound device, the sound file's header,
// settings saved while a mode runs, and switching modes off.
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "imageprocessing.h"
#include "mainwindowqcamera.h"
#include "qcameraview.h"
#include "settingdialog.h"
#include "mainwindowfixture.h"
#include "testenv.h"
#include "ui_mainwindowqcamera.h"
#include "uitesthelpers.h"
#include "virtualcameras.h"
#include "warningbox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>

#include <gtest/gtest.h>

#include <memory>

namespace {

using Mode = MainWindowQCamera::Mode;
using uitest::switchOn;

const QString kNoLiveFrame =
    QStringLiteral("警告|视频切换中，请等摄像头准备就绪了再进行拍摄，谢谢......");

class WindowLimits : public uitest::MainWindowFixture
{
protected:
    void enableEveryFeature()
    {
        Config &config = *Cache::config;
        config.gnPaizhao = config.gnYanshi = config.gnPaishe = config.gnShenfenz = true;
        config.gnZhiwen = config.gnTiaoma = config.gnZhuapai = config.gnRecord = true;
    }
    QList<QPushButton *> toolButtons() const
    {
        return {ui->btnShooting, ui->btnSetting_2, ui->btnShootingTime, ui->btnShootingVideo,
                ui->btnIDCard,   ui->btnIDCard_2,  ui->btnIDCard_3,     ui->btnIDCard_5};
    }
    static QRect onScreen(const QWidget *widget)
    {
        return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    }

    QTemporaryDir bin;
};

// ---------------------------------------------------------------- small screens

TEST_F(WindowLimits, EveryToolButtonLiesOnCounterScreens)
{
    enableEveryFeature();
    for (const QSize screen : {QSize(1280, 720), QSize(1366, 768)}) {
        createWindow();
        const QRect area(QPoint(0, 0), screen);
        window->fitInto(area);
        window->show();
        window->setGeometry(area);   // what a window manager does for a maximised window
        QApplication::processEvents();
        EXPECT_TRUE(area.contains(window->frameGeometry()))
            << screen.width() << "x" << screen.height();
        EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
        for (QPushButton *button : toolButtons()) {
            ASSERT_TRUE(button->isVisible()) << button->objectName().toStdString();
            EXPECT_TRUE(area.contains(onScreen(button)))
                << button->objectName().toStdString() << " at " << screen.width() << "x"
                << screen.height();
            EXPECT_EQ(button->height(), 66) << button->objectName().toStdString();
        }
        // The side panel stays reachable: on screen, scrolled when it must.
        EXPECT_TRUE(area.contains(onScreen(ui->sideScroll->viewport())));
        EXPECT_EQ(ui->sideScroll->widget(), ui->sidePanel);
        ui->sideScroll->ensureWidgetVisible(ui->btnSavePdfTiff);
        EXPECT_TRUE(area.contains(onScreen(ui->btnSavePdfTiff)));
        EXPECT_GE(ui->video->height(), 300);
        for (const char *name : {"pic21", "pic28"})
            EXPECT_TRUE(area.contains(onScreen(window->findChild<QWidget *>(QLatin1String(name)))));
        window.reset();
    }
}

TEST_F(WindowLimits, AWindowThatFitsKeepsItsSize)
{
    createWindow();
    window->setWindowState(Qt::WindowNoState);   // as on a large screen
    window->resize(1280, 800);
    const QSize natural = window->size();
    window->fitInto(QRect(0, 0, 1920, 1080));
    EXPECT_EQ(window->size(), natural);
    EXPECT_FALSE(window->windowState() & Qt::WindowMaximized);
}

// ---------------------------------------------------------------- cameras

TEST_F(WindowLimits, ACameraWithoutAListedSizeShowsItsPictureAtStartUp)
{
    *Cache::cameras = VirtualCameras::parse(QStringLiteral("synthetic:sizes=800x600,fps=30"));
    ASSERT_EQ(Cache::cameras->size(), 1);
    (*Cache::cameras)[0].resolutions.clear();   // as enumeration leaves a camera below 1280
    createWindow();
    ASSERT_TRUE(testenv::waitFor([&] { return !window->preview()->isSwitching(); }, 20000));
    EXPECT_EQ(window->preview()->currentImage().size(), QSize(800, 600));
    EXPECT_TRUE(ui->lb_video_tip->isHidden());
}

TEST_F(WindowLimits, ShootingWithoutALivePictureIsRefusedWithAMessage)
{
    Cache::config->saveNumber = 9;
    createWindow();
    ImageProcessing *capture = window->preview()->imageProcessing();
    capture->end();   // photo requests stay visible instead of being taken

    ui->btnShooting->click();   // nothing delivered yet
    EXPECT_EQ(warnings, QStringList{kNoLiveFrame});
    EXPECT_FALSE(capture->photoRequested);

    deliverFrame();
    warnings.clear();
    ui->btnShooting->click();
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_TRUE(capture->photoRequested);
    capture->photoRequested = false;

    // The camera goes away: its last frame is no photo any more.
    capture->closeCamara(false);
    QApplication::processEvents();
    EXPECT_TRUE(window->preview()->isSwitching());
    ui->btnShooting->click();
    EXPECT_EQ(warnings, QStringList{kNoLiveFrame});
    EXPECT_FALSE(capture->photoRequested);
    capture->takePhoto();   // a request that slipped through finds no frame
    EXPECT_TRUE(QDir(documents.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(Cache::config->saveNumber, 9);
}

TEST_F(WindowLimits, APhotoThatCannotBeSavedIsReported)
{
    QFile blocker(documents.path() + QStringLiteral("/plain-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Cache::config->documentsLocation = blocker.fileName() + QStringLiteral("/photos");
    createWindow();
    deliverFrame();
    ui->btnShooting->click();
    ASSERT_TRUE(testenv::waitFor([&] { return !warnings.isEmpty(); }, 10000));
    EXPECT_TRUE(warnings.first().startsWith(QStringLiteral("警告|")));
    EXPECT_TRUE(warnings.first().contains(Cache::config->documentsLocation));
    EXPECT_TRUE(window->slotPath(1).isEmpty());
}

// ---------------------------------------------------------------- recordings

TEST_F(WindowLimits, ARecordingThatCannotBeWrittenIsReportedNotAnnounced)
{
    QFile blocker(documents.path() + QStringLiteral("/plain-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Cache::config->documentsLocation = blocker.fileName() + QStringLiteral("/videos");
    createWindow();
    deliverFrame();
    ui->btnShootingVideo->click();
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::VideoRecording));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith(QStringLiteral("警告|")));
    EXPECT_TRUE(window->slotPath(1).isEmpty());
    EXPECT_EQ(ui->btnShootingVideo->text(), QStringLiteral("\n\n录像"));
}

TEST_F(WindowLimits, ARecordingIntoAMissingWorkingDirectoryMakesItAgain)
{
    const QString work = documents.path() + QStringLiteral("/gone");
    Cache::config->documentsLocation = work;
    ASSERT_NO_FATAL_FAILURE(recordAShortVideo());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
    EXPECT_TRUE(QFileInfo(window->slotPath(1)).size() > 0);
    EXPECT_EQ(QFileInfo(window->slotPath(1)).absolutePath(), work);
}

TEST_F(WindowLimits, ARecorderWithoutASoundDeviceIsReported)
{
    uitest::installFailingRecorder(bin);
    createWindow();
    ui->btnIDCard_4->click();
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::SoundRecording));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith(QStringLiteral("警告|")));
    EXPECT_EQ(ui->btnIDCard_4->text(), QStringLiteral("\n\n录音"));
    EXPECT_TRUE(window->slotPath(1).isEmpty());

    // Beside a video the video still records; the sound failure is said.
    Cache::config->gnRecord = true;
    deliverFrame();
    warnings.clear();
    ui->btnShootingVideo->click();
    EXPECT_TRUE(window->isModeOn(MainWindowQCamera::VideoRecording));
    EXPECT_EQ(warnings.size(), 1);
    ui->btnShootingVideo->click();
    ASSERT_TRUE(uitest::waitUntilFinished(*window->preview()->recording()));
    EXPECT_TRUE(window->slotPath(1).endsWith(QLatin1String(".avi")));
}

TEST_F(WindowLimits, SoundFilesEndWithTheirTrueSizesInTheHeader)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    createWindow();
    ui->btnIDCard_4->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::SoundRecording));
    const QString wav = window->soundRecordingPath();
    ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo(wav).size() > 3244; }, 5000));
    ui->btnIDCard_4->click();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
    EXPECT_EQ(window->slotPath(1), wav);
    const uitest::WavSizes sizes = uitest::wavSizes(wav);
    ASSERT_GT(sizes.fileSize, 44);
    EXPECT_EQ(sizes.riffSize, sizes.fileSize - 8);
    EXPECT_EQ(sizes.dataSize, sizes.fileSize - 44);

    // The sound beside a video is finished the same way.
    Cache::config->gnRecord = true;
    deliverFrame();
    ui->btnShootingVideo->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::VideoRecording));
    testenv::waitFor([] { return false; }, 400);
    ui->btnShootingVideo->click();
    const QStringList wavs = QDir(documents.path()).entryList({QStringLiteral("*.wav")}, QDir::Files);
    ASSERT_EQ(wavs.size(), 2);
    for (const QString &name : wavs) {
        const uitest::WavSizes beside = uitest::wavSizes(documents.path() + '/' + name);
        EXPECT_EQ(beside.riffSize, beside.fileSize - 8) << name.toStdString();
        EXPECT_EQ(beside.dataSize, beside.fileSize - 44) << name.toStdString();
    }
}

// ---------------------------------------------------------------- settings and modes


TEST_F(WindowLimits, SettingsAreNotSavedWhileAModeUsesTheCamera)
{
    const struct {
        Mode mode;
        const char *warning;
    } modes[] = {
        {MainWindowQCamera::TimedShooting, "警告|定时拍摄中......"},
        {MainWindowQCamera::VideoRecording, "警告|录像中......"},
        {MainWindowQCamera::Barcode, "警告|正在识别条码......"},
        {MainWindowQCamera::AutoCapture, "警告|正在抓拍中......"},
    };
    for (const auto &entry : modes) {
        Cache::config->quality = 80;
        createWindow();
        deliverFrame();
        ui->btnSetting_2->click();   // the dialog is open before the mode starts
        SettingDialog *settings = window->settingDialog();
        ASSERT_FALSE(settings->isHidden());
        switchOn(*window, entry.mode);
        ASSERT_TRUE(window->isModeOn(entry.mode));
        settings->findChild<QSlider *>(QStringLiteral("imageQualityBox"))->setValue(30);
        warnings.clear();
        settings->on_saveSetting_clicked();
        EXPECT_EQ(warnings, QStringList{QString::fromUtf8(entry.warning)}) << int(entry.mode);
        EXPECT_EQ(Cache::config->quality, 80) << int(entry.mode);
        EXPECT_FALSE(window->preview()->isSwitching()) << "camera reopened in mode " << int(entry.mode);
        EXPECT_TRUE(window->isModeOn(entry.mode));
        EXPECT_FALSE(settings->isHidden());

        switchOn(*window, entry.mode);   // off again: now it saves
        ASSERT_FALSE(window->isModeOn(entry.mode));
        warnings.clear();
        settings->on_saveSetting_clicked();
        EXPECT_TRUE(warnings.isEmpty());
        EXPECT_EQ(Cache::config->quality, 30);
        window.reset();
    }
}

TEST_F(WindowLimits, SavingSettingsKeepsTheRunningNumberPhotosMovedOn)
{
    Cache::config->saveNumber = 5;
    createWindow();
    ui->btnSetting_2->click();
    SettingDialog *settings = window->settingDialog();
    Cache::config->saveNumber = 8;   // three photos while the dialog was open
    settings->on_saveSetting_clicked();
    EXPECT_EQ(Cache::config->saveNumber, 8);
    EXPECT_EQ(QSettings(Cache::config->fileName, QSettings::IniFormat).value("save/number").toInt(), 8);

    // A number the user typed is taken.
    ui->btnSetting_2->click();
    settings->findChild<QLineEdit *>(QStringLiteral("saveImageNumber"))->setText(QStringLiteral("100"));
    settings->on_saveSetting_clicked();
    EXPECT_EQ(Cache::config->saveNumber, 100);
}

TEST_F(WindowLimits, SwitchingAModeOffIsNeverRefused)
{
    uitest::installRecorderStandIn(bin, bin.path() + QStringLiteral("/args.txt"));
    createWindow();
    deliverFrame();
    // Automatic capture first, then a recording (which does not exclude it).
    ui->btnIDCard_5->click();
    ui->btnShootingVideo->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::AutoCapture));
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::VideoRecording));
    warnings.clear();
    ui->btnIDCard_5->click();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::AutoCapture));
    EXPECT_EQ(ui->btnIDCard_5->text(), QStringLiteral("\n\n抓拍"));
    ui->btnShootingVideo->click();
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::VideoRecording));

    // Sound first, then barcode reading (which does not exclude it).
    ui->btnIDCard_4->click();
    ui->btnIDCard_3->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::SoundRecording));
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::Barcode));
    warnings.clear();
    ui->btnIDCard_4->click();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::SoundRecording));
    ui->btnIDCard_3->click();
    EXPECT_FALSE(window->isModeOn(MainWindowQCamera::Barcode));
}

} // namespace
