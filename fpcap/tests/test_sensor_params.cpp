// Parameter codes of the plug-in: integer get/set, the buffer variants and
// the registers they program.
#include "test_sensor_support.h"

#include <string>

using namespace fpcap_test;

namespace {

int exInt(void *h, int code, int *rc = nullptr) {
    char buf[8] = {};
    int len = sizeof buf;
    int r = sensorGetParameterEx(h, code, buf, &len);
    if (rc) *rc = r;
    int v;
    std::memcpy(&v, buf, 4);
    return v;
}

std::string exString(void *h, int code, int *rc = nullptr) {
    char buf[80];
    std::memset(buf, 0x55, sizeof buf);
    int len = sizeof buf;
    int r = sensorGetParameterEx(h, code, buf, &len);
    if (rc) *rc = r;
    return r == 0 ? std::string(buf, static_cast<size_t>(len)) : std::string();
}

}  // namespace

class SensorParams : public SensorTest {
protected:
    void SetUp() override {
        SensorTest::SetUp();
        dev_ = addSensor(292);
    }
    void *openIt() {
        void *h = open();
        EXPECT_NE(nullptr, h);
        qxsim_clear_stats(dev_);
        return h;
    }
    int dev_ = -1;
};

TEST_F(SensorParams, ValuesAfterOpen) {
    void *h = openIt();
    const std::pair<int, int> expected[] = {
        {SENSOR_PARAM_WIDTH, 256}, {SENSOR_PARAM_HEIGHT, 360}, {SENSOR_PARAM_DPI, 500},
        {SENSOR_PARAM_CONSTANT, 7}, {SENSOR_PARAM_DIRECT_CAPTURE, 0}, {SENSOR_PARAM_STORED, 0},
        {SENSOR_PARAM_IMAGE_SIZE, 256 * 360}, {107, 0}, {200, 0}, {201, 0}, {30001, 0},
        {SENSOR_PARAM_HW_VERSION, kHost0 | (kHost1 << 8)}, {SENSOR_PARAM_USB_IDS, 292 * 65536 + 6997},
        {SENSOR_PARAM_DEVICE_QUALITY, 0}, {SENSOR_PARAM_QUALITY_LEVEL, 0}, {SENSOR_PARAM_ANTI_FAKE, 0},
        {SENSOR_PARAM_ANTI_FAKE_LEVEL, 0}, {SENSOR_PARAM_FAKE_STATUS, -1}, {SENSOR_PARAM_OUTPUT_83, 0},
        {101, -5}, {1101, -5}, {10002, -5}, {8, -5}, {999, -5}};
    for (const auto &e : expected) EXPECT_EQ(e.second, sensorGetParameter(h, e.first)) << "code " << e.first;
    EXPECT_EQ(-2, sensorGetParameter(nullptr, 1));
}

TEST_F(SensorParams, ReadOnlyAndUnknownCodesRefuseSetting) {
    void *h = openIt();
    for (int code : {1, 2, 4, 106, 107, 200, 201, 202, 1015, 1016, 2004, 30001, 999})
        EXPECT_EQ(-5, sensorSetParameter(h, code, 1)) << "code " << code;
    EXPECT_EQ(0, qxsim_stats(dev_).register_writes[20]);
    EXPECT_EQ(-2, sensorSetParameter(nullptr, 3, 250));
}

TEST_F(SensorParams, ResolutionRescalesTheImage) {
    void *h = openIt();
    ASSERT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DPI, 250));
    EXPECT_EQ(128, sensorGetParameter(h, SENSOR_PARAM_WIDTH));
    EXPECT_EQ(180, sensorGetParameter(h, SENSOR_PARAM_HEIGHT));
    EXPECT_EQ(23040, sensorGetParameter(h, SENSOR_PARAM_IMAGE_SIZE));
    EXPECT_EQ(250, sensorGetParameter(h, SENSOR_PARAM_DPI));
    EXPECT_EQ(25, qxsim_register(dev_, 51));

    ASSERT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DPI, 333));
    EXPECT_EQ(170, sensorGetParameter(h, SENSOR_PARAM_WIDTH));  // 256 * 333 / 500 = 170.4
    EXPECT_EQ(239, sensorGetParameter(h, SENSOR_PARAM_HEIGHT)); // 360 * 333 / 500 = 239.76
    EXPECT_EQ(33, qxsim_register(dev_, 51));

    // The corrected image follows the new size and still shows the finger.
    placeFinger(dev_);
    std::vector<unsigned char> img(170 * 239), truth(170 * 239);
    EXPECT_EQ(170 * 239, sensorCapture(h, img.data(), static_cast<int>(img.size())));
    qxsim_render_upright(dev_, 170, 239, truth.data());
    EXPECT_GT(correlation(img, truth), 0.9);
}

