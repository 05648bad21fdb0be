#include "dialog.h"
#include "ui_dialog.h"

#include "base64.h"
#include "fingercapturethread.h"

#include <QDebug>
#include <QImage>
#include <QMutexLocker>
#include <QVector>

#include <cstring>
#include <memory>

namespace {

// Colour table of an 8-bit grey image: entry v is opaque grey v.
const QVector<QRgb> &greyTable()
{
    static const QVector<QRgb> table = [] {
        QVector<QRgb> colours(256);
        for (int v = 0; v < 256; ++v)
            colours[v] = qRgb(v, v, v);
        return colours;
    }();
    return table;
}

// The NUL-terminated device text of an enumerated record.
QString deviceText(const _XUSBDevice &device)
{
    return QString::fromLocal8Bit(device.info, int(strnlen(device.info, sizeof device.info)));
}

} // namespace

Dialog::Dialog(QWidget *parent) : QDialog(parent), ui(new Ui::Dialog)
{
    ui->setupUi(this);
}

Dialog::~Dialog()
{
    if (handle) {
        stopCapture();
        sensor.sensorClose(handle);
        finger.free();
        handle = nullptr;
    }
    store.close();
    delete ui;
}

void Dialog::init()
{
    enumDevices();
    openDevice();
}

void Dialog::showMessage(const QString &text)
{
    ui->textEdit->setPlainText(text);
}

int Dialog::typedId() const
{
    return ui->lineEdit->text().toInt();
}

void Dialog::leaveEnrolment()
{
    registering = false;
    pressCount = 0;
}

// ------------------------------------------------------------------ buttons

void Dialog::on_btnEnum_clicked()
{
    enumDevices();
}

void Dialog::on_btnOpen_clicked()
{
    openDevice();
}

void Dialog::on_btnClose_clicked()
{
    closeDevice();
}

void Dialog::enumDevices()
{
    ui->comboBox->clear();
    const int found = sensor.sensorEnmuDevices(devices, kMaxDevices);
    deviceCount = found < 0 ? 0 : (found > kMaxDevices ? kMaxDevices : found);
    for (int i = 0; i < deviceCount; ++i)
        ui->comboBox->addItem(QStringLiteral("%1_%2_%3")
                                  .arg(devices[i].vid)
                                  .arg(devices[i].pid)
                                  .arg(deviceText(devices[i])));
    if (deviceCount == 0)
        showMessage(QStringLiteral("找不到设备!"));
}

void Dialog::openDevice()
{
    if (handle) {
        showMessage(QStringLiteral("设备已连接!"));
        return;
    }
    const int selected = ui->comboBox->currentIndex();
    if (selected < 0 || selected >= deviceCount) {
        showMessage(QStringLiteral("请选择设备!"));
        return;
    }
    handle = sensor.sensorOpen(&devices[selected]);
    if (!handle) {
        showMessage(QStringLiteral("设备连接失败!"));
        return;
    }
    leaveEnrolment();
    imageWidth = sensor.sensorGetParameter(handle, SENSOR_PARAM_WIDTH);
    imageHeight = sensor.sensorGetParameter(handle, SENSOR_PARAM_HEIGHT);
    // A sensor that reports no image size cannot feed the algorithm either.
    if (imageWidth <= 0 || imageHeight <= 0 || !finger.init(imageWidth, imageHeight)) {
        sensor.sensorClose(handle);
        handle = nullptr;
        showMessage(QStringLiteral("初始化算法失败!"));
        return;
    }
    image.assign(std::size_t(imageWidth) * std::size_t(imageHeight), 0);
    loadStoredTemplates();
    showMessage(QStringLiteral("连接成功!"));
    startCapture();
}

// Every stored row goes into the algorithm's database; a row whose text is
// not a template is left out and logged, never added half-decoded.
void Dialog::loadStoredTemplates()
{
    if (!store.open())
        return;
    QVector<_TemplateInfo *> rows;
    store.query(rows);
    for (_TemplateInfo *row : rows) {
        std::unique_ptr<_TemplateInfo> owned(row);
        std::vector<unsigned char> bytes;
        if (!base64::decode(row->text.constData(), row->text.size(), bytes) || bytes.empty() ||
            bytes.size() > std::size_t(QXFinger10::kTemplateCapacity)) {
            qDebug() << "fingerprint store: skipped id" << row->id << "- its template text does not decode";
            continue;
        }
        if (finger.dbAdd(row->id, int(bytes.size()), bytes.data()) < 1)
            qDebug() << "fingerprint store: the algorithm refused the template of id" << row->id;
    }
}

void Dialog::closeDevice()
{
    if (!handle) {
        showMessage(QStringLiteral("设备未连接!"));
        return;
    }
    stopCapture();
    sensor.sensorClose(handle);
    finger.free();
    handle = nullptr;
    std::vector<unsigned char>().swap(image);
    showMessage(QStringLiteral("断开连接成功!"));
}

void Dialog::on_btnRegister_clicked()
{
    if (!handle) {
        showMessage(QStringLiteral("设备未连接!"));
        return;
    }
    if (registering)
        return;
    const int id = typedId();
    if (id < 1) {
        showMessage(QStringLiteral("无效指纹ID,ID必须>0!"));
        return;
    }
    if (store.open() && store.isExist(id)) {
        showMessage(QStringLiteral("当前ID已经登记!"));
        return;
    }
    enrolId = id;
    pressCount = 0;
    registering = true;
    showMessage(QStringLiteral("请按压同一手指3次!"));
}

