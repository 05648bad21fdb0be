// Enumeration, open / reopen / close, calibration checks, status and the
// pass-through calls of the plug-in, against the simulated sensor library.
#include "test_sensor_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sensor/xlog.h"

using namespace fpcap_test;

namespace {

void put16(unsigned char *p, int v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

// Index of the first write of (reg, value) at or after `from`, or -1.
int findWrite(const std::vector<std::pair<int, int>> &log, int reg, int value, size_t from = 0) {
    for (size_t i = from; i < log.size(); ++i)
        if (log[i].first == reg && log[i].second == value) return static_cast<int>(i);
    return -1;
}

}  // namespace

TEST_F(SensorTest, EnumerationKeepsOnlyTheTwoProductsInOrder) {
    addSensor(288);
    addSensor(300);                       // same vendor, unknown product
    qxsim_add_sensor(6998, 288, 3, 1);    // other vendor
    addSensor(292);
    std::vector<_XUSBDevice> list(8);
    ASSERT_EQ(2, sensorEnumDevices(list.data(), 8));
    EXPECT_EQ(6997, list[0].vid);
    EXPECT_EQ(288, list[0].pid);
    EXPECT_EQ(292, list[1].pid);
    EXPECT_NE(nullptr, std::memchr(list[0].info, '\0', sizeof list[0].info));
    EXPECT_GT(std::strlen(list[0].info), 0u);
    EXPECT_EQ(1, sensorEnumDevices(list.data(), 1));
    EXPECT_EQ(0, sensorEnumDevices(list.data(), 0));
    EXPECT_EQ(0, sensorEnumDevices(nullptr, 4));
}

TEST_F(SensorTest, VersionNeedsTwentyBytes) {
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(-3, sensorGetVersion(buf, 19));
    EXPECT_EQ('x', buf[0]);
    EXPECT_EQ(0, sensorGetVersion(buf, 20));
    EXPECT_STREQ("3.0.0.1", buf);
    EXPECT_EQ('x', buf[8]);  // exactly the text and its terminator
    EXPECT_EQ(-2, sensorGetVersion(nullptr, 20));
}

TEST_F(SensorTest, OpenProgramsLedsCameraAndCaptureRegisters) {
    int dev = addSensor();
    void *h = open();
    ASSERT_NE(nullptr, h);
    auto log = writes(dev);
    // LEDs: level * 256 + 1 for each non-zero level, registers 0..5.
    const int leds[6] = {200, 200, 120, 120, 180, 180};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(leds[i] * 256 + 1, qxsim_register(dev, i)) << "LED " << i;
    // Camera: gains to both registers of their pair, exposure split in two bytes.
    EXPECT_EQ(40, qxsim_camera_register(dev, 0xA5));
    EXPECT_EQ(40, qxsim_camera_register(dev, 0xA6));
    EXPECT_EQ(32, qxsim_camera_register(dev, 0xA3));
    EXPECT_EQ(32, qxsim_camera_register(dev, 0xAA));
    EXPECT_EQ(48, qxsim_camera_register(dev, 0xA7));
    EXPECT_EQ(48, qxsim_camera_register(dev, 0xA8));
    EXPECT_EQ(0x02, qxsim_camera_register(dev, 3));
    EXPECT_EQ(0x34, qxsim_camera_register(dev, 4));
    // Then the fixed sequence of a host-processing sensor.
    int at = findWrite(log, 6, 0x8001);
    ASSERT_GE(at, 0);
    const std::pair<int, int> tail[] = {{7, 0x8001}, {8, 0x8001}, {83, 1}, {50, 0}, {48, 3}, {49, 0}};
    for (const auto &w : tail) {
        int next = findWrite(log, w.first, w.second, static_cast<size_t>(at));
        EXPECT_EQ(at + 1, next) << "register " << w.first;
        at = next;
    }
    EXPECT_EQ(static_cast<int>(log.size()) - 1, at);
    EXPECT_EQ(1, qxsim_stats(dev).eeprom_block_reads);
    EXPECT_EQ(0, qxsim_stats(dev).eeprom_byte_reads);
}

TEST_F(SensorTest, DeviceProcessingSensorEnablesItsOwnProcessing) {
    int dev = addSensor(292, kDevice0, kDevice1);
    void *h = open();
    ASSERT_NE(nullptr, h);
    auto log = writes(dev);
    int at = findWrite(log, 49, 1);
    ASSERT_GE(at, 0);
    EXPECT_EQ(at + 1, findWrite(log, 48, 3, static_cast<size_t>(at)));
    EXPECT_EQ(256, sensorGetParameter(h, SENSOR_PARAM_WIDTH));
    EXPECT_EQ(kDevice0 | (kDevice1 << 8), sensorGetParameter(h, SENSOR_PARAM_HW_VERSION));
}

TEST_F(SensorTest, OpenFailsWhenTheConnectionCannotBeMade) {
    int dev = addSensor();
    _XUSBDevice rec = record();
    qxsim_set_open_fails(dev, 1);
    EXPECT_EQ(nullptr, sensorOpen(&rec));
    EXPECT_EQ(nullptr, sensorOpen(nullptr));
}

struct CorruptCase {
    int block;
    const char *message;
};

class CorruptEeprom : public SensorTest, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptEeprom, OpenFailsAndClosesTheConnection) {
    int dev = addSensor();
    qxsim_corrupt_block(dev, GetParam().block);
    _XUSBDevice rec = record();
    XLogConfigure(0, XLOG_TYPE_STDOUT, nullptr);
    ::testing::internal::CaptureStdout();
    void *h = sensorOpen(&rec);
    std::string out = ::testing::internal::GetCapturedStdout();
    XLogConfigure(7, XLOG_TYPE_STDOUT, nullptr);
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(0, qxsim_open_connections());
    EXPECT_NE(std::string::npos, out.find(GetParam().message)) << out;
}

