#include "mainwindowqcamera.h"
#include "ui_mainwindowqcamera.h"

#include "barcodereader.h"
#include "cache.h"
#include "camerainfo.h"
#include "clock.h"
#include "cameraviewdialog.h"
#include "config.h"
#include "dialog.h"
#include "erweima.h"
#include "idcarddialog.h"
#include "imagemergingdialog.h"
#include "imagesavepdfortiffdialog.h"
#include "picturethumbnail.h"
#include "qcameraview.h"
#include "settingdialog.h"
#include "warningbox.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMutexLocker>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>

namespace {

const QString kWarningTitle = QStringLiteral("警告");
// Notes on photos and documents stay this long in the status bar.
constexpr int kNoticeMs = 10000;
const QString kLoadingText = QStringLiteral("视频加载中，请稍候......");
const QString kChildCameraAway = QStringLiteral("画中画摄像头无画面，本次拍照未含其画面");
const QString kNoFrameForPhoto =
    QStringLiteral("视频切换中，请等摄像头准备就绪了再进行拍摄，谢谢......");

const char kToolButtonStyle[] =
    "border:1px groove gray;border-radius:3px;padding:2px 4px;background-image: url(%1/%2);"
    "background-repeat: no-repeat;background-position: top ;";
const char kNewestStyle[] =
    "border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:red;";
const char kPreviousStyle[] =
    "border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:transparent";

MainWindowQCamera::DirectoryChooser &directoryChooser()
{
    static MainWindowQCamera::DirectoryChooser chooser;
    return chooser;
}

} // namespace

void MainWindowQCamera::setDirectoryChooser(DirectoryChooser chooser)
{
    directoryChooser() = std::move(chooser);
}

