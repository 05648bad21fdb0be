// The main window's fingerprint button: shown by its feature switch, opens
// the fingerprint dialog on the first sensor, refused while a long-running
// mode that excludes it is on.
#include "algorithm_teststub.h"
#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "dialog.h"
#include "fingertest.h"
#include "mainwindowqcamera.h"
#include "testenv.h"
#include "ui_mainwindowqcamera.h"
#include "warningbox.h"
#include "workdirtest.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace fingertest;

namespace {

class FingerMainWindowTest : public SensorTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(documents.isValid());
        SensorTest::SetUp();
        if (HasFatalFailure())
            return;
        testenv::resetConfig(documents);
        Cache::cameras->clear();
        testenv::captureWarnings(warnings);
        qxfpstub_reset();
    }
    void TearDown() override
    {
        window.reset();
        SensorTest::TearDown();
        WarningBox::setHandler({});
    }

    QTemporaryDir documents;
    QStringList warnings;
    std::unique_ptr<MainWindowQCamera> window;
};

TEST_F(FingerMainWindowTest, ButtonFollowsItsSwitch)
{
    Cache::config->gnZhiwen = false;
    window = std::make_unique<MainWindowQCamera>();
    EXPECT_TRUE(window->form()->btnIDCard_2->isHidden());
    Cache::config->gnZhiwen = true;
    window->changeGN();
    EXPECT_FALSE(window->form()->btnIDCard_2->isHidden());
    ASSERT_NE(nullptr, window->fingerprintDialog());
    EXPECT_FALSE(window->fingerprintDialog()->isVisible()); // created hidden
}

TEST_F(FingerMainWindowTest, ButtonOpensTheDialogOnTheSensorAndIdentifies)
{
    Cache::config->gnZhiwen = true;
    window = std::make_unique<MainWindowQCamera>();
    window->show();
    window->form()->btnIDCard_2->click();
    Dialog &dialog = *window->fingerprintDialog();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QStringLiteral("连接成功!"), message(dialog));
    EXPECT_EQ(QStringLiteral("识别失败"), press(dialog, sensor, 1));
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(FingerMainWindowTest, TimedShootingClosesTheDialogInsteadOfOpeningIt)
{
    Cache::config->gnZhiwen = true;
    window = std::make_unique<MainWindowQCamera>();
    window->show();
    window->form()->btnIDCard_2->click();
    ASSERT_TRUE(window->fingerprintDialog()->isVisible());
    window->form()->btnShootingTime->click();
    ASSERT_TRUE(window->isModeOn(MainWindowQCamera::TimedShooting));
    window->form()->btnIDCard_2->click();
    EXPECT_FALSE(window->fingerprintDialog()->isVisible());
    ASSERT_FALSE(warnings.isEmpty());
    EXPECT_EQ(QStringLiteral("警告|定时拍摄中......"), warnings.last());
    window->form()->btnShootingTime->click();
}

} // namespace
