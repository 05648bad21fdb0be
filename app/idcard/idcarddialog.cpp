#include "idcarddialog.h"
#include "ui_idcarddialog.h"

#include "cache.h"
#include "cardreaderworker.h"
#include "cardreading.h"
#include "cardjson.h"
#include "config.h"
#include "fittedfield.h"
#include "holderphoto.h"
#include "ownerfiles.h"
#include "photonaming.h"
#include "imagefile.h"
#include "warningbox.h"
#include "watermark.h"

#include <QAction>
#include <QBuffer>
#include <QCloseEvent>
#include <QDebug>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QThread>

#include <cstdlib>
#include <cstring>

namespace {

const QString kWarningTitle = QStringLiteral("警告");
const char kPanelStyle[] =
    "border:1px groove gray;border-radius:3px;padding:2px 4px;background-image: url(%1/%2);"
    "background-repeat: no-repeat;background-position: top ;";
constexpr int kPollIntervalMs = 33;
constexpr int kSamRetryDelayMs = 100;
constexpr int kAccessorBytes = 300;

// Runs one record accessor on its own copy of the record into a zeroed
// buffer and decodes the UTF-8 result.
template <typename Record>
QString field(void (*accessor)(Record, char *), const Record &record)
{
    char out[kAccessorBytes] = {};
    accessor(record, out);
    return QString::fromUtf8(out);
}

template <typename Record>
Record recordFrom(const QByteArray &text)
{
    Record record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, text.constData(), size_t(qMin<int>(text.size(), int(sizeof record))));
    return record;
}

// The other kinds pad their fields with spaces up to the field's width.
template <typename Record> QString paddedField(void (*accessor)(Record, char *), const Record &record)
{
    return field(accessor, record).trimmed();
}

} // namespace

IDCardDialog::IDCardDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::IDCardDialog), readerTimer(new QTimer(this)),
      worker(new CardReaderWorker(this))
{
    ui->setupUi(this);
    connect(readerTimer, &QTimer::timeout, this, &IDCardDialog::onReaderTimer);
    connect(worker, &CardReaderWorker::cardRead, this, &IDCardDialog::showReading);
    spare.clear();
}

IDCardDialog::~IDCardDialog()
{
    // Only a dialog holding the reader releases the library: the other
    // window's dialog may be using it.
    if (port >= 0)
        closeDriver();
    else
        worker->stop();
    delete ui;
}

void IDCardDialog::init()
{
    spare.clear();
    initLayout();
    openDriver();
}

void IDCardDialog::initLayout()
{
    // The selector keeps the card picture off the fields lying on the panel.
    const QString style = QString::fromLatin1(kPanelStyle)
                              .arg(Cache::config->appDir + QStringLiteral("/Resources"),
                                   QStringLiteral("idcard.png"));
    ui->widget->setStyleSheet(QStringLiteral("QWidget#widget{%1}").arg(style));
}

void IDCardDialog::warnOfReader(const QString &text)
{
    if (warningsBlock)
        WarningBox::warning(this, kWarningTitle, text);
    else
        WarningBox::notify(this, kWarningTitle, text);
}

void IDCardDialog::openDriver()
{
    // A second init() while the reader is open must not leak the first port.
    if (port >= 0)
        closeDriver();

    const int readers = QXID_Init();
    if (readers <= 0) {
        warnOfReader(QStringLiteral("身份证阅读器USB初始化失败,code:%1").arg(readers));
        return;
    }
    qDebug() << "身份证阅读器数量：" << readers;
    port = QXID_OpenPort(0);
    if (port < 0) {
        warnOfReader(QStringLiteral("身份证阅读器打开失败,port:%1").arg(port));
        return;
    }
    if (QXID_GetSAMStatus(port, 0) < 0) {
        QThread::msleep(kSamRetryDelayMs);
        if (QXID_GetSAMStatus(port, 0) < 0) {
            warnOfReader(QStringLiteral("身份证阅读器不能正常读取数据,port:%1").arg(port));
            return;
        }
    }
    readerTimer->start(kPollIntervalMs);
}

void IDCardDialog::closeDriver()
{
    readerTimer->stop();
    // The port stays open until the exchange in flight has finished.
    worker->stop();
    if (port >= 0)
        QXID_ClosePort(port);
    QXID_Free();
    port = -100;
}

void IDCardDialog::onReaderTimer()
{
    readCard(port);
}

void IDCardDialog::readCard(int readerPort)
{
    worker->readAsync(readerPort);
}