MainWindowQCamera::MainWindowQCamera(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindowQCamera)
{
    ui->setupUi(this);
    Config &config = *Cache::config;

    // A camera list that shrank since the settings were saved must not leave
    // the preview waiting for a camera that is not there.
    if (config.cameraIndex < 0 || config.cameraIndex >= Cache::cameras->size())
        config.cameraIndex = 0;
    if (!Cache::cameras->isEmpty()) {
        const int sizes = Cache::cameras->at(config.cameraIndex).resolutions.size();
        if (config.resolution < 0 || config.resolution >= sizes)
            config.resolution = 0;
    }

    settings = new SettingDialog(this);
    settings->hide();
    erweima = new Erweima(this);
    erweima->hide();
    idCardDialog = new IDCardDialog(this);
    idCardDialog->hide();
    imageMerging = new ImageMergingDialog(this);
    imageMerging->hide();
    pdfOrTiff = new ImageSavePDFOrTiffDialog(this);
    pdfOrTiff->hide();
    childView1 = new CameraViewDialog(this);
    childView1->hide();
    childView2 = new CameraViewDialog(this);
    childView2->hide();
    fingerDialog = new Dialog(this);
    fingerDialog->hide();

    correctionGroup = new QButtonGroup(this);
    correctionGroup->addButton(ui->rb_correction_10, 0);
    correctionGroup->addButton(ui->rb_correction_11, 1);
    correctionGroup->addButton(ui->rb_correction_12, 2);
    correctionGroup->addButton(ui->rb_correction_13, 3);
    shootingGroup = new QButtonGroup(this);
    shootingGroup->addButton(ui->rb_Shooting_10, 0);
    shootingGroup->addButton(ui->rb_Shooting_11, 1);
    shootingGroup->addButton(ui->rb_Shooting_12, 2);
    shootingGroup->addButton(ui->rb_Shooting_13, 3);
    connect(correctionGroup, &QButtonGroup::idClicked, this,
            &MainWindowQCamera::buttonGroupCorrectionClicked);
    connect(shootingGroup, &QButtonGroup::idClicked, this,
            &MainWindowQCamera::buttonGroupShootingTypeClicked);

    QCameraView *view = preview();
    connect(view, &QCameraView::sendChangeBtn2Signal, this, &MainWindowQCamera::ChangeBtn2);
    connect(view, &QCameraView::sendTakePhotoImageSignal, this, &MainWindowQCamera::takePhotoImage);
    // The sound alone is announced as it stops; shutting down adds no thumbnail.
    connect(view->recording(), &Recording::finished, this, [this](const QString &path, bool saved) {
        if (saved && !shutDownDone && path == soundPath)
            takePhotoImage(QList<QString>{path}, 1);
    });
    connect(view, &QCameraView::sendErweimaSignal, this, &MainWindowQCamera::recErweimaSignal);
    connect(view, &QCameraView::sendZhuapaiSignal, this, &MainWindowQCamera::recZhuapaiSignal);
    connect(view, &QCameraView::openCameraSignal, this, &MainWindowQCamera::openCamera);
    connect(view, &QCameraView::closeCameraSignal, this, &MainWindowQCamera::closeCamera);
    connect(view, &QCameraView::photoFailedSignal, this, &MainWindowQCamera::warnOnce);
    connect(view, &QCameraView::photoNoticeSignal, this, &MainWindowQCamera::showNotice);
    connect(&shootingTimer, &ClockTimer::timeout, this, &MainWindowQCamera::onShootingTimer);
    connect(settings, &SettingDialog::videSettingSignal, this, &MainWindowQCamera::videoSetting);
    connect(settings, &SettingDialog::reConfigVideoSettingSignal, this,
            &MainWindowQCamera::reConfigVideoSetting);
    // Saving reopens the camera: not while a mode that needs it runs.
    settings->setSaveGuard([this] { return settingsBusy(); });
    // Saved card pictures are photos: thumbnails and, when open, merging.
    connect(idCardDialog, &IDCardDialog::saveImageMergingSignals, this,
            &MainWindowQCamera::takePhotoImage);
    connect(imageMerging, &ImageMergingDialog::saveImageMergingSignals, this,
            &MainWindowQCamera::takePhotoImage);
    connect(imageMerging, &ImageMergingDialog::takePhotoSignals, this,
            &MainWindowQCamera::on_btnShooting_clicked);
    connect(imageMerging, &QDialog::finished, ui->check_image_merging_2,
            [this] { ui->check_image_merging_2->setChecked(false); });
    connect(pdfOrTiff, &ImageSavePDFOrTiffDialog::saveImageMergingSignals, this,
            &MainWindowQCamera::takePhotoImage);
    connect(pdfOrTiff, &ImageSavePDFOrTiffDialog::statusMessage, this, &MainWindowQCamera::showNotice);
    connect(pdfOrTiff, &ImageSavePDFOrTiffDialog::takePhotoSignals, this,
            &MainWindowQCamera::on_btnShooting_clicked);
    for (CameraViewDialog *child : {childView1, childView2})
        connect(child, &CameraViewDialog::closeView, this,
                &MainWindowQCamera::changePaintingResolution);
    connect(fingerDialog, &Dialog::sendFGSignals, this, &MainWindowQCamera::recFGSignals);

    for (int slot = 1; slot <= kSlots; ++slot) {
        QLabel *label = findChild<QLabel *>(QStringLiteral("pic2%1").arg(slot));
        label->installEventFilter(this);
        label->setStyleSheet(QLatin1String(kPreviousStyle));
    }
    ui->video->installEventFilter(this);
    ui->lb_video_tip->setStyleSheet(QStringLiteral(
        "background-color: rgba(20, 24, 30, 190); color: white; border-radius: 6px;"
        "padding: 4px 14px; font-size: 15px;"));

    applyIcons();
    fillCameraBox();
    ui->lbUserWorkDir_2->setText(config.documentsLocation);
    {
        const QSignalBlocker blocker(ui->tbExposure_2);
        ui->tbExposure_2->setValue(config.exposure);
    }
    ui->lb_exposure_2->setText(QString::number(ui->tbExposure_2->value()));
    changeGN();

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        fitInto(screen->availableGeometry());

    view->init(config.cameraIndex);
    showStatus(kLoadingText);
    view->reConfigVideoSetting();
}

MainWindowQCamera::~MainWindowQCamera()
{
    shutDown();
    delete ui;
}

void MainWindowQCamera::fitInto(const QRect &available)
{
    if (available.isEmpty())
        return;
    // Counter desktops often have less room than the form's natural size
    // (1366 x 768, 1280 x 720): the window then fills the screen, the
    // preview shrinks and the side panel scrolls.
    if (width() <= available.width() && height() <= available.height())
        return;
    setGeometry(available);
    setWindowState(windowState() | Qt::WindowMaximized);
}

QCameraView *MainWindowQCamera::preview() const
{
    return ui->video;
}

QString MainWindowQCamera::slotPath(int slot) const
{
    return slot >= 1 && slot <= kSlots ? thumbnailPaths[slot] : QString();
}

