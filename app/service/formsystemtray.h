#pragma once

#include <QDialog>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QNetworkReply>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class AccessPolicy;
class DemoLauncher;
class HttpEndpoint;
class IamgeZhuaPai;
class IdleClientWatch;
class ImageProcessing;
class QHostAddress;
class QLabel;
class QNetworkAccessManager;
class QTcpServer;
class QTimer;
class QWebSocket;
class QWebSocketServer;
class Recording;
class WebSocketGate;
class IDCardDialog;
class Dialog;

namespace Ui {
class FormSystemTray;
}

// The service-mode window: a 50 x 50 logo in the bottom-right corner that
// hosts the WebSocket command server and the request endpoint through which
// web pages on this machine drive the camera, the card reader and the
// fingerprint sensor. A red dot on the logo shows while a page receives the
// preview or records.
class FormSystemTray : public QDialog
{
    Q_OBJECT
public:
    explicit FormSystemTray(QWidget *parent = nullptr);
    ~FormSystemTray() override;

    bool run(const QHostAddress &address, const quint16 &port);
    void changeCamera(int index);
    void buttonGroupCorrectionClicked(int mode);
    void on_btnShooting_clicked();
    void reConfigVideoSetting();

    // Page-driven recording into `filePath`; a running recording is
    // finished first. recordEnd() without a recording does nothing; the
    // commands that follow it wait until its file is finished.
    void recordBegin(QString filePath);
    void recordEnd();
    // Posts the file to `url` as a one-part multipart form.
    void httpUploadFile(QString url, QString filePath);

    // True while a page receives the preview or records (the red dot shows).
    bool inUse() const;

    Ui::FormSystemTray *ui;
    QWebSocketServer *webSocketServer = nullptr;
    QList<QWebSocket *> clients;
    QWebSocket *currentSocket = nullptr;
    QTcpServer *tcpServer = nullptr;
    QImage lastFrame;
    QString idCardJson;
    QString lastPath;
    bool previewOn = false;
    bool dragging = false;
    QPoint dragStart;
    QPoint windowStart;
    ImageProcessing *imageProcessing = nullptr;
    IamgeZhuaPai *autoCapture = nullptr;
    QNetworkAccessManager *network = nullptr;
    bool uploading = false;
    IDCardDialog *idCardDialog = nullptr;
    Dialog *fingerDialog = nullptr;

    // Who may connect and which files a page may name; shared by both servers.
    AccessPolicy *accessPolicy = nullptr;
    WebSocketGate *webSocketGate = nullptr;
    HttpEndpoint *httpEndpoint = nullptr;
    Recording *recorder = nullptr;
    // The page that opens the demo page; removed with the window.
    std::unique_ptr<DemoLauncher> demoLauncher;

    // Unsent bytes a client may have queued before preview frames are
    // skipped for it (about two frames at the web size).
    static constexpr qint64 maxQueuedBytes = 256 * 1024;
    // A client that leaves this much unread is closed: replies are never
    // skipped, so a page that does not read would otherwise grow the station
    // without end.
    static constexpr qint64 maxUnsentBytes = 4 * 1024 * 1024;
    static constexpr qint64 maxIncomingMessage = 1024 * 1024;
    // Of an upload's reply body, what the page is told; the rest is read and dropped.
    static constexpr qint64 maxUploadReplyBytes = 64 * 1024;

signals:
    void startThread();
    void startThread2(QImage image);
    void sendTCData(QString data);
    void openCameraSignal();
    void closeCameraSignal();
    void sendErweimaSignal(QImage image);
    void sendImageSignal(QImage image, int type);
    void readFarme(QImage image);
    void closed();

public slots:
    void dealSignal(QString base64);
    void deadClose();
    void onStartButtonClick();
    void onStopButtonClick();
    void onSendButtonClick();
    void onCleanButtonClick();
    void sendDataWS(QString text);
    void sendDataJson(QJsonObject object);
    void sendDataWSSon(int command, int result);
    void recIdSignals(QString json);
    void recImageSignal(QImage image, int type);
    void newConnection();
    void readyRead();
    void recFGSignals(QPixmap pixmap);
    void updateImage(QImage image);
    void updateImageBase64(QString base64);
    void takePhotoImage(QList<QString> paths, int type);
    void takePhoto();
    void replyFinished(QNetworkReply *reply);
    void upLoadError(QNetworkReply::NetworkError code);
    void OnUploadProgress(qint64 sent, qint64 total);
    void onNewConnection();
    void processTextMessage(QString message);
    void socketDisconnected();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void buildForm();
    void placeBottomRight();
    void startCaptureThreads();
    void createDialogs();
    void showLogo();
    void updateUseMark();
    void runTextMessage(const QString &message);
    void runHeldMessages();
    void dispatchCommand(int command, const QJsonObject &request);
    void refuseCommand(int command, const QJsonObject &request);
    void startPreview(const QJsonObject &request);
    // Closing and opening a camera takes the GUI thread half a second or
    // more, so a burst of camera requests is applied once, as its last one.
    void requestCamera(bool open, int index = 0, QSize size = QSize());
    void applyCameraRequest();
    void toggleIdCardDialog();
    void toggleFingerDialog();
    // Shows `dialog` in the centre of the desktop; false when it was visible and is closed now.
    bool toggleCentred(QDialog *dialog);
    void sendToClients(const QByteArray &utf8, bool isFrame);
    void dropClient(QWebSocket *socket);
    // Drops the client and closes its connection at once.
    void closeClient(QWebSocket *socket);
    void keepUploadReply(QNetworkReply *reply);
    void takePhotoToFile(const QJsonObject &request);
    void takePhotoToBase64File(const QJsonObject &request);
    void readFileToBase64(const QJsonObject &request);
    void finishUpload(QNetworkReply *reply, const QString &result);

    enum class CameraRequest { None, Open, Close };
    CameraRequest pendingCamera = CameraRequest::None;
    int pendingCameraIndex = 0;
    QSize pendingCameraSize;
    QTimer *cameraTimer = nullptr;
    QPixmap logo;
    bool markShown = false;
    QNetworkReply *currentReply = nullptr;
    IdleClientWatch *idleClients = nullptr;
    // Page commands that came while a stopped recording was being finished,
    // in their order.
    QStringList heldMessages;
};
