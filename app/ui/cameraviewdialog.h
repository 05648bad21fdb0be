#pragma once

#include <QDialog>
#include <QImage>

#include "childpicture.h"

class QCameraView;

namespace Ui {
class CameraViewDialog;
}

// A small window with the live picture of another camera of the station.
// While it is open its current picture goes with every photo of the main
// window, as an inset or as a separate photo.
class CameraViewDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CameraViewDialog(QWidget *parent = nullptr);
    ~CameraViewDialog() override;

    // Binds the view to the camera at `index` of the camera list, at the
    // reduced size for a second camera.
    void SetCamera(int index);
    // The view's current frame; null before the first one and whenever its
    // camera is not delivering.
    QImage getChildImage() const;
    // What a photo takes as this view's inset; empty while the camera is not
    // delivering. Cheap: the full-size picture is made by the photo's thread.
    ChildPicture childPicture() const;
    QCameraView *preview() const;

    // Camera list position shown by the first (`which` 1) or second (2)
    // view for the main camera at `mainIndex`; -1 when the station has no
    // camera there.
    static int childPosition(int which, int mainIndex, int cameraCount, bool thirdDeviceMain);
    Ui::CameraViewDialog *form() const { return ui; }

signals:
    void closeView(bool painting);

public slots:
    void openCamera();
    void closeCamera();
    void readFarme(QImage frame);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::CameraViewDialog *ui;
    QImage image;
};