INSTANTIATE_TEST_SUITE_P(
    EachBlock, CorruptEeprom,
    ::testing::Values(CorruptCase{QXSIM_BLOCK_DISTORTION, "Debug: GetDistortionParam 3 !"},
                      CorruptCase{QXSIM_BLOCK_PERSPECTIVE, "Debug: GetDistortionParam 5"},
                      CorruptCase{QXSIM_BLOCK_EXPOSURE, "Debug: GetExposureParameters Fail !"},
                      CorruptCase{QXSIM_BLOCK_LED, "Debug: GetLEDParameters Fail !"}));

// Values with valid checksums that would size buffers or index tables
// beyond what the plug-in holds.
struct HostileCase {
    const char *name;
    int offset;
    int value;
};

class HostileEeprom : public SensorTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileEeprom, OpenRefusesOutOfRangeGeometry) {
    int dev = addSensor();
    put16(qxsim_eeprom(dev) + GetParam().offset, GetParam().value);
    qxsim_fix_checksums(dev);
    _XUSBDevice rec = record();
    EXPECT_EQ(nullptr, sensorOpen(&rec)) << GetParam().name;
    EXPECT_EQ(0, qxsim_open_connections());
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, HostileEeprom,
    ::testing::Values(HostileCase{"origin wider than a frame", 4, 4000},
                      HostileCase{"origin taller than a frame", 6, 1201},
                      HostileCase{"negative origin", 4, -1600},
                      HostileCase{"zero origin height", 6, 0},
                      HostileCase{"top-left corner beyond the origin", 8, 1601},
                      HostileCase{"negative corner", 10, -5},
                      HostileCase{"bottom-left row beyond the origin", 18, 1300},
                      HostileCase{"zero width", 24, 0x3000},
                      HostileCase{"image larger than a frame", 26, 60000},
                      HostileCase{"zero height", 26, 0}),
    [](const ::testing::TestParamInfo<HostileCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(SensorTest, WidthFlagBitsHaveNoEffect) {
    int dev = addSensor();
    put16(qxsim_eeprom(dev) + 24, 0xF000 | 200);
    qxsim_fix_checksums(dev);
    void *h = open();
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(200, sensorGetParameter(h, SENSOR_PARAM_WIDTH));
}

TEST_F(SensorTest, ExtremeReferencePointsStillCaptureSafely) {
    // Out-of-range points fall back to the default; (1200, 1200) is kept and
    // puts the outer lines past the frame edge, so that finger times out.
    const int points[][2] = {{0, 0}, {-32768, 32767}, {1200, 1200}};
    for (const auto &p : points) {
        const bool edge = p[0] == 1200;
        for (void *open : handles_) sensorClose(open);
        handles_.clear();
        qxsim_reset();
        int dev = addSensor();
        put16(qxsim_eeprom(dev) + 106, p[0]);
        put16(qxsim_eeprom(dev) + 108, p[1]);
        void *h = open();
        ASSERT_NE(nullptr, h) << p[0] << "," << p[1];
        sensorSetParameter(h, SENSOR_PARAM_ANTI_FAKE, 1);
        placeFinger(dev);
        // Lines and blocks fall back or sample background; the finger is
        // still judged (sharp enough to pass the lines) without stray reads.
        std::vector<unsigned char> img(kNativeW * kNativeH);
        EXPECT_EQ(edge ? 0 : kNativeW * kNativeH, sensorCapture(h, img.data(), static_cast<int>(img.size())))
            << p[0] << "," << p[1];
        if (!edge) {
            EXPECT_NE(0, sensorGetParameter(h, SENSOR_PARAM_FAKE_STATUS));
        }
    }
}

TEST_F(SensorTest, ByteReadsReplaceAShortBlockRead) {
    int dev = addSensor();
    qxsim_set_eeprom_limits(dev, 100, 256);
    void *h = open();
    ASSERT_NE(nullptr, h);
    EXPECT_GT(qxsim_stats(dev).eeprom_byte_reads, 0);
    EXPECT_EQ(kNativeW, sensorGetParameter(h, SENSOR_PARAM_WIDTH));
    char id[16];
    int len = 16;
    EXPECT_EQ(0, sensorGetParameterEx(h, SENSOR_PARAM_SENSOR_ID, id, &len));
}

TEST_F(SensorTest, FailingByteReadsFailTheBlockTheyCut) {
    int dev = addSensor();
    qxsim_set_eeprom_limits(dev, 0, 115);  // the LED block is cut short
    _XUSBDevice rec = record();
    EXPECT_EQ(nullptr, sensorOpen(&rec));
    EXPECT_EQ(0, qxsim_open_connections());

    qxsim_set_eeprom_limits(dev, 0, 200);  // only the identity block is cut
    void *h = open();
    ASSERT_NE(nullptr, h);
    char id[16];
    int len = 16;
    EXPECT_EQ(-3, sensorGetParameterEx(h, SENSOR_PARAM_SENSOR_ID, id, &len)) << "empty identity";
}

TEST_F(SensorTest, CloseSwitchesTheSensorOffAndReleasesTheConnection) {
    int dev = addSensor();
    void *h = open();
    ASSERT_NE(nullptr, h);
    qxsim_clear_stats(dev);
    close(h);
    EXPECT_EQ(0, qxsim_open_connections());
    auto log = writes(dev);
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(std::make_pair(21, 0), log[0]);
    EXPECT_EQ(std::make_pair(48, 0), log[1]);
    EXPECT_EQ(std::make_pair(49, 0), log[2]);
    EXPECT_EQ(-2, sensorClose(nullptr));
}

TEST_F(SensorTest, ReopenKeepsSettingsAndResendsThem) {
    int dev = addSensor();
    void *h = open();
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_DPI, 250));
    ASSERT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_ANTI_FAKE, 1));
    ASSERT_EQ(0, sensorSetParameter(h, SENSOR_PARAM_QUALITY_LEVEL, 300));
    qxsim_clear_stats(dev);
    EXPECT_EQ(0, sensorReOpen(h));
    EXPECT_EQ(1, qxsim_open_connections());
    EXPECT_EQ(1, qxsim_stats(dev).opens);
    EXPECT_EQ(1, qxsim_stats(dev).closes);
    auto log = writes(dev);
    EXPECT_GE(findWrite(log, 51, 25), 0);
    EXPECT_GE(findWrite(log, 50, 1), 0);
    EXPECT_GE(findWrite(log, 48, 3), 0);
    EXPECT_LT(findWrite(log, 0, 200 * 256 + 1), 0) << "LEDs are not reprogrammed";
    EXPECT_EQ(128, sensorGetParameter(h, SENSOR_PARAM_WIDTH));
    EXPECT_EQ(300, sensorGetParameter(h, SENSOR_PARAM_QUALITY_LEVEL));
    placeFinger(dev);
    std::vector<unsigned char> img(128 * 180);
    EXPECT_EQ(128 * 180, sensorCapture(h, img.data(), static_cast<int>(img.size())));
}

