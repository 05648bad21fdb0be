#pragma once

#include "cameracapture.h"
#include "childpicture.h"
#include "fullsizeframe.h"
#include "threadsafety.h"
#include "threadstopper.h"

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QThread>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<QImage>)

// One camera's capture-and-processing thread: grabs frames, runs them through
// the document pipeline and the user rotation, publishes them by signal, and
// takes photos on request.
class ImageProcessing : public QThread
{
    Q_OBJECT
public:
    explicit ImageProcessing(QObject *parent = nullptr);
    ~ImageProcessing() override;

    Mutex pushedFrameMutex;
    QImage pushedFrame GUARDED_BY(pushedFrameMutex);
    cv::VideoWriter *videoWriter = nullptr;
    double zoomValue = 1.0;
    CameraCapture capture;
    // Read it through currentFrame(); empty while the live picture is reduced
    // (decoded in full on demand).
    cv::Mat frame GUARDED_BY(frameMutex);
    std::atomic<bool> running{false};
    std::atomic<bool> cameraOpen{false};
    int cameraListIndex = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    int angle = 0;
    std::atomic<bool> resolutionChanged{false};
    std::atomic<bool> restartRequested{false};
    std::atomic<bool> photoRequested{false};
    // The owner closed the camera; the loop releases it and reopens nothing.
    std::atomic<bool> closeRequested{false};
    int correction = 0;
    int erweima = 0;
    int shootType = 0;
    bool childCamera = false;
    QImage childImage1;
    QImage childImage2;
    bool useChildImage1 = false;
    bool useChildImage2 = false;
    bool saveImageToTiff = false;
    int webWidth = 640;
    int webHeight = 480;
    // The largest preview canvas side: each frame is drawn on a canvas of
    // this size, whatever a page asks for.
    static constexpr int kMaxWebSide = 4096;
    std::vector<cv::Point> largestContour;
    std::vector<std::vector<cv::Point>> documentContours;
    // Frontal-face cascade of this camera alone: OpenCV's classifier must not
    // run on two threads at once. Used under faceMutex.
    cv::CascadeClassifier faceClassifier;

    // This camera's last detected face region, enlarged by 200 pixels on
    // every side; read by its own photo taking, so a second camera's frames
    // never move or clear the main photo's face. Zero until a face is found.
    cv::Rect objectFaceNow() const EXCLUDES(faceMutex);
    void setObjectFace(const cv::Rect &face) EXCLUDES(faceMutex);
    // Faces on `grey` with this camera's classifier; also called off the
    // capture thread (kept pictures, web capture).
    std::vector<cv::Rect> detectFaces(const cv::Mat &grey, cv::Size smallest, cv::Size largest)
        EXCLUDES(faceMutex);

    // The last frame at the camera's full size, a shallow copy taken under
    // the frame lock: the loop replaces `frame` with a new matrix each pass
    // and never writes into one a reader may hold. A frame the live path
    // decoded reduced is decoded in full here, once.
    cv::Mat currentFrame() const EXCLUDES(frameMutex);
    // The same frame not yet decoded, for a reader that decodes it on a
    // thread of its own; null without a frame.
    std::shared_ptr<FullSizeFrame> currentFullSizeFrame() const EXCLUDES(frameMutex);
    // Replaces the current frame as the loop does (tests and pushed frames use it).
    void setCurrentFrame(const cv::Mat &fresh) EXCLUDES(frameMutex);
    void setCurrentFrame(std::shared_ptr<FullSizeFrame> fresh) EXCLUDES(frameMutex);

    // Size of the preview widget showing this camera's frames; an empty size
    // when none does (then only the web canvas, or full size, counts).
    void setPreviewSize(QSize size);
    // The size a live picture of a `full`-sized frame must have to look as
    // sharp as the full frame where it is shown: the preview widget at its
    // zoom, the web canvas at its zoom, turned with the user rotation. An
    // empty size when it must be the full frame (nothing said what is
    // shown, or barcode reading wants the camera's own pixels).
    cv::Size liveSizeNeeded(cv::Size full) const;

    static QImage MatQImage(const cv::Mat &mat);
    static cv::Mat QImageToMat(QImage image);

    void openCamara();
    // On the capture thread (or with the loop stopped) the camera is released
    // here; from the owner's thread the camera counts as closed at once and
    // the loop releases it, so the owner never waits for the read in flight.
    // Either way it stays closed until the owner asks for it again.
    void closeCamara(bool unused);
    // The camera at `index` reopened by the loop, the owner not waiting.
    void requestCameraSwitch(int index);
    void videoParameterSettings();
    void reConfigVideoSetting();
    void setCameraResolution(QSize size);
    void setCameraRNAgain(QSize size);
    void setFrameWidth(int width);
    void setFrameHeight(int height);
    void setFrameWidthAndHeight(int width, int height);
    // -100 asks for automatic exposure; any other value switches the camera
    // to manual exposure and sets it as brightness.
    static constexpr int kAutomaticExposure = -100;
    static constexpr double kExposureManual = 1.0;
    static constexpr double kExposureAutomatic = 3.0;
    void setCameraExposure(int value);
    void setAngle(int step);
    void setZoomValue(double delta);
    void setWebSize(int w, int h);
    void setCameraCorrection(int value);
    void setErweima(int value);
    void setCameraShootType(int value);
    void setTakePhotoChildCamera(bool value);
    void setSaveImageToTiff(bool value);
    // Requests a photo of the next pass; false (nothing requested) while the
    // camera is closed or delivers no frames.
    bool setTakePhotoCammond(QImage child1, QImage child2, bool use1, bool use2);
    // The same with second-camera pictures made full size on this thread,
    // when it takes the photo.
    bool setTakePhotoCammond(ChildPicture child1, ChildPicture child2, bool use1, bool use2)
        EXCLUDES(childPicturesMutex);
    bool hasLiveFrame() const;