void Dialog::on_btnDelete_clicked()
{
    if (!handle) {
        showMessage(QStringLiteral("设备未连接!"));
        return;
    }
    const int id = typedId();
    if (id < 1) {
        showMessage(QStringLiteral("无效指纹ID,ID必须>0!"));
        return;
    }
    if (store.open() && !store.isExist(id)) {
        showMessage(QStringLiteral("当前ID未登记!"));
        return;
    }
    // The store goes first: a finger revoked only in memory would be
    // identified again after a restart.
    if (store.open() && !store.del(id)) {
        showMessage(QStringLiteral("删除失败，指纹库未能更新!"));
        return;
    }
    {
        QMutexLocker lock(&algorithmMutex);
        finger.dbDel(id);
    }
    showMessage(QStringLiteral("删除完成!"));
}

void Dialog::on_btnClear_clicked()
{
    if (!handle) {
        showMessage(QStringLiteral("设备未连接!"));
        return;
    }
    if (store.open() && !store.clear()) {
        showMessage(QStringLiteral("清空失败，指纹库未能更新!"));
        return;
    }
    {
        QMutexLocker lock(&algorithmMutex);
        finger.dbClear();
    }
    showMessage(QStringLiteral("清空完成!"));
}

// ------------------------------------------------------------------ capture

void Dialog::startCapture()
{
    const int width = imageWidth;
    const int height = imageHeight;
    const auto extract = [this, width, height](const QByteArray &captured) {
        QByteArray picture = captured;   // the algorithm takes a writable buffer
        unsigned char templ[QXFinger10::kTemplateCapacity] = {};
        QMutexLocker lock(&algorithmMutex);
        const int length = finger.extract2(reinterpret_cast<unsigned char *>(picture.data()), width,
                                           height, templ, int(sizeof templ));
        return length > 0 ? QByteArray(reinterpret_cast<const char *>(templ), length) : QByteArray();
    };
    captureThread = std::make_unique<FingerCaptureThread>(sensor, handle, int(image.size()),
                                                          kCaptureIntervalMs, extract);
    connect(captureThread.get(), &FingerCaptureThread::captured, this, &Dialog::onCapture,
            Qt::BlockingQueuedConnection);
    captureThread->begin();
}

void Dialog::stopCapture()
{
    captureThread.reset();
}

void Dialog::onCapture(QByteArray captured, QByteArray extracted)
{
    // An image still on its way when the sensor closed belongs to no one.
    if (!handle || image.empty() || std::size_t(captured.size()) != image.size())
        return;
    std::memcpy(image.data(), captured.constData(), image.size());
    showImage();
    const int length = int(extracted.size());
    if (length <= 0 || length > QXFinger10::kTemplateCapacity)
        return;
    unsigned char templ[QXFinger10::kTemplateCapacity] = {};
    std::memcpy(templ, extracted.constData(), std::size_t(length));
    if (registering)
        enrolStep(templ, length);
    else
        identifyStep(templ);
}

void Dialog::showImage()
{
    QImage grey(image.data(), imageWidth, imageHeight, imageWidth, QImage::Format_Indexed8);
    grey.setColorTable(greyTable());
    const QPixmap scaled = QPixmap::fromImage(grey).scaled(ui->labelImage->size(), Qt::KeepAspectRatio,
                                                           Qt::SmoothTransformation);
    ui->labelImage->setPixmap(scaled);
    emit sendFGSignals(scaled);
}

void Dialog::enrolStep(unsigned char *templ, int length)
{
    int matchedId = 0;
    int score = 0;
    if (finger.dbIdentify(templ, &matchedId, &score) > 0) {
        showMessage(QStringLiteral("登记失败，当前手指已登记！"));
        leaveEnrolment();
        return;
    }
    if (pressCount > 0 && finger.verify(pressTemplates[pressCount - 1], templ) < QXFinger10::kMatchThreshold) {
        showMessage(QStringLiteral("登记失败，请按压同一个手指."));
        leaveEnrolment();
        return;
    }
    std::memcpy(pressTemplates[pressCount], templ, std::size_t(qMin(length, QXFinger10::kTemplateCapacity)));
    ++pressCount;
    if (pressCount < kPresses) {
        showMessage(QStringLiteral("您还需要按压%1次手指.").arg(kPresses - pressCount));
        return;
    }

    leaveEnrolment();
    unsigned char *presses[kPresses] = {pressTemplates[0], pressTemplates[1], pressTemplates[2]};
    unsigned char enrolled[QXFinger10::kTemplateCapacity] = {};
    const int enrolledLength = finger.genRegTemplate(presses, kPresses, enrolled);
    if (enrolledLength < 1) {
        showMessage(QStringLiteral("生成登记模板失败，错误代码 = %1").arg(enrolledLength));
        return;
    }
    const int added = finger.dbAdd(enrolId, enrolledLength, enrolled);
    if (added < 1) {
        showMessage(QStringLiteral("添加指纹失败，错误代码 = %1").arg(added));
        return;
    }
    if (store.open()) {
        const int storedLength = qMin(enrolledLength, QXFinger10::kTemplateCapacity);
        const std::string text = base64::encodeUnbroken(enrolled, storedLength);
        if (!store.add(enrolId, QString::fromLatin1(text.data(), int(text.size())))) {
            // Kept only in memory the finger would be lost at the next start
            // while the clerk believes it enrolled.
            finger.dbDel(enrolId);
            showMessage(QStringLiteral("登记失败，指纹未能保存!"));
            return;
        }
    }
    showMessage(QStringLiteral("登记成功，指纹ID:%1").arg(enrolId));
}

void Dialog::identifyStep(unsigned char *templ)
{
    int id = 0;
    int score = 0;
    if (finger.dbIdentify(templ, &id, &score) >= 1)
        showMessage(QStringLiteral("识别成功，指纹id=%1, 分数=%2").arg(id).arg(score));
    else
        showMessage(QStringLiteral("识别失败"));
}