TEST_F(SensorTest, ReopenOfAnUnreachableDeviceKeepsTheOldConnection) {
    int dev = addSensor();
    void *h = open();
    ASSERT_NE(nullptr, h);
    qxsim_set_open_fails(dev, 1);
    EXPECT_EQ(-1, sensorReOpen(h));
    EXPECT_EQ(1, qxsim_open_connections());
    EXPECT_EQ(0, sensorStatus(h));
    EXPECT_EQ(-2, sensorReOpen(nullptr));
}

TEST_F(SensorTest, StatusFollowsRegister85AndLostDevices) {
    int dev = addSensor();
    void *h = open();
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, sensorStatus(h));
    qxsim_set_unresponsive(dev, 1);
    EXPECT_EQ(-1, sensorStatus(h));
    qxsim_set_unresponsive(dev, 0);
    EXPECT_EQ(-2, sensorStatus(nullptr));

    std::vector<unsigned char> img(kNativeW * kNativeH);
    qxsim_set_lost(dev, 1);
    EXPECT_EQ(SENSOR_LOST_DEVICE, sensorCapture(h, img.data(), static_cast<int>(img.size())));
    EXPECT_EQ(SENSOR_LOST_DEVICE, sensorStatus(h));
    qxsim_set_lost(dev, 0);
    const int reads85 = qxsim_stats(dev).register_reads[85];
    EXPECT_EQ(SENSOR_LOST_DEVICE, sensorStatus(h)) << "kept until a capture succeeds";
    EXPECT_EQ(reads85, qxsim_stats(dev).register_reads[85]);
    EXPECT_EQ(0, sensorCapture(h, img.data(), static_cast<int>(img.size()))) << "no finger: nothing taken";
    EXPECT_EQ(SENSOR_LOST_DEVICE, sensorStatus(h));
    placeFinger(dev);
    EXPECT_EQ(kNativeW * kNativeH, sensorCapture(h, img.data(), static_cast<int>(img.size())));
    EXPECT_EQ(0, sensorStatus(h));
    EXPECT_EQ(reads85 + 1, qxsim_stats(dev).register_reads[85]);
}

