// The identity-card and fingerprint dialogs of the service window, and what
// they report to the pages.
#include "formsystemtray.h"

#include "dialog.h"
#include "idcarddialog.h"

#include <QBuffer>
#include <QDebug>
#include <QGuiApplication>
#include <QScreen>

void FormSystemTray::createDialogs()
{
    idCardDialog = new IDCardDialog(this);
    idCardDialog->setWarningsBlock(false);
    connect(idCardDialog, &IDCardDialog::sendIdSignals, this, &FormSystemTray::recIdSignals);
    fingerDialog = new Dialog(this);
    connect(fingerDialog, &Dialog::sendFGSignals, this, &FormSystemTray::recFGSignals);
}

bool FormSystemTray::toggleCentred(QDialog *dialog)
{
    if (dialog->isVisible()) {
        dialog->close();
        return false;
    }
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->availableGeometry() : QRect();
    dialog->move((desktop.width() - dialog->width()) / 2, (desktop.height() - dialog->height()) / 2);
    dialog->show();
    return true;
}

void FormSystemTray::toggleIdCardDialog()
{
    if (toggleCentred(idCardDialog))
        idCardDialog->init();
}

void FormSystemTray::toggleFingerDialog()
{
    if (toggleCentred(fingerDialog))
        fingerDialog->init();
}

void FormSystemTray::recIdSignals(QString json)
{
    idCardJson = json;
    sendDataWS(json);
}

void FormSystemTray::recFGSignals(QPixmap pixmap)
{
    const QImage image = pixmap.toImage();
    if (image.isNull())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    qDebug() << "========chuan数据\n";
    sendDataJson(QJsonObject{{QStringLiteral("command"), 20026},
                             {QStringLiteral("finger"), QString::fromLatin1(png.toBase64())}});
}
