#include "cameraviewdialog.h"
#include "ui_cameraviewdialog.h"

#include "qcameraview.h"

#include <QCloseEvent>

CameraViewDialog::CameraViewDialog(QWidget *parent) : QDialog(parent), ui(new Ui::CameraViewDialog)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    connect(ui->iVideo, &QCameraView::openCameraSignal, this, &CameraViewDialog::openCamera);
    connect(ui->iVideo, &QCameraView::closeCameraSignal, this, &CameraViewDialog::closeCamera);
}

CameraViewDialog::~CameraViewDialog()
{
    ui->iVideo->stop();
    delete ui;
}

QCameraView *CameraViewDialog::preview() const
{
    return ui->iVideo;
}

int CameraViewDialog::childPosition(int which, int mainIndex, int cameraCount, bool thirdDeviceMain)
{
    int position;
    if (which == 1) {
        position = mainIndex + 1 < cameraCount ? mainIndex + 1 : 0;
    } else {
        // Rows: thirdDeviceMain true / false; columns: main camera 0, 1, 2, other.
        static const int table[2][4] = {{4, 2, 0, 2}, {2, 0, 1, 1}};
        const int column = mainIndex >= 0 && mainIndex <= 2 ? mainIndex : 3;
        position = table[thirdDeviceMain ? 0 : 1][column];
    }
    return position < cameraCount ? position : -1;
}

void CameraViewDialog::openCamera()
{
    ui->label->hide();
}

void CameraViewDialog::closeCamera()
{
    ui->label->show();
}

void CameraViewDialog::readFarme(QImage) {}

void CameraViewDialog::SetCamera(int index)
{
    ui->iVideo->init(index);
    ui->iVideo->changeCameraResolution(true, false);
}

QImage CameraViewDialog::getChildImage() const
{
    // A camera that stopped delivering (unplugged, reopening) has no current
    // picture; its last one would put an old scene into new photos.
    return childPicture().resolve();
}

ChildPicture CameraViewDialog::childPicture() const
{
    if (ui->iVideo->isSwitching())
        return ChildPicture();
    return ui->iVideo->keptPicture();
}

void CameraViewDialog::closeEvent(QCloseEvent *event)
{
    ui->iVideo->closeCamara();
    event->accept();
    emit closeView(false);
}