bool MainWindowQCamera::settingsBusy()
{
    return busy({VideoRecording, TimedShooting, Barcode, AutoCapture});
}

void MainWindowQCamera::warnOnce(const QString &text)
{
    // Failures reported from the capture thread may come in a row (timed
    // shooting); one open box at a time is enough.
    if (warningOpen)
        return;
    warningOpen = true;
    WarningBox::warning(this, kWarningTitle, text);
    warningOpen = false;
}

bool MainWindowQCamera::refuseWhileSwitching(const QString &text)
{
    if (!preview()->isSwitching())
        return false;
    WarningBox::warning(this, kWarningTitle, text);
    return true;
}

// ---------------------------------------------------------------- look

void MainWindowQCamera::applyIcons()
{
    const QString iconDir = Cache::config->appDir + QStringLiteral("/Resources/icon");
    const struct {
        QPushButton *button;
        const char *file;
    } toolButtons[] = {
        {ui->btnShooting, "icon_snap_32.png"},        {ui->btnSetting_2, "icon_setting_32.png"},
        {ui->btnShootingTime, "icon_snap_clock.png"}, {ui->btnShootingVideo, "icon_video_32_line.png"},
        {ui->btnIDCard, "icon_iccard.png"},           {ui->btnIDCard_2, "icon_fingerprint.png"},
        {ui->btnIDCard_3, "icon_code_32.png"},        {ui->btnIDCard_4, "icon_record.png"},
        {ui->btnIDCard_5, "icon_snaps_32.png"},
    };
    for (const auto &entry : toolButtons)
        entry.button->setStyleSheet(
            QString::fromLatin1(kToolButtonStyle).arg(iconDir, QLatin1String(entry.file)));

    const struct {
        QPushButton *button;
        const char *file;
    } panelButtons[] = {
        {ui->btnleft_2, "icon_rotate_left.png"},
        {ui->btnupdown_2, "icon_rotate_half.png"},
        {ui->btnright_2, "icon_rotate_right.png"},
        {ui->btnToggleDevice_2, "icon_switch_camera.png"},
        {ui->btnSecCamCon_2, "icon_pip_1.png"},
        {ui->btnSecCam1Con_2, "icon_pip_2.png"},
    };
    for (const auto &entry : panelButtons)
        entry.button->setIcon(QIcon(iconDir + QLatin1Char('/') + QLatin1String(entry.file)));

    ui->lbLogo->setPixmap(QPixmap(Cache::config->appDir + QStringLiteral("/Resources/tavel.png")));
}

void MainWindowQCamera::fillCameraBox()
{
    const QSignalBlocker blocker(ui->comboBox);
    ui->comboBox->clear();
    for (const CameraInfo &camera : *Cache::cameras)
        ui->comboBox->addItem(camera.name);
    ui->comboBox->setCurrentIndex(Cache::config->cameraIndex);
    connect(ui->comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindowQCamera::changeCamera, Qt::UniqueConnection);
}

void MainWindowQCamera::changeGN()
{
    const Config &config = *Cache::config;
    ui->btnShooting->setVisible(config.gnPaizhao);
    ui->btnShootingTime->setVisible(config.gnYanshi);
    ui->btnShootingVideo->setVisible(config.gnPaishe);
    ui->btnIDCard->setVisible(config.gnShenfenz);
    ui->btnIDCard_2->setVisible(config.gnZhiwen);
    ui->btnIDCard_3->setVisible(config.gnTiaoma);
    ui->btnIDCard_4->setVisible(false);
    ui->btnIDCard_5->setVisible(config.gnZhuapai);
}

void MainWindowQCamera::showStatus(const QString &text)
{
    ui->lb_video_tip->setText(text);
    placeStatusLine();
    ui->lb_video_tip->show();
    ui->lb_video_tip->raise();
}

void MainWindowQCamera::showNotice(const QString &text)
{
    statusBar()->showMessage(text, kNoticeMs);
}

void MainWindowQCamera::hideStatus()
{
    ui->lb_video_tip->setText(kLoadingText);
    ui->lb_video_tip->hide();
}

void MainWindowQCamera::placeStatusLine()
{
    QLabel *tip = ui->lb_video_tip;
    tip->adjustSize();
    const int width = qMax(tip->width(), 320);
    tip->setGeometry((ui->video->width() - width) / 2, 16, width, qMax(tip->height(), 34));
}

