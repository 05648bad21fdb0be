// The two run-time loaders: what they answer without their libraries, that
// they try again on the next call, that an incomplete library is refused and
// released, and that a found library is really called.
#include "dialog.h"
#include "fpsensor.h"
#include "qxfinger10.h"
#include "qxsensorcore_sim.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

// The folder the test's LD_LIBRARY_PATH names, emptied at the start of each
// case. The folder itself stays: the dynamic loader remembers for the whole
// process that a folder of its search path did not exist.
QString pluginDir()
{
    return QDir::currentPath() + QStringLiteral("/plugins");
}

void emptyPluginDir()
{
    QDir dir(pluginDir());
    ASSERT_TRUE(dir.exists()) << "made when the build is configured";
    for (const QString &entry : dir.entryList(QDir::Files | QDir::System | QDir::Hidden))
        ASSERT_TRUE(dir.remove(entry)) << entry.toStdString();
}

// Makes `target` findable under `name` on the search path.
void provide(const char *target, const char *name)
{
    const QString link = pluginDir() + QLatin1Char('/') + QLatin1String(name);
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(target), link)) << name;
}

// True while the library behind `name` is mapped into the process.
bool isMapped(const char *name)
{
    void *library = dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return false;
    dlclose(library);
    return true;
}

class LoaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        emptyPluginDir();
        qxsim_reset();
    }
    void TearDown() override { qxsim_reset(); }
};

TEST_F(LoaderTest, MissingPluginAnswersFailureValuesAndLoadsOnALaterCall)
{
    FPSensor sensor;
    _XUSBDevice devices[4] = {};
    unsigned char image[16] = {};
    char text[16] = {};
    int length = sizeof text;
    EXPECT_EQ(0, sensor.sensorEnmuDevices(devices, 4));
    EXPECT_EQ(nullptr, sensor.sensorOpen(&devices[0]));
    EXPECT_EQ(-1, sensor.sensorClose(nullptr));
    EXPECT_EQ(-1, sensor.sensorRebootEx(&devices[0]));
    EXPECT_EQ(-1, sensor.sensorCapture(nullptr, image, sizeof image));
    EXPECT_EQ(-1, sensor.sensorGetParameter(nullptr, 1));
    EXPECT_EQ(-1, sensor.sensorSetParameter(nullptr, 1, 1));
    EXPECT_EQ(-1, sensor.sensorGetParameterEx(nullptr, 1101, text, &length));
    EXPECT_EQ(-1, sensor.sensorSetParameterEx(nullptr, 1101, text, length));
    EXPECT_EQ(-1, sensor.sensorReboot(nullptr));
    EXPECT_EQ(-1, sensor.sensorStatus(nullptr));
    EXPECT_FALSE(sensor.isLoaded());

    // The plug-in appears (installed meanwhile): the next call loads it.
    provide(FINGER_PLUGIN, "libqxfpcap.so");
    qxsim_add_sensor(SENSOR_VENDOR_ID, SENSOR_PRODUCT_B, 3, 1);
    ASSERT_EQ(1, sensor.sensorEnmuDevices(devices, 4));
    EXPECT_TRUE(sensor.isLoaded());
    EXPECT_EQ(SENSOR_VENDOR_ID, devices[0].vid);
    EXPECT_EQ(SENSOR_PRODUCT_B, devices[0].pid);
    void *handle = sensor.sensorOpen(&devices[0]);
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(256, sensor.sensorGetParameter(handle, SENSOR_PARAM_WIDTH));
    EXPECT_EQ(360, sensor.sensorGetParameter(handle, SENSOR_PARAM_HEIGHT));
    // Too small a buffer is refused by the plug-in itself, not by the loader.
    EXPECT_EQ(-3, sensor.sensorCapture(handle, image, sizeof image));
    EXPECT_EQ(0, sensor.sensorClose(handle));
    EXPECT_EQ(0, qxsim_open_connections());

    sensor.FreeSensorLibrary();
    EXPECT_FALSE(sensor.isLoaded());
    EXPECT_FALSE(isMapped("libqxfpcap.so"));
}

TEST_F(LoaderTest, PluginWithoutOpenIsRefusedAndReleased)
{
    provide(FINGER_PLUGIN_WITHOUT_OPEN, "libqxfpcap.so");
    FPSensor sensor;
    _XUSBDevice devices[2] = {};
    EXPECT_FALSE(sensor.LoadSensorLibrary());
    EXPECT_FALSE(sensor.isLoaded());
    EXPECT_FALSE(isMapped("libqxfpcap.so"));
    // Its enumeration is never reached either.
    EXPECT_EQ(0, sensor.sensorEnmuDevices(devices, 2));
    EXPECT_EQ(nullptr, sensor.sensorOpen(&devices[0]));

    provide(FINGER_PLUGIN, "libqxfpcap.so");
    EXPECT_TRUE(sensor.LoadSensorLibrary());
    EXPECT_EQ(0, sensor.sensorEnmuDevices(devices, 2)); // the simulation has no sensor
}

TEST_F(LoaderTest, DestroyingTheSensorLoaderUnloadsThePlugin)
{
    provide(FINGER_PLUGIN, "libqxfpcap.so");
    {
        FPSensor sensor;
        ASSERT_TRUE(sensor.LoadSensorLibrary());
        EXPECT_TRUE(isMapped("libqxfpcap.so"));
    }
    EXPECT_FALSE(isMapped("libqxfpcap.so"));
}

