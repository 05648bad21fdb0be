// The service window: construction, the logo and its use mark, dragging,
// the capture threads' frames and the WebSocket clients.
#include "formsystemtray.h"
#include "ui_formsystemtray.h"

#include "accesspolicy.h"
#include "cache.h"
#include "config.h"
#include "demolauncher.h"
#include "httpendpoint.h"
#include "iamgezhuapai.h"
#include "idleclientwatch.h"
#include "imageprocessing.h"
#include "logtext.h"
#include "recording.h"
#include "threadstopper.h"
#include "websocketgate.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDesktopWidget>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QScreen>
#include <QTcpServer>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

// Upper bound for waiting on a thread that is finishing its last pass.
constexpr int kStopGraceMs = 3000;

} // namespace

FormSystemTray::FormSystemTray(QWidget *parent)
    : QDialog(parent), ui(new Ui::FormSystemTray)
{
    Config &config = *Cache::config;
    // A small frameless logo above every other window.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    accessPolicy = new AccessPolicy(config);
    buildForm();
    logo = QPixmap(config.appDir + QStringLiteral("/Resources/tavel.png"));
    if (!logo.isNull())
        logo = logo.scaledToHeight(32, Qt::SmoothTransformation);
    // The logo is a word mark; the window is too small for the words, so it
    // shows the square mark at its left.
    if (logo.width() > width())
        logo = logo.copy(0, 0, logo.height(), logo.height());
    ui->label->setAlignment(Qt::AlignCenter);
    ui->label->setStyleSheet(QStringLiteral("background-color:transparent"));
    showLogo();
    placeBottomRight();
    // The WebSocket server, behind the gate that checks each handshake.
    if (config.webSocketMode) {
        webSocketServer = new QWebSocketServer(QStringLiteral("server"),
                                               QWebSocketServer::NonSecureMode, this);
        webSocketGate = new WebSocketGate(*webSocketServer, *accessPolicy, clients, this);
        idleClients = new IdleClientWatch(this);
        connect(idleClients, &IdleClientWatch::silent, this, &FormSystemTray::closeClient);
        connect(webSocketServer, &QWebSocketServer::newConnection, this,
                &FormSystemTray::onNewConnection);
        onStartButtonClick();
    }
    // The request endpoint.
    if (config.httpMode) {
        httpEndpoint = new HttpEndpoint(*this, *accessPolicy, this);
        httpEndpoint->start();
        tcpServer = httpEndpoint->server();
    }
    // The demo page, with this start's token so it is let in and the working
    // directory it offers for captures; opened through a launcher because
    // some desktops drop the query of a file address.
    const QString demoPage = config.appDir + QStringLiteral("/Resources/tavel-web/wsVideoDemo.html");
    if (QFileInfo::exists(demoPage)) {
        QUrl demoUrl = accessPolicy->demoPageUrl(demoPage);
        QUrlQuery demoQuery(demoUrl);
        demoQuery.addQueryItem(QStringLiteral("dir"), config.documentsLocation);
        demoUrl.setQuery(demoQuery);
        demoLauncher = std::make_unique<DemoLauncher>(demoUrl);
        QDesktopServices::openUrl(demoLauncher->url());
    }
    startCaptureThreads();
    cameraTimer = new QTimer(this);
    cameraTimer->setSingleShot(true);
    connect(cameraTimer, &QTimer::timeout, this, &FormSystemTray::applyCameraRequest);
    // Uploads.
    network = new QNetworkAccessManager(this);
    connect(network, &QNetworkAccessManager::finished, this, &FormSystemTray::replyFinished);
    uploading = false;
    // Page-driven recording.
    recorder = new Recording(*imageProcessing);
    connect(recorder, &Recording::finished, this, [this] {
        updateUseMark();
        runHeldMessages();
    });
    createDialogs();
}

FormSystemTray::~FormSystemTray()
{
    delete recorder;   // finishes a recording still running
    if (autoCapture) {
        autoCapture->end();
        ThreadStopper::waitDelivering(*autoCapture, kStopGraceMs);
    }
    if (imageProcessing) {
        imageProcessing->end();
        ThreadStopper::waitDelivering(*imageProcessing, kStopGraceMs);
    }
    // Clients go before the server that reports them.
    for (QWebSocket *socket : qAsConst(clients)) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    clients.clear();
    delete ui;
    delete autoCapture;
    delete imageProcessing;
    delete accessPolicy;
}