    QImage handleQImage(QImage image);
    QImage handleAngleQImage(QImage image, int angleCode);

    // What the loop makes of each grabbed frame before rotation: the live
    // document pipeline and the conversion to a picture. `reduction` tells
    // a frame decoded at 1/2, 1/4 or 1/8 of the camera's size.
    QImage processLiveFrame(const cv::Mat &grabbed, int reduction = 1);
    // The newest live picture as it would look at the camera's full size
    // (processed and rotated like a published frame); null when the live
    // picture already is full size, or there is no frame. For pictures
    // that are kept, such as insets.
    QImage fullSizeLiveImage();

    // Document pipeline. On a picture at 1/reduction of the camera's size
    // the same sheets and faces are found, and the published outlines and
    // face region are in the camera's own pixels.
    std::vector<cv::RotatedRect> findSquares(const cv::Mat &image);
    std::vector<cv::RotatedRect> handleMat(const cv::Mat &src, cv::Mat &dst, bool live,
                                           int reduction = 1);
    QImage cutOutDocument(const cv::Mat &processed, const cv::RotatedRect &rect);
    QImage cutOutFace(const cv::Mat &processed);
    void toWhiteBackgroup(const cv::Mat &src, cv::Mat &dst);

    // Photo taking.
    void takePhoto();
    // The same, also handing the written paths to a caller that answers
    // with the photo itself (the request endpoint's grab).
    QList<QString> takePhotoPaths();

    // Web capture and Base64.
    bool takePhotoByWeb(QString path, int quality, int angle, int unused);
    QString takePhotoByWebBase64(int quality, int angle, int extra);
    QString fileToBase64(QString path);
    QString image2Data(QImage image);
    std::string Mat2Base64(const cv::Mat &mat);
    std::string base64Encode(const unsigned char *bytes, int length);

public slots:
    void readFarme(QImage image);
    void begin();
    void end();

signals:
    void sendFarmeSignal(QImage image);
    void sendImageBase64Signal(QString base64);
    void sendTakePhotoImageSignal(QList<QString> paths, int type);
    void sendTakePhotoImageSignal(std::vector<QImage> images, QList<QString> paths, int type);
    void closeCameraSignal();
    void openCameraSignal();
    void sendChangeBtn2Signal();
    // A requested photo was not taken or not written; the text says why.
    void sendPhotoFailedSignal(QString text);
    // Something the user should know about a photo that is no failure
    // (blank pages left out); meant for the status bar.
    void sendPhotoNoticeSignal(QString text);

protected:
    void run() override;

private:
    void runOnePass();
    void publishFrame(const cv::Mat &grabbed, int reduction);
    // Paths of a photo taken off the capture thread; the loop delivers them.
    void deliverPhotoPaths(const QList<QString> &paths) EXCLUDES(pendingPathsMutex);
    void resolveChildPictures() EXCLUDES(childPicturesMutex);
    void flushPendingPhotoPaths() EXCLUDES(pendingPathsMutex);

    mutable Mutex faceMutex;
    cv::Rect objectFace GUARDED_BY(faceMutex);

    // Keeps a frame the loop read, unless the camera was closed or reopened
    // since the read began (`generation`); false then.
    bool keepLiveFrame(std::shared_ptr<FullSizeFrame> fresh, quint64 generation) EXCLUDES(frameMutex);
    // Marks the camera open or closed; either ends the claim of a read under way.
    void setCameraState(bool open) EXCLUDES(frameMutex);
    quint64 cameraGenerationNow() const EXCLUDES(frameMutex);

    mutable Mutex frameMutex;
    std::shared_ptr<FullSizeFrame> keptFrame GUARDED_BY(frameMutex);   // with `frame`
    // Counts the camera's openings and closings.
    quint64 cameraGeneration GUARDED_BY(frameMutex) = 0;
    std::atomic<int> previewWidth{0};
    std::atomic<int> previewHeight{0};
    ThreadStopper stopper{running};
    Mutex childPicturesMutex;
    ChildPicture childPicture1 GUARDED_BY(childPicturesMutex);
    ChildPicture childPicture2 GUARDED_BY(childPicturesMutex);
    Mutex pendingPathsMutex;
    QList<QList<QString>> pendingPhotoPaths GUARDED_BY(pendingPathsMutex);
};
