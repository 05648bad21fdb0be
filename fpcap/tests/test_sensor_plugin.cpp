// The shared plug-in as the application loads it: by file name with lazy
// binding, exporting the sensor* functions and nothing else.
#include "test_sensor_support.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

using namespace fpcap_test;

namespace {

// The plug-in is built beside the test executables.
std::string plugin_path() {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return std::string();
    std::string path(exe, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "libqxfpcap.so";
}

class Plugin : public SensorTest {
protected:
    void SetUp() override {
        SensorTest::SetUp();
        std::string path = plugin_path();
        if (access(path.c_str(), R_OK) != 0) GTEST_SKIP() << "plug-in not built: " << path;
        lib_ = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
        ASSERT_NE(nullptr, lib_) << dlerror();
    }
    void TearDown() override {
        if (lib_) dlclose(lib_);
        SensorTest::TearDown();
    }
    template <typename F> F fn(const char *name) { return reinterpret_cast<F>(dlsym(lib_, name)); }
    void *lib_ = nullptr;
};

}  // namespace

TEST_F(Plugin, ExportsTheSensorInterfaceOnly) {
    const char *exported[] = {"sensorEnumDevices", "sensorOpen", "sensorClose", "sensorReOpen",
                              "sensorReboot", "sensorRebootEx", "sensorGetVersion", "sensorCapture",
                              "sensorGetParameter", "sensorSetParameter", "sensorGetParameterEx",
                              "sensorSetParameterEx", "sensorGetName", "sensorCheck", "sensorStatus",
                              "sensorSetLogLevel", "sensorUpgrade", "sensorWDTEnable", "sensorWDTReset"};
    for (const char *name : exported) EXPECT_NE(nullptr, dlsym(lib_, name)) << name;
    const char *hidden[] = {"DetectFinger", "CorrectFingerImage", "XLogPrintf", "correct_init",
                            "AntiFake_Init", "ComputeMainFIQ", "eeprom_read", "tick_ms",
                            "fpcap_error_name", "correct_error_name"};
    for (const char *name : hidden) EXPECT_EQ(nullptr, dlsym(lib_, name)) << name;
}

TEST_F(Plugin, CapturesThroughTheLoadedLibrary) {
    auto enumDevices = fn<int (*)(_XUSBDevice *, int)>("sensorEnumDevices");
    auto openDevice = fn<void *(*)(_XUSBDevice *)>("sensorOpen");
    auto capture = fn<int (*)(void *, unsigned char *, int)>("sensorCapture");
    auto getParameter = fn<int (*)(void *, int)>("sensorGetParameter");
    auto closeDevice = fn<int (*)(void *)>("sensorClose");
    ASSERT_TRUE(enumDevices && openDevice && capture && getParameter && closeDevice);
    int dev = addSensor(292);
    _XUSBDevice list[2];
    ASSERT_EQ(1, enumDevices(list, 2));
    void *h = openDevice(&list[0]);
    ASSERT_NE(nullptr, h);
    const int w = getParameter(h, SENSOR_PARAM_WIDTH), ht = getParameter(h, SENSOR_PARAM_HEIGHT);
    ASSERT_EQ(kNativeW, w);
    ASSERT_EQ(kNativeH, ht);
    placeFinger(dev);
    std::vector<unsigned char> image(static_cast<size_t>(w * ht)), truth(image.size());
    EXPECT_EQ(w * ht, capture(h, image.data(), static_cast<int>(image.size())));
    qxsim_render_upright(dev, w, ht, truth.data());
    EXPECT_GT(correlation(image, truth), 0.9);
    EXPECT_EQ(0, closeDevice(h));
    EXPECT_EQ(0, qxsim_open_connections());
}