TEST_F(SensorParams, ResolutionOutOfRangeKeepsTheOldSize) {
    void *h = openIt();
    EXPECT_EQ(-4, sensorSetParameter(h, SENSOR_PARAM_DPI, 0));
    EXPECT_EQ(-4, sensorSetParameter(h, SENSOR_PARAM_DPI, -500));
    // Images beyond the capture buffers, and sizes beyond 16 bits.
    EXPECT_EQ(-4, sensorSetParameter(h, SENSOR_PARAM_DPI, 3000));
    EXPECT_EQ(-4, sensorSetParameter(h, SENSOR_PARAM_DPI, 2000000000));
    EXPECT_EQ(256, sensorGetParameter(h, SENSOR_PARAM_WIDTH));
    EXPECT_EQ(360, sensorGetParameter(h, SENSOR_PARAM_HEIGHT));
    EXPECT_EQ(500, sensorGetParameter(h, SENSOR_PARAM_DPI));
    EXPECT_EQ(0, qxsim_stats(dev_).register_writes[51]);
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DPI, 1000));  // 512 x 720 still fits
    EXPECT_EQ(512 * 720, sensorGetParameter(h, SENSOR_PARAM_IMAGE_SIZE));
}

TEST_F(SensorParams, LevelsAcceptOnlyTheirValues) {
    void *h = openIt();
    EXPECT_EQ(-2, sensorSetParameter(h, SENSOR_PARAM_QUALITY_LEVEL, 150));
    EXPECT_EQ(0, sensorGetParameter(h, SENSOR_PARAM_QUALITY_LEVEL));
    for (int v : {100, 200, 300}) {
        EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_QUALITY_LEVEL, v));
        EXPECT_EQ(v, sensorGetParameter(h, SENSOR_PARAM_QUALITY_LEVEL));
    }
    EXPECT_EQ(-2, sensorSetParameter(h, SENSOR_PARAM_QUALITY_LEVEL, 150));
    EXPECT_EQ(300, sensorGetParameter(h, SENSOR_PARAM_QUALITY_LEVEL));

    EXPECT_EQ(-2, sensorSetParameter(h, SENSOR_PARAM_ANTI_FAKE_LEVEL, 3));
    EXPECT_EQ(-2, sensorSetParameter(h, SENSOR_PARAM_ANTI_FAKE_LEVEL, -1));
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_ANTI_FAKE_LEVEL, 2));
    EXPECT_EQ(2, sensorGetParameter(h, SENSOR_PARAM_ANTI_FAKE_LEVEL));
}

TEST_F(SensorParams, SwitchesWriteTheirRegisters) {
    void *h = openIt();
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_ANTI_FAKE, 1));
    EXPECT_EQ(1, qxsim_register(dev_, 50));
    EXPECT_EQ(0, sensorGetParameter(h, SENSOR_PARAM_FAKE_STATUS)) << "enabled, nothing judged yet";

    EXPECT_EQ(-5, sensorSetParameter(h, SENSOR_PARAM_OUTPUT_83, 2));
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_OUTPUT_83, 0));
    EXPECT_EQ(0, qxsim_register(dev_, 83));
    EXPECT_EQ(0, sensorGetParameter(h, SENSOR_PARAM_OUTPUT_83));

    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_STORED, 42));
    EXPECT_EQ(42, sensorGetParameter(h, SENSOR_PARAM_STORED));

    // Host-processing sensor: direct capture switches the capture light.
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DIRECT_CAPTURE, 1));
    EXPECT_EQ(15, qxsim_register(dev_, 21));
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DIRECT_CAPTURE, 0));
    EXPECT_EQ(0, qxsim_register(dev_, 21));
    EXPECT_EQ(0, qxsim_stats(dev_).register_writes[48]);
}

TEST_F(SensorParams, DirectCaptureOnADeviceProcessingSensor) {
    qxsim_set_hw_version(dev_, kDevice0, kDevice1);
    void *h = openIt();
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DIRECT_CAPTURE, 1));
    EXPECT_EQ(1, qxsim_register(dev_, 48));
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DIRECT_CAPTURE, 0));
    EXPECT_EQ(3, qxsim_register(dev_, 48));
    EXPECT_EQ(0, qxsim_stats(dev_).register_writes[21]);
}

TEST_F(SensorParams, OutputCommands) {
    void *h = openIt();
    const std::pair<int, int> commands[] = {{101, 0x1403}, {102, 0x1402}, {103, 0x1401}};
    for (const auto &c : commands) {
        EXPECT_EQ(0, sensorSetParameter(h, c.first, 1));
        EXPECT_EQ(c.second, qxsim_register(dev_, 20));
        EXPECT_EQ(-5, sensorSetParameter(h, c.first, 2));
    }
    const int writes20 = qxsim_stats(dev_).register_writes[20];
    EXPECT_EQ(0, sensorSetParameter(h, 101, 0));
    EXPECT_EQ(writes20, qxsim_stats(dev_).register_writes[20]);
}

TEST_F(SensorParams, SelfCheckGoesToTheSensor) {
    void *h = openIt();
    EXPECT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_SELF_CHECK, 1));
    qxsim_set_unresponsive(dev_, 1);
    EXPECT_EQ(-1, sensorSetParameter(h, SENSOR_PARAM_SELF_CHECK, 1));
}