TEST_F(SensorTest, PassThroughCalls) {
    int dev = addSensor();
    void *h = open();
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0, sensorReboot(h));
    _XUSBDevice rec = record();
    EXPECT_EQ(0, sensorRebootEx(&rec));
    EXPECT_EQ(2, qxsim_stats(dev).reboots);
    EXPECT_EQ(0, sensorCheck(h, 1));
    qxsim_set_unresponsive(dev, 1);
    EXPECT_EQ(-1, sensorCheck(h, 1));
    const unsigned char firmware[16] = {1, 2, 3};
    EXPECT_EQ(0, sensorUpgrade(h, const_cast<unsigned char *>(firmware), 16));
    EXPECT_EQ(0, sensorWDTEnable(h, 5));
    EXPECT_EQ(5, qxsim_register(dev, 86));
    EXPECT_EQ(0, sensorWDTReset(h));
    EXPECT_EQ(0, qxsim_register(dev, 87));
    EXPECT_EQ(0, sensorGetName(h));
    for (int rc : {sensorReboot(nullptr), sensorCheck(nullptr, 0), sensorUpgrade(nullptr, nullptr, 0),
                   sensorWDTEnable(nullptr, 1), sensorWDTReset(nullptr)})
        EXPECT_EQ(-2, rc);
}

TEST(SensorLog, LevelTypeAndTag) {
    ::testing::internal::CaptureStdout();
    XLogPrintf(6, nullptr, "hidden %d\n", 1);
    sensorSetLogLevel(0);  // does not reach the logger
    XLogPrintf(3, "T", "hidden too\n");
    XLogPrintf(7, nullptr, "shown %d\n", 2);
    XLogPrintf(9, "ABC", "tagged\n");
    EXPECT_EQ("TAG[VXT41M],shown 2\nTAG[ABC],tagged\n", ::testing::internal::GetCapturedStdout());

    std::string path = ::testing::TempDir() + "fpcap_xlog_test.log";
    std::remove(path.c_str());
    XLogConfigure(0, XLOG_TYPE_FILE, path.c_str());
    ::testing::internal::CaptureStdout();
    XLogPrintf(1, nullptr, "one\n");
    XLogPrintf(1, "X", "two\n");
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    XLogConfigure(7, XLOG_TYPE_STDOUT, nullptr);
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ("TAG[VXT41M],one\nTAG[X],two\n", content.str());
    std::remove(path.c_str());
}
