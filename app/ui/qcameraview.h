#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <opencv2/core.hpp>

#include "childpicture.h"
#include "recording.h"

class ImageProcessing;
class IamgeZhuaPai;
class QLabel;

// The live camera preview of the desktop: owns one capture thread, paints
// each frame fitted, centred and optionally zoomed and panned, lets the user
// draw a custom crop rectangle, forwards the capture options to its thread
// and records video from the live picture.
class QCameraView : public QWidget
{
    Q_OBJECT
public:
    explicit QCameraView(QWidget *parent = nullptr);
    ~QCameraView() override;

    // Binds the preview to the camera at `index` in Cache::cameras.
    void init(int index);
    // Stops the capture and watcher threads, the recording and the sound
    // recorder; the preview shows no more frames afterwards.
    void stop();

    ImageProcessing *imageProcessing() const { return capture; }
    IamgeZhuaPai *autoCapture() const { return zhuapai; }
    int cameraIndex() const { return cameraListIndex; }
    QImage currentImage() const { return image; }
    // The current picture at the camera's full size, for keeping: the shown
    // one may have been decoded at a reduced scale.
    QImage keptImage() const;
    // The same, left to be made full size by the thread that takes a photo.
    ChildPicture keptPicture() const;
    QLabel *cropLabel() const { return selectionLabel; }
    // True from a camera (re)open until its first frame arrives.
    bool isSwitching() const { return waitingFirstFrame; }
    bool isErweimaOn() const { return erweimaOn; }
    bool isZhuapaiOn() const { return zhuapaiOn; }
    bool isRecording() const { return recorder->isRecordingVideo(); }
    int recordedFrames() const { return recorder->recordedFrames(); }
    // The station's recorder: the preview's video and the main window's sound.
    Recording *recording() const { return recorder; }
    // Frames received from the capture thread and frames painted, since
    // construction (the benchmark reads them).
    quint64 receivedFrames() const { return receiveCount; }
    quint64 paintedFrames() const { return paintCount; }

    // Forwarding to the capture thread.
    void setAngle(int step);
    void setCameraCorrection(int mode);
    void setCameraShootType(int type);
    void setTakePhotoChildCamera(bool on);
    void setSaveImageToTiff(bool on);
    void setCameraExposure(int value);
    void setCameraResolution(QSize size);
    void setCameraRNAgin(QSize size);
    // Capture size while second-camera views are open: with `painting` the
    // picture-in-picture size of the output list (main or other camera) when
    // it is narrower than the configured size, else the configured size.
    void changeCameraResolution(bool painting, bool mainCamera);
    void videoParameterSettings();
    void reConfigVideoSetting();
    void videoSettingOpenWindow();
    void changeCamera(int index, int width, int height);
    void openCamara();
    void closeCamara();
    bool setTakePhotoCammond(QImage child1, QImage child2, bool use1, bool use2);
    bool setTakePhotoCammond(ChildPicture child1, ChildPicture child2, bool use1, bool use2);

    // Barcode reading and automatic capture on/off; ignored while the camera
    // is still opening.
    void shiErweima();
    void guanErweima();
    void shiZhuapai();
    void guanZhuapai();

    // Video recording: the file being written, empty when nothing started
    // (the recorder's failures are shown as "警告").
    QString recordBegin();
    // Ends the recording begun as `path` and returns at once; the file is
    // announced (sendTakePhotoImageSignal) once it is complete, unless it was
    // not written.
    void recordEnd(QString path);

    // The recorder's feeding period and the rate the file declares agree, so
    // a recording plays as long as it was taken.
    static constexpr int writerIntervalMs = Recording::writerIntervalMs;
    static constexpr double writerFps = Recording::writerFps;

public slots:
    void updateImage(QImage frame);
    void takePhoto();
    void closeCameraSlot();
    void onZoomInImage();
    void onZoomOutImage();
    void onPresetImage();
    void locaAndZoom(int direction);

signals:
    void openCameraSignal();
    void closeCameraSignal();
    void sendChangeBtn2Signal();
    void sendTakePhotoImageSignal(QList<QString> paths, int type);
    void sendErweimaSignal(QImage frame);
    void sendZhuapaiSignal(QImage frame);
    void sendImageSignal(QImage frame, int type);
    // A requested photo was not taken or not written (the capture thread's text).
    void photoFailedSignal(QString text);
    // A note on the photos taken (the capture thread's text).
    void photoNoticeSignal(QString text);
    // Every preview frame while automatic capture runs (feeds the watcher).
    void readFarme(QImage frame);

protected:
    void paintEvent(QPaintEvent *event) override;
    // The capture thread decodes no more of each frame than this size shows.
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private slots:
    void relayPhotoPaths(QList<QString> paths, int type);

private:
    void storeSelectionGeometry();

    ImageProcessing *capture = nullptr;
    IamgeZhuaPai *zhuapai = nullptr;
    int cameraListIndex = 0;
    QImage image;
    QLabel *selectionLabel = nullptr;
    QPoint pressPoint;
    QPoint lastPoint;
    bool dragging = false;
    bool waitingFirstFrame = true;
    bool erweimaOn = false;
    bool zhuapaiOn = false;
    bool stopped = false;
    quint64 receiveCount = 0;
    quint64 paintCount = 0;

    Recording *recorder = nullptr;
    // Videos ended here whose files the recorder has not yet announced.
    QStringList videosFinishing;
};