TEST_F(SensorParams, IntegerValuesThroughBuffers) {
    void *h = openIt();
    int rc;
    EXPECT_EQ(256, exInt(h, SENSOR_PARAM_WIDTH, &rc));
    EXPECT_EQ(0, rc);
    EXPECT_EQ(-5, exInt(h, 1002, &rc)) << "accepted range, unknown code";
    EXPECT_EQ(0, rc);
    char small[4];
    int len = 3;
    EXPECT_EQ(-3, sensorGetParameterEx(h, SENSOR_PARAM_WIDTH, small, &len));
    len = 4;
    EXPECT_EQ(-5, sensorGetParameterEx(h, SENSOR_PARAM_OUTPUT_83, small, &len));
    EXPECT_EQ(-5, sensorGetParameterEx(h, 10002, small, &len));
    EXPECT_EQ(-2, sensorGetParameterEx(nullptr, 1, small, &len));

    int value = 250;
    EXPECT_EQ(-3, sensorSetParameterEx(h, SENSOR_PARAM_DPI, reinterpret_cast<char *>(&value), 3));
    EXPECT_EQ(0, sensorSetParameterEx(h, SENSOR_PARAM_DPI, reinterpret_cast<char *>(&value), 4));
    EXPECT_EQ(128, sensorGetParameter(h, SENSOR_PARAM_WIDTH));
    value = 1;
    EXPECT_EQ(0, sensorSetParameterEx(h, SENSOR_PARAM_OUTPUT_83, reinterpret_cast<char *>(&value), 4));
    EXPECT_EQ(-5, sensorSetParameterEx(h, 202, reinterpret_cast<char *>(&value), 4));
    EXPECT_EQ(-5, sensorSetParameterEx(h, 1015, reinterpret_cast<char *>(&value), 4));
    EXPECT_EQ(-5, sensorSetParameterEx(h, SENSOR_PARAM_SELF_CHECK, reinterpret_cast<char *>(&value), 4));
}

TEST_F(SensorParams, StringsNeedRoomForTheirText) {
    qxsim_set_strings(dev_, "Model-X", "Maker", "SN42");
    void *h = openIt();
    EXPECT_EQ("Model-X", exString(h, SENSOR_PARAM_MODEL));
    EXPECT_EQ("Maker", exString(h, SENSOR_PARAM_MANUFACTURER));
    // Exactly the text length: copied without writing past the buffer.
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    int len = 5;
    EXPECT_EQ(0, sensorGetParameterEx(h, SENSOR_PARAM_MANUFACTURER, buf, &len));
    EXPECT_EQ(5, len);
    EXPECT_EQ(0, std::memcmp(buf, "Maker", 5));
    EXPECT_EQ('#', buf[5]);
    len = 4;
    EXPECT_EQ(-3, sensorGetParameterEx(h, SENSOR_PARAM_MANUFACTURER, buf, &len));
}

struct SerialCase {
    const char *usb;
    bool eepromEmpty;
    const char *expected;
};

class SerialSelection : public SensorParams, public ::testing::WithParamInterface<SerialCase> {};

TEST_P(SerialSelection, PicksTheUsableSerial) {
    qxsim_set_strings(dev_, nullptr, nullptr, GetParam().usb);
    if (GetParam().eepromEmpty) {
        qxsim_eeprom(dev_)[216] = 0xFF;
    }
    void *h = openIt();
    EXPECT_EQ(GetParam().expected, exString(h, SENSOR_PARAM_SERIAL));
}

INSTANTIATE_TEST_SUITE_P(Rules, SerialSelection,
                         ::testing::Values(SerialCase{"USB123", false, "USB123"},
                                           SerialCase{"USB123", true, "USB123"},
                                           SerialCase{"0", false, "QXS-SIM-000123"},
                                           SerialCase{"", false, "QXS-SIM-000123"},
                                           SerialCase{"0", true, "0"},
                                           SerialCase{"00", false, "00"}));

TEST_F(SensorParams, SensorIdentifier) {
    void *h = openIt();
    unsigned char id[20];
    int len = 15;
    EXPECT_EQ(-3, sensorGetParameterEx(h, SENSOR_PARAM_SENSOR_ID, reinterpret_cast<char *>(id), &len));
    len = 20;
    ASSERT_EQ(0, sensorGetParameterEx(h, SENSOR_PARAM_SENSOR_ID, reinterpret_cast<char *>(id), &len));
    EXPECT_EQ(16, len);
    EXPECT_EQ(0, std::memcmp(id, qxsim_eeprom(dev_) + 232, 16));

    close(h);
    qxsim_eeprom(dev_)[232] = 0xFF;
    h = openIt();
    len = 20;
    EXPECT_EQ(-3, sensorGetParameterEx(h, SENSOR_PARAM_SENSOR_ID, reinterpret_cast<char *>(id), &len));
}