void IDCardDialog::showReading(const CardReading &reading)
{
    if (!reading.complete || !readerTimer->isActive())
        return;
    unsigned char text[cardreading::kTextBytes];
    std::memcpy(text, reading.text.constData(), sizeof text);
    char type[8] = {};
    GetCardType(text, type);
    qDebug("CardType=%s\n", type);
    if (std::strcmp(type, "I") == 0) {
        qDebug("永居证件\n");
        read_reside_info(recordFrom<Treside_info>(reading.text));
    } else if (std::strcmp(type, "J") == 0) {
        qDebug("港澳台通行证\n");
        read_gangaotai_info(recordFrom<Tgangaotai_info>(reading.text));
    } else {
        qDebug("身份证\n");
        read_identfy_info(recordFrom<Tidentify_info>(reading.text));
    }
    QByteArray photo = reading.photo;
    writePhoto(reinterpret_cast<unsigned char *>(photo.data()), int(reading.photoLength));
}

void IDCardDialog::clearCard()
{
    for (QLineEdit *line : {ui->lb_name, ui->lb_sex, ui->lb_nation, ui->lb_year, ui->lb_month, ui->lb_day,
                            ui->lb_code, ui->lb_authority, ui->lb_date})
        fittedfield::setText(line, QString());
    fittedfield::setText(ui->lb_address, QString());
    ui->lb_pic->clear();
    cardRead = false;
}

void IDCardDialog::showBirthday(const QString &birthday)
{
    fittedfield::setText(ui->lb_year, birthday.mid(0, 4));
    fittedfield::setText(ui->lb_month, birthday.mid(4, 2));
    fittedfield::setText(ui->lb_day, birthday.mid(6, 2));
}

void IDCardDialog::read_identfy_info(Tidentify_info info)
{
    clearCard();
    fittedfield::setText(ui->lb_code, field(getIDCardNumber, info));
    fittedfield::setText(ui->lb_name, field(getIDName, info));
    fittedfield::setText(ui->lb_sex, field(getIDGender, info));
    fittedfield::setText(ui->lb_nation, field(getIDNational, info));
    fittedfield::setText(ui->lb_address, field(getIDAddress, info));
    showBirthday(field(getIDBirthday, info));
    fittedfield::setText(ui->lb_authority, field(getIDMaker, info));
    fittedfield::setText(ui->lb_date,
                         field(getIDStartDate, info) + QStringLiteral("-") + field(getIDEndDate, info));
}

// A permanent-residence card has no address and no issuing authority by
// name; those fields stay empty rather than keep an earlier card's texts.
// The nationality code stands where a resident card has its nation.
void IDCardDialog::read_reside_info(Treside_info info)
{
    clearCard();
    QString name = paddedField(getResideChineseName, info);
    if (name.isEmpty())
        name = paddedField(getResideEnglishName, info);
    fittedfield::setText(ui->lb_name, name);
    fittedfield::setText(ui->lb_sex, field(getResideGender, info));
    fittedfield::setText(ui->lb_nation, paddedField(getResideAreaCode, info));
    showBirthday(paddedField(getResideBirthday, info));
    fittedfield::setText(ui->lb_code, paddedField(getResideId, info));
    fittedfield::setText(ui->lb_date, paddedField(getResideStartDate, info) + QStringLiteral("-") +
                                          paddedField(getResideEndDate, info));
}

// A residence permit has no nation; its pass number and issue count have
// no field on the panel.
void IDCardDialog::read_gangaotai_info(Tgangaotai_info info)
{
    clearCard();
    fittedfield::setText(ui->lb_name, paddedField(getGATName, info));
    fittedfield::setText(ui->lb_sex, field(getGATGender, info));
    showBirthday(paddedField(getGATBirthday, info));
    fittedfield::setText(ui->lb_address, paddedField(getGATAddress, info));
    fittedfield::setText(ui->lb_code, paddedField(getGATCardNumber, info));
    fittedfield::setText(ui->lb_authority, paddedField(getGATMaker, info));
    fittedfield::setText(ui->lb_date, paddedField(getGATStartDate, info) + QStringLiteral("-") +
                                          paddedField(getGATEndDate, info));
}

