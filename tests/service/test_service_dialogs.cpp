// The card and fingerprint dialogs opened and closed by a page, and what
// they report to it; the card reader is the simulated one.
#include "servicetestsupport.h"

#include "cache.h"
#include "config.h"
#include "dialog.h"
#include "idcarddialog.h"
#include "qxsim_usb.h"
#include "testenv.h"
#include "warningbox.h"

#include <QApplication>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using servicetest::TrayTest;

namespace {

class ServiceDialogsTest : public TrayTest
{
protected:
    void beforeTray() override
    {
        ASSERT_TRUE(appDir.isValid());
        Cache::config->appDir = appDir.path();   // the card photo goes to data/ here
        qxsim_usb_device reader;
        qxsim_usb_set_devices(&reader, 1);
        qxsim_usb_set_transfer_time_us(0);
        qxsim_usb_sam().set_fault(qxsim::Fault::None);
        qxsim_usb_sam().set_card(qxsim::CardKind::Resident);
        qxsim_usb_sam().set_realistic_timing(false);
        testenv::captureWarnings(warnings);
    }
    void TearDown() override
    {
        TrayTest::TearDown();
        WarningBox::setHandler({});
        qxsim_usb_set_devices(nullptr, 0);
    }
    static bool centred(QWidget *dialog)
    {
        const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
        return dialog->x() == (desktop.width() - dialog->width()) / 2
               && dialog->y() == (desktop.height() - dialog->height()) / 2;
    }
    QTemporaryDir appDir;
    QStringList warnings;
};

namespace logged {
QStringList lines;
void keep(QtMsgType, const QMessageLogContext &, const QString &text)
{
    lines.append(text);
}
} // namespace logged

TEST_F(ServiceDialogsTest, CardDialogTogglesAndItsCardReachesEveryPage)
{
    auto page = connectPage();
    auto other = connectPage();
    IDCardDialog *dialog = tray->idCardDialog;
    page->send(QJsonObject{{"command", 10010}});
    ASSERT_TRUE(testenv::waitFor([&] { return dialog->isVisible(); }, 5000));
    EXPECT_TRUE(centred(dialog));
    auto *number = dialog->findChild<QLineEdit *>(QStringLiteral("lb_code"));
    ASSERT_NE(number, nullptr);
    ASSERT_TRUE(testenv::waitFor([&] { return !number->text().isEmpty(); }, 10000)) << warnings.join(';').toStdString();

    logged::lines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(logged::keep);
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnSaveIDCard")), Qt::LeftButton);
    const QJsonObject card = other->waitFor(20008, 5000);
    qInstallMessageHandler(previous);
    ASSERT_FALSE(card.isEmpty());
    // The holder's data goes to the pages, never into the log.
    EXPECT_FALSE(logged::lines.join('\n').contains(QStringLiteral("110101198503124018")));
    EXPECT_EQ(card.value("IDNumber").toString(), QStringLiteral("110101198503124018"));
    EXPECT_EQ(page->count(20008), 1);
    // Sent as the dialog wrote it, and kept for the request endpoint.
    EXPECT_EQ(page->texts.last(), tray->idCardJson);
    EXPECT_TRUE(tray->idCardJson.startsWith(QStringLiteral("{\n    \"command\": 20008,\n")));

    page->send(QJsonObject{{"command", 10010}});   // saved: the dialog closed itself; open again
    ASSERT_TRUE(testenv::waitFor([&] { return dialog->isVisible(); }, 5000));
    page->send(QJsonObject{{"command", 10010}});
    ASSERT_TRUE(testenv::waitFor([&] { return !dialog->isVisible(); }, 5000));
    EXPECT_FALSE(dialog->isPolling());
}

TEST_F(ServiceDialogsTest, FingerDialogTogglesAndSendsItsImagesAsPng)
{
    auto page = connectPage();
    Dialog *dialog = tray->fingerDialog;
    page->send(QJsonObject{{"command", 10026}});
    ASSERT_TRUE(testenv::waitFor([&] { return dialog->isVisible(); }, 5000));
    EXPECT_TRUE(centred(dialog));

    QPixmap finger(64, 80);
    finger.fill(Qt::white);
    {
        QPainter painter(&finger);
        painter.fillRect(10, 10, 20, 30, Qt::black);
    }
    emit dialog->sendFGSignals(finger);
    emit dialog->sendFGSignals(QPixmap());   // nothing to send
    const QJsonObject message = page->waitFor(20026, 5000);
    ASSERT_FALSE(message.isEmpty());
    QImage received;
    ASSERT_TRUE(received.loadFromData(QByteArray::fromBase64(message.value("finger").toString().toLatin1()), "PNG"));
    EXPECT_EQ(received.size(), QSize(64, 80));
    EXPECT_EQ(qGray(received.pixel(15, 15)), 0);
    EXPECT_EQ(qGray(received.pixel(50, 60)), 255);

    page->send(QJsonObject{{"command", 10026}});
    ASSERT_TRUE(testenv::waitFor([&] { return !dialog->isVisible(); }, 5000));
    page->send(QJsonObject{{"command", 10021}, {"filepath", ""}});
    ASSERT_FALSE(page->waitFor(20021).isEmpty());
    EXPECT_EQ(page->count(20026), 1);
}

} // namespace
