#include "fingertest.h"

#include "dialog.h"
#include "testenv.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include <gtest/gtest.h>

namespace fingertest {

void SensorTest::SetUp()
{
    WorkDirTest::SetUp();
    if (HasFatalFailure())
        return;
    qxsim_reset();
    sensor = attachSensor();
}

void SensorTest::TearDown()
{
    dialog.reset();
    EXPECT_EQ(0, qxsim_open_connections());
    qxsim_reset();
    WorkDirTest::TearDown();
}

int attachSensor()
{
    return qxsim_add_sensor(6997, 292, 3, 1);
}

void placeFinger(int dev, int fingerId)
{
    QXSimFinger finger = qxsim_default_finger();
    finger.present = 1;
    finger.finger_id = fingerId;
    qxsim_set_finger(dev, &finger);
}

void liftFinger(int dev)
{
    QXSimFinger finger = qxsim_default_finger();
    finger.present = 0;
    qxsim_set_finger(dev, &finger);
}

void click(Dialog &dialog, const char *buttonName)
{
    auto *button = dialog.findChild<QPushButton *>(QLatin1String(buttonName));
    ASSERT_NE(nullptr, button) << buttonName;
    button->click();
}

void typeId(Dialog &dialog, const QString &text)
{
    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit"));
    ASSERT_NE(nullptr, edit);
    edit->setText(text);
}

QString message(const Dialog &dialog)
{
    auto *box = dialog.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    return box ? box->toPlainText() : QString();
}

bool waitForMessage(const Dialog &dialog, const QString &text, int timeoutMs)
{
    return testenv::waitFor([&] { return message(dialog) == text; }, timeoutMs);
}

QString press(Dialog &dialog, int dev, int fingerId)
{
    return press(dialog, dev, fingerId, qxsim_identity_impression());
}

QString press(Dialog &dialog, int dev, int fingerId, const QXSimImpression &placement)
{
    auto *box = dialog.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    if (!box)
        return QString();
    box->clear();
    qxsim_set_impression(dev, &placement);
    placeFinger(dev, fingerId);
    testenv::waitFor([&] { return !box->toPlainText().isEmpty(); }, 10000);
    liftFinger(dev);
    return box->toPlainText();
}

} // namespace fingertest