bool MainWindowQCamera::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->video && event->type() == QEvent::Resize)
        placeStatusLine();
    if (event->type() == QEvent::MouseButtonPress && watched->objectName().startsWith("pic2")) {
        bool ok = false;
        const int slot = watched->objectName().mid(4).toInt(&ok);
        if (ok && slot >= 1 && slot <= kSlots && !thumbnailPaths[slot].isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(thumbnailPaths[slot]));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- camera

void MainWindowQCamera::openCamera()
{
    if (ui->cbAutoExp_2->isChecked())
        preview()->setCameraExposure(-100);
    else
        preview()->setCameraExposure(ui->tbExposure_2->value());
    if (!anyModeOn())
        hideStatus();
}

void MainWindowQCamera::closeCamera()
{
    if (!anyModeOn() && ui->lb_video_tip->isHidden())
        showStatus(kLoadingText);
}

void MainWindowQCamera::ChangeBtn2()
{
    ui->btnToggleDevice_2->setEnabled(true);
}

void MainWindowQCamera::changeCamera(int index)
{
    if (index < 0 || index >= Cache::cameras->size())
        return;
    if (busy({VideoRecording, TimedShooting}) || refuseWhilePictureInPicture()) {
        const QSignalBlocker blocker(ui->comboBox);
        ui->comboBox->setCurrentIndex(preview()->cameraIndex());
        return;
    }
    Config &config = *Cache::config;
    config.cameraIndex = index;
    config.resolution = 0;
    const QList<QSize> &sizes = Cache::cameras->at(index).resolutions;
    const QSize size = sizes.isEmpty() ? QSize() : sizes.first();
    showStatus(QStringLiteral("视频切换中，请稍候！"));
    preview()->changeCamera(index, size.width(), size.height());
}

void MainWindowQCamera::on_btnToggleDevice_2_clicked()
{
    const qint64 now = Clock::current().elapsedMs();
    if (lastToggleMs >= 0 && now - lastToggleMs < toggleDebounceMs)
        return;
    lastToggleMs = now;
    // A refused toggle leaves the button usable: no switch would re-enable it.
    if (busy({VideoRecording, TimedShooting}))
        return;
    if (refuseWhilePictureInPicture())
        return;
    const int count = Cache::cameras->size();
    if (count == 0)
        return;
    Config &config = *Cache::config;
    const int current = preview()->cameraIndex();
    int next;
    if (Cache::config->thirdDeviceMain)
        next = current == 0 ? 2 : 0;
    else
        next = (current + 1) % count;
    // With fewer than three cameras the third one does not exist.
    if (next >= count)
        next = (current + 1) % count;

    ui->btnToggleDevice_2->setEnabled(false);
    showStatus(QStringLiteral("视频切换中，请稍候！"));
    config.cameraIndex = next;
    config.fourcc = 0;
    config.resolution = 0;
    {
        const QSignalBlocker blocker(ui->comboBox);
        ui->comboBox->setCurrentIndex(next);
    }
    const QList<QSize> &sizes = Cache::cameras->at(next).resolutions;
    const QSize size = sizes.isEmpty() ? QSize() : sizes.first();
    preview()->changeCamera(next, size.width(), size.height());
}

// An open view holds a stream of its own: the main preview switching to that
// camera would be refused by the device and stay on "loading".
bool MainWindowQCamera::refuseWhilePictureInPicture()
{
    if (!childView1->isVisible() && !childView2->isVisible())
        return false;
    WarningBox::warning(this, kWarningTitle, QStringLiteral("画中画功能已经启用"));
    return true;
}

// A closing view is still visible while it reports: the main camera keeps
// its reduced size while the other view stays open.
void MainWindowQCamera::changePaintingResolution(bool painting)
{
    if (painting) {
        preview()->changeCameraResolution(true, true);
        return;
    }
    if (childView1->isVisible() && childView2->isVisible())
        return;
    preview()->changeCameraResolution(false, true);
}

void MainWindowQCamera::openChildView(CameraViewDialog *view, int which, int offsetX)
{
    if (busy({VideoRecording}))
        return;
    const int count = Cache::cameras->size();
    const Config &config = *Cache::config;
    const int position =
        count < which + 1 ? -1
                          : CameraViewDialog::childPosition(which, config.cameraIndex, count,
                                                            config.thirdDeviceMain);
    if (position < 0) {
        WarningBox::warning(this, kWarningTitle, QStringLiteral("未检测到子摄像头"));
        return;
    }
    if (view->isVisible()) {
        view->close();
        return;
    }
    view->SetCamera(position);
    view->show();
    view->move(x() + offsetX, y() + 65);
    preview()->changeCameraResolution(true, true);
}

void MainWindowQCamera::on_btnSecCamCon_2_clicked() { openChildView(childView1, 1, 10); }
void MainWindowQCamera::on_btnSecCam1Con_2_clicked() { openChildView(childView2, 2, 510); }

void MainWindowQCamera::closeChildViews()
{
    for (CameraViewDialog *child : {childView1, childView2})
        if (child->isVisible())
            child->close();
}

void MainWindowQCamera::on_btnleft_2_clicked() { preview()->setAngle(-1); }
void MainWindowQCamera::on_btnupdown_2_clicked() { preview()->setAngle(0); }
void MainWindowQCamera::on_btnright_2_clicked() { preview()->setAngle(1); }
void MainWindowQCamera::on_chMergeImage_2_toggled(bool checked) { preview()->setTakePhotoChildCamera(checked); }
void MainWindowQCamera::on_cbSaveTiffImage_2_toggled(bool checked) { preview()->setSaveImageToTiff(checked); }
void MainWindowQCamera::buttonGroupCorrectionClicked(int id) { preview()->setCameraCorrection(id); }
void MainWindowQCamera::buttonGroupShootingTypeClicked(int id) { preview()->setCameraShootType(id); }
void MainWindowQCamera::on_pushButton_2_clicked() { showMinimized(); }

void MainWindowQCamera::on_tbExposure_2_valueChanged(int value)
{
    Cache::config->exposure = value;
    ui->lb_exposure_2->setText(QString::number(value));
    preview()->setCameraExposure(value);
}

void MainWindowQCamera::on_cbAutoExp_2_toggled(bool checked)
{
    ui->tbExposure_2->setEnabled(!checked);
    preview()->setCameraExposure(checked ? -100 : ui->tbExposure_2->value());
}

// ---------------------------------------------------------------- working directory

void MainWindowQCamera::on_btnOpenUserWorkDir_2_clicked()
{
    const QString dir = Cache::config->documentsLocation;
    QDir().mkpath(dir);
    QDesktopServices::openUrl(QUrl::fromLocalFile(dir));
}

void MainWindowQCamera::on_btnSelectWorkDir_2_clicked()
{
    Config &config = *Cache::config;
    const QString chosen =
        directoryChooser()
            ? directoryChooser()(this, config.documentsLocation)
            : QFileDialog::getExistingDirectory(this, QStringLiteral("存储位置"),
                                                config.documentsLocation);
    if (chosen.isEmpty())
        return;
    {
        QMutexLocker textsLocked(&config.textMutex());
        config.documentsLocation = QDir::cleanPath(chosen);
    }
    config.save();
    ui->lbUserWorkDir_2->setText(config.documentsLocation);
}

// ---------------------------------------------------------------- shooting

void MainWindowQCamera::on_btnShooting_clicked()
{
    if (busy({TimedShooting, VideoRecording, Barcode, SoundRecording, AutoCapture}))
        return;
    if (refuseWhileSwitching(kNoFrameForPhoto))
        return;
    if (!takePhotoWithChildren())
        WarningBox::warning(this, kWarningTitle, kNoFrameForPhoto);
}

void MainWindowQCamera::onShootingTimer()
{
    // A camera that is away skips its ticks; timed shooting goes on.
    if (preview()->isSwitching() || !takePhotoWithChildren())
        qDebug() << "timed photo skipped: no live frame";
}

bool MainWindowQCamera::takePhotoWithChildren()
{
    // The insets are made full size on the capture thread, not here.
    const ChildPicture child1 = childView1->childPicture();
    const ChildPicture child2 = childView2->childPicture();
    // An open view whose camera went away has no picture to give: the photo
    // goes without it rather than with one from before.
    const bool missing1 = childView1->isVisible() && child1.shown.isNull();
    const bool missing2 = childView2->isVisible() && child2.shown.isNull();
    if (!preview()->setTakePhotoCammond(child1, child2, childView1->isVisible() && !missing1,
                                        childView2->isVisible() && !missing2))
        return false;
    if (missing1 || missing2)
        showNotice(kChildCameraAway);
    return true;
}

void MainWindowQCamera::on_btnShootingTime_clicked()
{
    toggleMode(TimedShooting, ModeActions{
        [this] {
            closeDocumentDialogs();
            return true;
        },
        [this] { shootingTimer.start(qMax(1, Cache::config->shootingTime) * 1000); },
        [this] {
            closeDocumentDialogs();
            shootingTimer.stop();
        },
        {}});
}

void MainWindowQCamera::on_btnShootingVideo_clicked()
{
    toggleMode(VideoRecording, ModeActions{
        [this] {
            closeDocumentDialogs();
            closeChildViews();
            const QString path = preview()->recordBegin();
            if (path.isEmpty())
                return false;
            videoPath = path;
            return true;
        },
        {},
        [this] { preview()->recordEnd(videoPath); },
        {}});
}

void MainWindowQCamera::on_btnIDCard_3_clicked()
{
    toggleMode(Barcode, ModeActions{
        [this] {
            if (erweima->isVisible())
                erweima->close();
            closeDocumentDialogs();
            closeChildViews();
            return true;
        },
        [this] { preview()->shiErweima(); },
        [this] { preview()->guanErweima(); },
        {}});
}

void MainWindowQCamera::recErweimaSignal(QImage frame)
{
    if (!isModeOn(Barcode))
        return;
    const QString result = BarcodeReader::decode(frame);
    if (result.isEmpty())
        return;
    setModeOn(Barcode, false);
    preview()->guanErweima();
    ui->btnIDCard_3->setText(QStringLiteral("\n\n条码"));
    ui->lb_video_tip->setText(QStringLiteral("条码识别中，请稍候......"));
    ui->lb_video_tip->hide();
    connect(this, &MainWindowQCamera::sendTCData, erweima, &Erweima::receiveTCData,
            Qt::UniqueConnection);
    if (erweima->isHidden())
        erweima->show();
    emit sendTCData(result);
}

void MainWindowQCamera::on_btnIDCard_5_clicked()
{
    toggleMode(AutoCapture, ModeActions{[] { return true; },
                                        [this] { preview()->shiZhuapai(); },
                                        [this] { preview()->guanZhuapai(); },
                                        {}});
}

void MainWindowQCamera::recZhuapaiSignal(QImage)
{
    // The preview's watcher takes the photo itself; nothing to show per frame.
}

void MainWindowQCamera::on_btnIDCard_4_clicked()
{
    toggleMode(SoundRecording, ModeActions{
        [this] {
            // The preview's recorder: the one "arecord" of the station. It
            // shows its own failures and announces the file it saved.
            const QString path = preview()->recording()->beginSound();
            if (path.isEmpty())
                return false;
            soundPath = path;
            return true;
        },
        [] { qDebug() << "record begin!"; },
        [this] {
            preview()->recording()->end();
            qDebug() << "record end!";
        },
        {}});
}

// ---------------------------------------------------------------- dialogs

void MainWindowQCamera::on_btnSetting_2_clicked()
{
    if (settingsBusy())
        return;
    settings->init();
    settings->show();
    settings->raise();
}

void MainWindowQCamera::videoSetting()
{
    preview()->videoSettingOpenWindow();
}

void MainWindowQCamera::reConfigVideoSetting()
{
    preview()->reConfigVideoSetting();
    preview()->setCameraExposure(Cache::config->exposure);
    {
        const QSignalBlocker blocker(ui->tbExposure_2);
        ui->tbExposure_2->setValue(Cache::config->exposure);
    }
    ui->lb_exposure_2->setText(QString::number(ui->tbExposure_2->value()));
    changeGN();
}

void MainWindowQCamera::on_btnIDCard_clicked()
{
    if (busy({VideoRecording, TimedShooting})) {
        idCardDialog->close();
        return;
    }
    idCardDialog->show();
    idCardDialog->init();
}

void MainWindowQCamera::on_btnIDCard_2_clicked()
{
    if (busy({VideoRecording, TimedShooting})) {
        fingerDialog->close();
        return;
    }
    fingerDialog->show();
    fingerDialog->init();
}

void MainWindowQCamera::recFGSignals(QPixmap) {}

void MainWindowQCamera::on_check_image_merging_2_clicked(bool checked)
{
    if (!checked) {
        imageMerging->close();
        return;
    }
    if (busy({VideoRecording, TimedShooting})) {
        ui->check_image_merging_2->setChecked(false);
        return;
    }
    openMergingDialog();
}

void MainWindowQCamera::on_pushButton_clicked()
{
    if (busy({VideoRecording, TimedShooting}))
        return;
    openMergingDialog();
}

void MainWindowQCamera::openMergingDialog()
{
    imageMerging->init();
    imageMerging->show();
    imageMerging->raise();
    const QSignalBlocker blocker(ui->check_image_merging_2);
    ui->check_image_merging_2->setChecked(true);
}

void MainWindowQCamera::on_btnSavePdfTiff_clicked()
{
    if (busy({VideoRecording, TimedShooting}))
        return;
    pdfOrTiff->init();
    pdfOrTiff->show();
    pdfOrTiff->raise();
}

void MainWindowQCamera::closeDocumentDialogs()
{
    if (imageMerging->isVisible())
        imageMerging->close();
    if (pdfOrTiff->isVisible())
        pdfOrTiff->close();
}

// ---------------------------------------------------------------- thumbnails

void MainWindowQCamera::showThumbnail(int slot, const QString &path)
{
    QLabel *label = findChild<QLabel *>(QStringLiteral("pic2%1").arg(slot));
    const QString extension = QFileInfo(path).suffix().toLower();
    const QString resources = Cache::config->appDir + QStringLiteral("/Resources/");
    QPixmap picture;
    if (extension == QLatin1String("pdf"))
        picture.load(resources + QStringLiteral("pdf.png"));
    else if (extension == QLatin1String("tiff"))
        picture.load(resources + QStringLiteral("tiff.png"));
    else if (extension == QLatin1String("avi"))
        picture.load(resources + QStringLiteral("recored.png"));
    else if (extension == QLatin1String("wav"))
        picture.load(resources + QStringLiteral("icon/icon_record.png"));
    label->setScaledContents(true);
    label->setToolTip(QDir::toNativeSeparators(path));
    thumbnailPaths[slot] = path;
    if (!picture.isNull()) {
        label->setPixmap(picture);
        return;
    }
    // A photo is decoded off the window's thread; the slot may hold a newer
    // file by the time its picture is ready.
    picturethumbnail::load(path, QSize(200, 200), label, [this, slot, path, label](const QImage &shown) {
        if (thumbnailPaths[slot] == path)
            label->setPixmap(QPixmap::fromImage(shown));
    });
}

void MainWindowQCamera::takePhotoImage(QList<QString> paths, int type)
{
    if (paths.isEmpty())
        return;
    // Photos and card pictures (kind 0) feed the open merging and export
    // dialogs; the files those dialogs write (kind 1) only become thumbnails.
    if (type == 0) {
        if (imageMerging->isVisible())
            imageMerging->setImage(paths);
        if (pdfOrTiff->isVisible())
            pdfOrTiff->setImage(paths);
    }
    const int firstSlot = nextThumbnailSlot;
    int lastSlot = firstSlot;
    for (const QString &path : paths) {
        showThumbnail(nextThumbnailSlot, path);
        lastSlot = nextThumbnailSlot;
        nextThumbnailSlot = nextThumbnailSlot % kSlots + 1;
    }
    const int previousSlot = firstSlot == 1 ? kSlots : firstSlot - 1;
    findChild<QLabel *>(QStringLiteral("pic2%1").arg(previousSlot))
        ->setStyleSheet(QLatin1String(kPreviousStyle));
    findChild<QLabel *>(QStringLiteral("pic2%1").arg(lastSlot))
        ->setStyleSheet(QLatin1String(kNewestStyle));
}

// ---------------------------------------------------------------- shutdown

void MainWindowQCamera::shutDown()
{
    if (shutDownDone)
        return;
    shutDownDone = true;
    shootingTimer.stop();
    setModeOn(TimedShooting, false);
    if (isModeOn(VideoRecording)) {
        setModeOn(VideoRecording, false);
        preview()->recordEnd(videoPath);
    }
    if (isModeOn(SoundRecording)) {
        setModeOn(SoundRecording, false);
        preview()->recording()->endQuietly();
    }
    if (isModeOn(AutoCapture)) {
        setModeOn(AutoCapture, false);
        preview()->guanZhuapai();
    }
    childView1->preview()->stop();
    childView2->preview()->stop();
    preview()->stop();
}

void MainWindowQCamera::closeEvent(QCloseEvent *event)
{
    shutDown();
    emit closed();
    QMainWindow::closeEvent(event);
}
