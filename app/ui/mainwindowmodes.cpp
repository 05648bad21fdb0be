// The main window's long-running modes: which one excludes which, how each
// shows on its button and in the status line, and the one way to toggle them.
#include "mainwindowqcamera.h"
#include "ui_mainwindowqcamera.h"

#include "warningbox.h"

#include <QPushButton>

namespace {

struct ModeLook {
    const char *busyWarning;   // when this mode blocks another action
    const char *onLabel;
    const char *offLabel;
    const char *status;        // status line while the mode is on
    // Shown instead of starting while the camera switches; nullptr: the
    // mode starts anyway.
    const char *switchingWarning;
    // Modes that keep this one from starting, the first one on is named.
    QVector<MainWindowQCamera::Mode> excludedBy;
};

using W = MainWindowQCamera;

// In the order of MainWindowQCamera::Mode.
const ModeLook kModeLooks[] = {
    {"定时拍摄中......", "\n\n拍照中", "\n\n定时", "定时拍照中......", nullptr,
     {W::VideoRecording, W::Barcode, W::SoundRecording, W::AutoCapture}},
    {"录像中......", "\n\n录像中", "\n\n录像", "视频录像中......",
     "视频切换中，请等摄像头准备就绪了再进行录制，谢谢......",
     {W::TimedShooting, W::Barcode, W::SoundRecording}},
    {"正在识别条码......", "\n\n识别中", "\n\n条码", "条码识别中......",
     "视频切换中，请等摄像头准备就绪了再进行识别，谢谢......",
     {W::TimedShooting, W::VideoRecording}},
    {"正在录音中......", "\n\n录音中", "\n\n录音", "录音中......", nullptr,
     {W::VideoRecording, W::TimedShooting, W::Barcode, W::AutoCapture}},
    {"正在抓拍中......", "\n\n抓拍中", "\n\n抓拍", "抓拍中......",
     "视频切换中，请等摄像头准备就绪了再进行抓拍，谢谢......",
     {W::VideoRecording, W::TimedShooting, W::Barcode, W::SoundRecording}},
};

static_assert(sizeof kModeLooks / sizeof kModeLooks[0] == W::AutoCapture + 1,
              "one look per mode");

const ModeLook &modeLook(MainWindowQCamera::Mode mode)
{
    return kModeLooks[mode];
}

unsigned modeBit(MainWindowQCamera::Mode mode)
{
    return 1u << static_cast<unsigned>(mode);
}

} // namespace

bool MainWindowQCamera::isModeOn(Mode mode) const
{
    return (modesOn & modeBit(mode)) != 0;
}

void MainWindowQCamera::setModeOn(Mode mode, bool on)
{
    if (on)
        modesOn |= modeBit(mode);
    else
        modesOn &= ~modeBit(mode);
}

QAbstractButton *MainWindowQCamera::modeButton(Mode mode) const
{
    switch (mode) {
    case TimedShooting: return ui->btnShootingTime;
    case VideoRecording: return ui->btnShootingVideo;
    case Barcode: return ui->btnIDCard_3;
    case SoundRecording: return ui->btnIDCard_4;
    case AutoCapture: break;
    }
    return ui->btnIDCard_5;
}

bool MainWindowQCamera::busy(const QVector<Mode> &guards)
{
    for (Mode mode : guards) {
        if (isModeOn(mode)) {
            WarningBox::warning(this, QStringLiteral("警告"),
                                QString::fromUtf8(modeLook(mode).busyWarning));
            return true;
        }
    }
    return false;
}

void MainWindowQCamera::toggleMode(Mode mode, const ModeActions &actions)
{
    const ModeLook &look = modeLook(mode);
    if (isModeOn(mode)) {
        setModeOn(mode, false);
        if (actions.stop)
            actions.stop();
        modeButton(mode)->setText(QString::fromUtf8(look.offLabel));
        hideStatus();
        if (actions.stopped)
            actions.stopped();
        return;
    }
    if (busy(look.excludedBy))
        return;
    if (look.switchingWarning && refuseWhileSwitching(QString::fromUtf8(look.switchingWarning)))
        return;
    if (actions.start && !actions.start())
        return;
    setModeOn(mode, true);
    modeButton(mode)->setText(QString::fromUtf8(look.onLabel));
    showStatus(QString::fromUtf8(look.status));
    if (actions.started)
        actions.started();
}