void FormSystemTray::buildForm()
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("FormSystemTray"));
    setFixedSize(50, 50);
}

void FormSystemTray::placeBottomRight()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 50, 50);
    const int width = available.right() - available.left();
    const int height = available.bottom() - available.top();
    setGeometry(width - 49, height - 49, 50, 50);
}

void FormSystemTray::startCaptureThreads()
{
    imageProcessing = new ImageProcessing();
    imageProcessing->begin();
    connect(imageProcessing, &ImageProcessing::sendFarmeSignal, this,
            &FormSystemTray::updateImage, Qt::BlockingQueuedConnection);
    connect(imageProcessing, &ImageProcessing::sendImageBase64Signal, this,
            &FormSystemTray::updateImageBase64, Qt::BlockingQueuedConnection);
    connect(imageProcessing,
            static_cast<void (ImageProcessing::*)(QList<QString>, int)>(
                &ImageProcessing::sendTakePhotoImageSignal),
            this, &FormSystemTray::takePhotoImage, Qt::BlockingQueuedConnection);

    autoCapture = new IamgeZhuaPai();
    autoCapture->begin();
    connect(this, &FormSystemTray::readFarme, autoCapture, &IamgeZhuaPai::readFarme);
    connect(autoCapture, &IamgeZhuaPai::sendTakePhoto, this, &FormSystemTray::takePhoto);
}

// ---------------------------------------------------------------- logo

bool FormSystemTray::inUse() const
{
    const bool previewFlows = previewOn || (imageProcessing && imageProcessing->cameraOpen);
    return (previewFlows && !clients.isEmpty()) || (recorder && recorder->isRecording());
}

void FormSystemTray::showLogo()
{
    if (logo.isNull() && !markShown) {
        ui->label->clear();
        return;
    }
    QPixmap shown = logo.isNull() ? QPixmap(32, 32) : logo;
    if (logo.isNull())
        shown.fill(Qt::transparent);
    if (markShown) {
        QPainter painter(&shown);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(QColor(230, 0, 0));
        const int d = qMax(10, shown.height() / 3);
        painter.drawEllipse(QRectF(shown.width() - d - 1, 1, d, d));
    }
    ui->label->setPixmap(shown);
}

void FormSystemTray::updateUseMark()
{
    const bool shouldShow = inUse();
    if (shouldShow == markShown)
        return;
    markShown = shouldShow;
    showLogo();
}

// ---------------------------------------------------------------- dragging

void FormSystemTray::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragStart = event->globalPos();
        windowStart = frameGeometry().topLeft();
        dragging = true;
    }
    QDialog::mousePressEvent(event);
}

void FormSystemTray::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging)
        move(windowStart + event->globalPos() - dragStart);
    QDialog::mouseMoveEvent(event);
}

void FormSystemTray::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        dragging = false;
    QDialog::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------- servers

void FormSystemTray::onStartButtonClick()
{
    if (webSocketGate && !webSocketGate->listen(AccessPolicy::webSocketPort()))
        qDebug() << "WebSocket server not listening";
}

void FormSystemTray::onStopButtonClick()
{
    if (webSocketGate)
        webSocketGate->close();
}

bool FormSystemTray::run(const QHostAddress &address, const quint16 &port)
{
    return tcpServer && tcpServer->listen(address, port);
}

void FormSystemTray::onNewConnection()
{
    while (QWebSocket *socket = webSocketServer->nextPendingConnection()) {
        socket->setMaxAllowedIncomingMessageSize(maxIncomingMessage);
        socket->setMaxAllowedIncomingFrameSize(maxIncomingMessage);
        currentSocket = socket;
        connect(socket, &QWebSocket::textMessageReceived, this, &FormSystemTray::processTextMessage);
        connect(socket, &QWebSocket::disconnected, this, &FormSystemTray::socketDisconnected);
        clients.append(socket);
        if (idleClients)
            idleClients->watch(socket);
    }
    updateUseMark();
}

// A page that left is forgotten: no broadcast reaches a closed socket and
// its object is freed.
void FormSystemTray::socketDisconnected()
{
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (socket)
        dropClient(socket);
}

void FormSystemTray::dropClient(QWebSocket *socket)
{
    if (!clients.removeAll(socket))
        return;
    if (idleClients)
        idleClients->forget(socket);
    if (currentSocket == socket)
        currentSocket = clients.isEmpty() ? nullptr : clients.last();
    socket->disconnect(this);
    socket->deleteLater();
    updateUseMark();
}

