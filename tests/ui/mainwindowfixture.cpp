#include "mainwindowfixture.h"

#include "cache.h"
#include "camerainfo.h"
#include "imageprocessing.h"
#include "mainwindowqcamera.h"
#include "qcameraview.h"
#include "testenv.h"
#include "ui_mainwindowqcamera.h"
#include "uitesthelpers.h"

namespace uitest {

void switchOn(MainWindowQCamera &window, MainWindowQCamera::Mode mode)
{
    Ui::MainWindowQCamera *ui = window.form();
    switch (mode) {
    case MainWindowQCamera::TimedShooting: ui->btnShootingTime->click(); break;
    case MainWindowQCamera::VideoRecording: ui->btnShootingVideo->click(); break;
    case MainWindowQCamera::Barcode: ui->btnIDCard_3->click(); break;
    case MainWindowQCamera::SoundRecording: ui->btnIDCard_4->click(); break;
    case MainWindowQCamera::AutoCapture: ui->btnIDCard_5->click(); break;
    }
}

void MainWindowFixture::SetUp()
{
    StationTest::SetUp();
    Cache::cameras->clear();
}

void MainWindowFixture::TearDown()
{
    window.reset();
    Cache::cameras->clear();
    StationTest::TearDown();
}

void MainWindowFixture::createWindow()
{
    window = std::make_unique<MainWindowQCamera>();
    ui = window->form();
}

void MainWindowFixture::deliverFrame()
{
    const cv::Mat frame = testFrame(320, 240);
    window->preview()->imageProcessing()->setCurrentFrame(frame);
    window->preview()->updateImage(toImage(frame));
}

void MainWindowFixture::recordAShortVideo()
{
    createWindow();
    deliverFrame();
    ui->btnShootingVideo->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::VideoRecording));
    testenv::waitFor([] { return false; }, 300);
    ui->btnShootingVideo->click();
    ASSERT_TRUE(waitUntilFinished(*window->preview()->recording()));
}

} // namespace uitest
