#pragma once

#include "dbrelate.h"
#include "fpsensor.h"
#include "qxfinger10.h"

#include <QByteArray>
#include <QDialog>
#include <QMutex>
#include <QPixmap>

#include <memory>
#include <vector>

class FingerCaptureThread;

namespace Ui {
class Dialog;
}

// The fingerprint window: picks and opens a sensor, enrols fingers under
// numeric ids with three presses each, deletes one id or all, and identifies
// every finger placed while no enrolment runs. Enrolled templates live in the
// template store and are loaded into the algorithm's database on open.
class Dialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kMaxDevices = 16;
    static constexpr int kPresses = 3;
    static constexpr int kCaptureIntervalMs = 100;

    explicit Dialog(QWidget *parent = nullptr);
    ~Dialog() override;

    // Enumerates the sensors, then opens the first one listed.
    void init();

    bool isDeviceOpen() const { return handle != nullptr; }
    bool isRegistering() const { return registering; }

public slots:
    // An image the capture thread took while a finger was there and its
    // template: shows the image and enrols or identifies the template.
    void onCapture(QByteArray captured, QByteArray templ);

    void on_btnEnum_clicked();
    void on_btnOpen_clicked();
    void on_btnClose_clicked();
    void on_btnRegister_clicked();
    void on_btnDelete_clicked();
    void on_btnClear_clicked();

signals:
    // The image just shown, scaled to the image label.
    void sendFGSignals(QPixmap picture);

private:
    void enumDevices();
    void openDevice();
    void closeDevice();
    void startCapture();
    void stopCapture();
    void loadStoredTemplates();
    void showImage();
    void enrolStep(unsigned char *templ, int length);
    void identifyStep(unsigned char *templ);
    void leaveEnrolment();
    // The id typed into the line edit; 0 when it is not a number.
    int typedId() const;
    void showMessage(const QString &text);

    Ui::Dialog *ui;
    FPSensor sensor;
    QXFinger10 finger;
    DBRelate store;

    _XUSBDevice devices[kMaxDevices] = {};
    int deviceCount = 0;

    void *handle = nullptr;
    int imageWidth = 0;
    int imageHeight = 0;
    std::vector<unsigned char> image;

    bool registering = false;
    int pressCount = 0;
    int enrolId = 0;
    unsigned char pressTemplates[kPresses][QXFinger10::kTemplateCapacity] = {};

    // Runs while the sensor is open.
    std::unique_ptr<FingerCaptureThread> captureThread;
    // The capture thread extracts while the buttons may change the
    // algorithm's database.
    QMutex algorithmMutex;
};