void FormSystemTray::closeClient(QWebSocket *socket)
{
    dropClient(socket);
    socket->abort();
}

// Every connected client gets the text. A preview frame is skipped for a
// client that still has about two frames unsent, so a stalled page slows
// neither the capture thread nor the other pages; other messages are always
// queued, and a client whose queue passes maxUnsentBytes is closed.
void FormSystemTray::sendToClients(const QByteArray &utf8, bool isFrame)
{
    const QString text = QString::fromUtf8(utf8);
    QList<QWebSocket *> notReading;
    for (QWebSocket *socket : qAsConst(clients)) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            continue;
        if (isFrame && socket->bytesToWrite() > 2 * utf8.size())
            continue;
        socket->sendTextMessage(text);
        if (socket->bytesToWrite() > maxUnsentBytes)
            notReading.append(socket);
    }
    for (QWebSocket *socket : qAsConst(notReading)) {
        qDebug() << "WebSocket client does not read, closed:" << socket->bytesToWrite()
                 << "bytes unsent";
        closeClient(socket);
    }
}

void FormSystemTray::sendDataWS(QString text)
{
    sendToClients(text.toUtf8(), false);
    qDebug() << "========返回数据\n" << LogText::replySummary(text);
}

void FormSystemTray::sendDataJson(QJsonObject object)
{
    sendDataWS(QString::fromUtf8(QJsonDocument(object).toJson()));
}

void FormSystemTray::sendDataWSSon(int command, int result)
{
    sendDataJson(QJsonObject{{QStringLiteral("command"), command},
                             {QStringLiteral("result"), result}});
}

void FormSystemTray::dealSignal(QString base64)
{
    if (clients.isEmpty())
        return;
    const QJsonObject frame{{QStringLiteral("command"), 20001}, {QStringLiteral("video"), base64}};
    sendToClients(QJsonDocument(frame).toJson(), true);
}

// ---------------------------------------------------------------- frames

void FormSystemTray::updateImage(QImage image)
{
    lastFrame = image;
    if (Cache::config->autoCaptureOn)
        emit readFarme(image);
}

void FormSystemTray::updateImageBase64(QString base64)
{
    dealSignal(base64);
    updateUseMark();
}

void FormSystemTray::takePhoto()
{
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20007}});
}

void FormSystemTray::changeCamera(int index)
{
    imageProcessing->requestCameraSwitch(index);
}

void FormSystemTray::requestCamera(bool open, int index, QSize size)
{
    pendingCamera = open ? CameraRequest::Open : CameraRequest::Close;
    pendingCameraIndex = index;
    pendingCameraSize = size;
    cameraTimer->start(0);
}

void FormSystemTray::applyCameraRequest()
{
    const CameraRequest request = pendingCamera;
    pendingCamera = CameraRequest::None;
    if (request == CameraRequest::None)
        return;
    if (request == CameraRequest::Close) {
        imageProcessing->closeCamara(false);
        updateUseMark();   // the camera counts as closed from here
        return;
    }
    // The capture thread closes and reopens the camera, so the window never
    // waits for the camera to settle or open.
    imageProcessing->setFrameWidthAndHeight(qMax(0, pendingCameraSize.width()),
                                            qMax(0, pendingCameraSize.height()));
    imageProcessing->requestCameraSwitch(pendingCameraIndex);
    updateUseMark();
}

void FormSystemTray::buttonGroupCorrectionClicked(int mode)
{
    imageProcessing->setCameraCorrection(mode);
}

void FormSystemTray::on_btnShooting_clicked()
{
    imageProcessing->takePhoto();
}

void FormSystemTray::reConfigVideoSetting()
{
    imageProcessing->setCameraExposure(Cache::config->exposure);
    imageProcessing->reConfigVideoSetting();
}

void FormSystemTray::deadClose() {}
void FormSystemTray::onCleanButtonClick() {}
void FormSystemTray::onSendButtonClick() {}
void FormSystemTray::takePhotoImage(QList<QString>, int) {}
void FormSystemTray::OnUploadProgress(qint64, qint64) {}
void FormSystemTray::recImageSignal(QImage, int) {}
void FormSystemTray::newConnection() {}
void FormSystemTray::readyRead() {}