TEST_F(LoaderTest, MissingAlgorithmAnswersMinusOneAndLoadsOnALaterCall)
{
    QXFinger10 finger;
    unsigned char image[64] = {}, templ[2048] = {};
    unsigned char *presses[3] = {templ, templ, templ};
    int id = 0, score = 0;
    EXPECT_FALSE(finger.init(256, 360));
    EXPECT_FALSE(finger.isLoaded());
    EXPECT_EQ(-1, finger.extract(image, templ));
    EXPECT_EQ(-1, finger.extract2(image, 8, 8, templ, 2048));
    EXPECT_EQ(-1, finger.getLastQuality());
    EXPECT_EQ(-1, finger.genRegTemplate(presses, 3, templ));
    EXPECT_EQ(-1, finger.verify(templ, templ));
    EXPECT_EQ(-1, finger.dbClear());
    EXPECT_EQ(-1, finger.dbAdd(1, 2048, templ));
    EXPECT_EQ(-1, finger.dbDel(1));
    EXPECT_EQ(-1, finger.dbCount());
    EXPECT_EQ(-1, finger.dbIdentify(templ, &id, &score));
    EXPECT_EQ(-1, finger.getTemplateLength(templ));
    EXPECT_EQ(-1, finger.setParameter(1, 1));

    provide(FINGER_ALGORITHM_STUB, "libqxfp.so");
    // Loaded but not initialised: still no handle, still -1.
    ASSERT_TRUE(finger.loadQXFinger10());
    EXPECT_EQ(-1, finger.extract2(image, 8, 8, templ, 2048));
    EXPECT_EQ(-1, finger.dbCount());
    ASSERT_TRUE(finger.init(256, 360));
    EXPECT_EQ(0, finger.dbCount());
    EXPECT_EQ(-3, finger.extract2(image, 8, 8, templ, 16)); // the library's own answer

    finger.free();
    EXPECT_FALSE(finger.isInitialised());
    EXPECT_EQ(-1, finger.dbCount());
    EXPECT_TRUE(finger.isLoaded());
}

TEST_F(LoaderTest, AlgorithmWithoutInitialisationIsRefusedAndReleased)
{
    provide(FINGER_ALGORITHM_WITHOUT_INIT, "libqxfp.so");
    QXFinger10 finger;
    EXPECT_FALSE(finger.loadQXFinger10());
    EXPECT_FALSE(finger.init(256, 360));
    EXPECT_FALSE(isMapped("libqxfp.so"));

    provide(FINGER_ALGORITHM_STUB, "libqxfp.so");
    EXPECT_TRUE(finger.init(256, 360));
}

TEST_F(LoaderTest, DestroyingTheAlgorithmLoaderClosesItsHandleFirst)
{
    provide(FINGER_ALGORITHM_STUB, "libqxfp.so");
    int (*liveHandles)() = nullptr;
    void *keptMapped = nullptr; // so the count can be read after the loader is gone
    {
        QXFinger10 finger;
        ASSERT_TRUE(finger.init(256, 360));
        ASSERT_TRUE(finger.init(256, 360)); // a second init replaces the first handle
        keptMapped = dlopen("libqxfp.so", RTLD_LAZY | RTLD_NOLOAD);
        ASSERT_NE(nullptr, keptMapped);
        liveHandles = reinterpret_cast<int (*)()>(dlsym(keptMapped, "qxfpstub_live_handles"));
        ASSERT_NE(nullptr, liveHandles);
        EXPECT_EQ(1, liveHandles());
    }
    EXPECT_EQ(0, liveHandles());
    dlclose(keptMapped);
    EXPECT_FALSE(isMapped("libqxfp.so"));
}

// The operator's view of the same: the dialog finds nothing until the
// libraries are installed, and then works without a restart.
TEST_F(LoaderTest, DialogWorksOnceTheLibrariesAppear)
{
    qxsim_add_sensor(SENSOR_VENDOR_ID, SENSOR_PRODUCT_A, 3, 1);
    Dialog dialog;
    auto *messages = dialog.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    auto *devices = dialog.findChild<QComboBox *>(QStringLiteral("comboBox"));
    ASSERT_TRUE(messages && devices);
    auto click = [&](const char *name) { dialog.findChild<QPushButton *>(QLatin1String(name))->click(); };

    dialog.init();
    EXPECT_EQ(QStringLiteral("请选择设备!"), messages->toPlainText());
    EXPECT_EQ(0, devices->count());

    provide(FINGER_PLUGIN, "libqxfpcap.so");
    click("btnEnum");
    ASSERT_EQ(1, devices->count());
    // The sensor opens, but without the algorithm it is closed again.
    click("btnOpen");
    EXPECT_EQ(QStringLiteral("初始化算法失败!"), messages->toPlainText());
    EXPECT_FALSE(dialog.isDeviceOpen());
    EXPECT_EQ(0, qxsim_open_connections());

    provide(FINGER_ALGORITHM_STUB, "libqxfp.so");
    click("btnOpen");
    EXPECT_EQ(QStringLiteral("连接成功!"), messages->toPlainText());
    EXPECT_TRUE(dialog.isDeviceOpen());
    click("btnClose");
    EXPECT_EQ(0, qxsim_open_connections());
}

} // namespace