void IDCardDialog::writePhoto(unsigned char *photo, int length)
{
    (void)length;   // the decoder takes the whole compressed block
    cardRead = false;
    QByteArray bitmap(QXID_BMP_SIZE, '\0');
    const int ret = QXID_Wlt2bmpBuffer(photo, reinterpret_cast<unsigned char *>(bitmap.data()),
                                       QXID_BMP_SIZE);
    if (ret != 0) {
        qDebug("decode fail, ret=%d\n", ret);
        return;
    }
    if (!ownerfiles::writeOwnerFile(holderphoto::filePath(Cache::config->appDir), bitmap))
        qDebug("create file fail\n");
    else
        qDebug("decode succ\n");
    // Shown from the decoded bytes, so a file that could not be written
    // never puts an older card's photo on screen.
    QPixmap picture;
    picture.loadFromData(bitmap, "BMP");
    ui->lb_pic->setPixmap(picture);
    cardRead = !picture.isNull();
}

QString IDCardDialog::QImageToBase64(QImage image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(png.toBase64());
}

void IDCardDialog::on_btnSaveIDCard_clicked()
{
    Config &config = *Cache::config;
    QImage picture = ui->widget->grab(QRect(QPoint(0, 0), ui->widget->size())).toImage();

    const QString text = watermark::textFor(config, photonaming::now());
    if (!text.isEmpty()) {
        picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        watermark::draw(painter, picture.size(), config, text);
    }

    // Reporting a card picture that is not on disk would lose it silently;
    // like a photo it is named only once complete, so it uses no number then.
    const QString path =
        imagefile::saveNew(picture, config.documentsLocation, config.codec, config.quality,
                           [&] { return photonaming::reservePhotoPath(config, config.codec); });
    if (path.isEmpty()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("保存失败:%1").arg(config.documentsLocation));
        return;
    }
    QList<QString> paths;
    paths.append(path);

    emit sendIdSignals(cardJson(path));
    emit saveImageMergingSignals(paths, 0);
    close();
}

QString IDCardDialog::cardJson(const QString &savedPath) const
{
    cardjson::Writer json;
    json.add(QStringLiteral("command"), 20008);
    json.add(QStringLiteral("result"), true);
    json.add(QStringLiteral("IDNumber"), ui->lb_code->text());
    json.add(QStringLiteral("Name"), ui->lb_name->text());
    json.add(QStringLiteral("Sex"), ui->lb_sex->text());
    json.add(QStringLiteral("Nation"), ui->lb_nation->text());
    json.add(QStringLiteral("Adress"), ui->lb_address->toPlainText());
    json.add(QStringLiteral("BornYear"), ui->lb_year->text());
    json.add(QStringLiteral("BornMonth"), ui->lb_month->text());
    json.add(QStringLiteral("BournDay"), ui->lb_day->text());
    json.add(QStringLiteral("Mechanics"), ui->lb_authority->text());
    json.add(QStringLiteral("VaildDate"), ui->lb_date->text());
    const QPixmap photo = ui->lb_pic->pixmap(Qt::ReturnByValue);
    if (cardRead && !photo.isNull())
        json.add(QStringLiteral("image"),
                 const_cast<IDCardDialog *>(this)->QImageToBase64(photo.toImage()));
    json.add(QStringLiteral("path"), savedPath);
    return json.text();
}

void IDCardDialog::closeEvent(QCloseEvent *event)
{
    closeDriver();
    QDialog::closeEvent(event);
}

// Escape closes the dialog without a close event; it releases the reader too.
void IDCardDialog::reject()
{
    if (port >= 0)
        closeDriver();
    QDialog::reject();
}

// ---------------------------------------------------------------- tray

void IDCardDialog::on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        show();
        break;
    case QSystemTrayIcon::Trigger:
        if (trayIcon)
            trayIcon->showMessage(QStringLiteral("Message Title"), QStringLiteral("欢迎使用此程序"),
                                  QSystemTrayIcon::Information, 1000);
        break;
    default:
        break;
    }
}

void IDCardDialog::on_showMainAction()
{
    show();
}

void IDCardDialog::on_exitAppAction()
{
    closeDriver();
    std::exit(0);
}

void IDCardDialog::createActions()
{
    showMainAction = new QAction(QStringLiteral("显示主界面"), this);
    connect(showMainAction, &QAction::triggered, this, &IDCardDialog::on_showMainAction);
    exitAppAction = new QAction(QStringLiteral("退出"), this);
    connect(exitAppAction, &QAction::triggered, this, &IDCardDialog::on_exitAppAction);
}

void IDCardDialog::createMenu()
{
    trayMenu = new QMenu(this);
    trayMenu->addAction(showMainAction);
    trayMenu->addSeparator();
    trayMenu->addAction(exitAppAction);
    if (trayIcon)
        trayIcon->setContextMenu(trayMenu);
}

void IDCardDialog::hideWindow()
{
    if (isVisible())
        hide();
}
