#pragma once

#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QVector>

#include <functional>

#include "clocktimer.h"

class CameraViewDialog;
class QAbstractButton;
class Dialog;
class Erweima;
class IDCardDialog;
class ImageMergingDialog;
class ImageSavePDFOrTiffDialog;
class QButtonGroup;
class QCameraView;
class QLabel;
class SettingDialog;

namespace Ui {
class MainWindowQCamera;
}

// The desktop window: the live preview, the side panel of capture options,
// the ring of thumbnails of the latest files and the tool buttons. It keeps
// the on/off state of the long-running modes and makes them exclude each other.
class MainWindowQCamera : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindowQCamera(QWidget *parent = nullptr);
    ~MainWindowQCamera() override;

    // The long-running modes, each with its "警告" text when it blocks an action.
    enum Mode { TimedShooting, VideoRecording, Barcode, SoundRecording, AutoCapture };

    // Keeps the window within `available` (a screen's free area): a window
    // that does not fit is maximised there.
    void fitInto(const QRect &available);

    QCameraView *preview() const;
    Ui::MainWindowQCamera *form() const { return ui; }
    SettingDialog *settingDialog() const { return settings; }
    Erweima *erweimaDialog() const { return erweima; }
    ImageMergingDialog *mergingDialog() const { return imageMerging; }
    ImageSavePDFOrTiffDialog *exportDialog() const { return pdfOrTiff; }
    // The first (1) or second (2) second-camera view.
    CameraViewDialog *childView(int which) const { return which == 1 ? childView1 : childView2; }
    Dialog *fingerprintDialog() const { return fingerDialog; }
    bool isModeOn(Mode mode) const;
    // Path remembered for thumbnail slot 1..8 (empty when the slot has none).
    QString slotPath(int slot) const;
    // The slot that receives the next file.
    int nextSlot() const { return nextThumbnailSlot; }
    QString soundRecordingPath() const { return soundPath; }

    // Directory chooser behind "存储位置"; tests replace it so nobody has to
    // click. An empty function restores the standard dialog.
    using DirectoryChooser = std::function<QString(QWidget *parent, const QString &start)>;
    static void setDirectoryChooser(DirectoryChooser chooser);

    // Pause between two accepted presses of the camera toggle.
    static constexpr int toggleDebounceMs = 3000;

public slots:
    void ChangeBtn2();
    void takePhotoImage(QList<QString> paths, int type);
    void recErweimaSignal(QImage frame);
    void recZhuapaiSignal(QImage frame);
    void onShootingTimer();
    void videoSetting();
    void reConfigVideoSetting();
    void changePaintingResolution(bool closed);
    void recFGSignals(QPixmap picture);
    void openCamera();
    void closeCamera();
    void buttonGroupCorrectionClicked(int id);
    void buttonGroupShootingTypeClicked(int id);
    void changeCamera(int index);
    void changeGN();

    void on_btnShooting_clicked();
    void on_btnSetting_2_clicked();
    void on_btnShootingTime_clicked();
    void on_btnShootingVideo_clicked();
    void on_btnIDCard_clicked();
    void on_btnIDCard_2_clicked();
    void on_btnIDCard_3_clicked();
    void on_btnIDCard_4_clicked();
    void on_btnIDCard_5_clicked();
    void on_btnToggleDevice_2_clicked();
    void on_btnleft_2_clicked();
    void on_btnupdown_2_clicked();
    void on_btnright_2_clicked();
    void on_btnSecCamCon_2_clicked();
    void on_btnSecCam1Con_2_clicked();
    void on_chMergeImage_2_toggled(bool checked);
    void on_cbSaveTiffImage_2_toggled(bool checked);
    void on_check_image_merging_2_clicked(bool checked);
    void on_pushButton_clicked();
    void on_btnSavePdfTiff_clicked();
    void on_pushButton_2_clicked();
    void on_btnOpenUserWorkDir_2_clicked();
    void on_btnSelectWorkDir_2_clicked();
    void on_tbExposure_2_valueChanged(int value);
    void on_cbAutoExp_2_toggled(bool checked);

signals:
    void closed();
    void sendTCData(QString text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // What switching one mode on and off does beyond the button, the status
    // line and the mode's own state, which toggleMode() looks after.
    struct ModeActions {
        std::function<bool()> start;      // false: the mode stays off
        std::function<void()> started;    // after the mode shows as on
        std::function<void()> stop;
        std::function<void()> stopped;    // after the mode shows as off
    };
    // Switches `mode` off when it is on; otherwise switches it on unless a
    // mode that excludes it runs or the camera is switching. Switching off is
    // never refused.
    void toggleMode(Mode mode, const ModeActions &actions);
    void setModeOn(Mode mode, bool on);
    bool anyModeOn() const { return modesOn != 0; }
    QAbstractButton *modeButton(Mode mode) const;
    // Shows the first busy mode's warning; true when the action must not run.
    bool busy(const QVector<Mode> &guards);
    // Refuses (with the mode's warning) while a mode runs during which the
    // settings dialog neither opens nor saves.
    bool settingsBusy();
    bool refuseWhileSwitching(const QString &text);
    // Refuses a camera switch with "画中画功能已经启用" while a view is open.
    bool refuseWhilePictureInPicture();
    // A "警告" box, unless one of these is already open.
    void warnOnce(const QString &text);
    void showStatus(const QString &text);
    // A passing note in the status bar (blank pages left out, documents split).
    void showNotice(const QString &text);
    void hideStatus();
    void placeStatusLine();
    void applyIcons();
    void fillCameraBox();
    void showThumbnail(int slot, const QString &path);
    void shutDown();
    void openChildView(CameraViewDialog *view, int which, int offsetX);
    bool takePhotoWithChildren();
    void openMergingDialog();
    void closeDocumentDialogs();
    void closeChildViews();

    Ui::MainWindowQCamera *ui;
    SettingDialog *settings = nullptr;
    Erweima *erweima = nullptr;
    IDCardDialog *idCardDialog = nullptr;
    ImageMergingDialog *imageMerging = nullptr;
    ImageSavePDFOrTiffDialog *pdfOrTiff = nullptr;
    CameraViewDialog *childView1 = nullptr;
    CameraViewDialog *childView2 = nullptr;
    Dialog *fingerDialog = nullptr;
    QButtonGroup *correctionGroup = nullptr;
    QButtonGroup *shootingGroup = nullptr;
    ClockTimer shootingTimer;

    // The modes that are on, one bit per Mode: the only record of them.
    unsigned modesOn = 0;
    bool warningOpen = false;
    QString soundPath;
    QString videoPath;

    static constexpr int kSlots = 8;
    QString thumbnailPaths[kSlots + 1];   // index 1..8
    int nextThumbnailSlot = 1;

    qint64 lastToggleMs = -1;
    bool shutDownDone = false;
};
