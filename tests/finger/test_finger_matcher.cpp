// Enrolment and identification end to end: the dialog with the real plug-in
// and the stand-in algorithm library, fingers laid on the simulated sensor
// a little differently each time, as people do.
#include "dialog.h"
#include "fingertest.h"
#include "testenv.h"
#include "workdirtest.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace fingertest;

namespace {

QXSimImpression placement(double dx, double dy, double degrees, double pressure)
{
    QXSimImpression p = qxsim_identity_impression();
    p.shift_x = dx;
    p.shift_y = dy;
    p.rotation_deg = degrees;
    p.pressure = pressure;
    return p;
}

bool identifiedAs(const QString &message, int id)
{
    return message.startsWith(QStringLiteral("识别成功，指纹id=%1, 分数=").arg(id));
}

class FingerMatcherTest : public SensorTest
{
protected:
    void SetUp() override
    {
        SensorTest::SetUp();
        if (HasFatalFailure())
            return;
        openNewDialog();
    }

    void openNewDialog()
    {
        dialog = std::make_unique<Dialog>();
        dialog->show();
        dialog->init();
        ASSERT_EQ(QStringLiteral("连接成功!"), message(*dialog)) << "libqxfp.so not found?";
    }

    void startEnrolment(int id)
    {
        typeId(*dialog, QString::number(id));
        click(*dialog, "btnRegister");
        ASSERT_EQ(QStringLiteral("请按压同一手指3次!"), message(*dialog));
    }
};

TEST_F(FingerMatcherTest, ThreePlacementsEnrolAndLaterOnesAreIdentifiedAfterARestart)
{
    startEnrolment(21);
    EXPECT_EQ(QStringLiteral("您还需要按压2次手指."), press(*dialog, sensor, 3, placement(0, 0, 0, 1.0)));
    EXPECT_EQ(QStringLiteral("您还需要按压1次手指."), press(*dialog, sensor, 3, placement(12, -8, 5, 1.1)));
    EXPECT_EQ(QStringLiteral("登记成功，指纹ID:21"), press(*dialog, sensor, 3, placement(-10, 10, -6, 0.9)));
    startEnrolment(22);
    press(*dialog, sensor, 8, placement(0, 0, 0, 1.0));
    press(*dialog, sensor, 8, placement(-6, 12, 4, 1.0));
    EXPECT_EQ(QStringLiteral("登记成功，指纹ID:22"), press(*dialog, sensor, 8, placement(8, 4, -3, 1.1)));

    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, 3, placement(20, 15, 10, 1.0)), 21));
    EXPECT_EQ(QStringLiteral("识别失败"), press(*dialog, sensor, 5, placement(0, 0, 0, 1.0)));

    // Closing and opening the sensor starts a new algorithm database, filled from the store.
    click(*dialog, "btnClose");
    click(*dialog, "btnOpen");
    ASSERT_EQ(QStringLiteral("连接成功!"), message(*dialog));
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, 8, placement(-4, 6, 3, 1.0)), 22));

    // As after a restart: the window is new, the templates come from the store.
    openNewDialog();
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, 3, placement(-15, -20, -8, 1.2)), 21));
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, 8, placement(10, -10, 7, 0.9)), 22));
    EXPECT_EQ(QStringLiteral("识别失败"), press(*dialog, sensor, 5, placement(5, 5, 3, 1.0)));

    // The same finger cannot be enrolled under a second id.
    startEnrolment(23);
    EXPECT_EQ(QStringLiteral("登记失败，当前手指已登记！"), press(*dialog, sensor, 3, placement(0, 10, 2, 1.0)));
}

TEST_F(FingerMatcherTest, AnotherFingerOnPressTwoAbortsTheEnrolment)
{
    startEnrolment(31);
    EXPECT_EQ(QStringLiteral("您还需要按压2次手指."), press(*dialog, sensor, 2, placement(0, 0, 0, 1.0)));
    EXPECT_EQ(QStringLiteral("登记失败，请按压同一个手指."), press(*dialog, sensor, 6, placement(4, 4, 2, 1.0)));
    EXPECT_FALSE(dialog->isRegistering());
    EXPECT_EQ(QStringLiteral("识别失败"), press(*dialog, sensor, 2, placement(0, 0, 0, 1.0)));
}

} // namespace
