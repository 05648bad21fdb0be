// The capture procedure: finger detection, quality gate, liveness frames,
// direct capture, device-side processing and lost devices.
#include "test_sensor_support.h"

#include <algorithm>
#include <string>

#include "qxsensorcore.h"
#include "quality/fiq.h"
#include "sensor/device.h"

using namespace fpcap_test;

namespace {

constexpr int kImage = kNativeW * kNativeH;

// The plug-in's clock for one test: it moves on by one frame time whenever the
// plug-in reads it (and by the time of every pause), so the two seconds a
// capture may take pass without any waiting.
class FrameTicks {
public:
    explicit FrameTicks(uint32_t frameMs) : frameMs_(frameMs) {
        const fpcap_tick_source source = {&FrameTicks::read, &FrameTicks::pause, this};
        fpcap_set_tick_source(&source);
    }
    ~FrameTicks() { fpcap_set_tick_source(nullptr); }
    FrameTicks(const FrameTicks &) = delete;
    FrameTicks &operator=(const FrameTicks &) = delete;

    uint32_t now() const { return now_; }

private:
    static uint32_t read(void *self) {
        auto *ticks = static_cast<FrameTicks *>(self);
        ticks->now_ += ticks->frameMs_;
        return ticks->now_;
    }
    static void pause(void *self, int ms) { static_cast<FrameTicks *>(self)->now_ += static_cast<uint32_t>(ms); }

    uint32_t frameMs_;
    uint32_t now_ = 1000000;
};

std::vector<int> lights(int dev) {
    std::vector<int> out(64);
    out.resize(static_cast<size_t>(qxsim_light_log(dev, out.data(), 64)));
    return out;
}

}  // namespace

class Capture : public SensorTest {
protected:
    void openSensor(int hw0 = kHost0, int hw1 = kHost1) {
        dev_ = addSensor(288, hw0, hw1);
        h_ = open();
        ASSERT_NE(nullptr, h_);
        qxsim_clear_stats(dev_);
    }
    int capture() { return sensorCapture(h_, image_.data(), static_cast<int>(image_.size())); }
    int capture(std::string *out) {
        ::testing::internal::CaptureStdout();
        int n = capture();
        *out = ::testing::internal::GetCapturedStdout();
        return n;
    }
    int fakeStatus() { return static_cast<int>(reinterpret_cast<__HandleDev *>(h_)->fakeStatus); }

    int dev_ = -1;
    void *h_ = nullptr;
    std::vector<unsigned char> image_ = std::vector<unsigned char>(kImage);
};

TEST_F(Capture, NoFingerReadsOneRegisterAndReturnsZero) {
    openSensor();
    reinterpret_cast<__HandleDev *>(h_)->fakeStatus = 0xFFFFFFEFu;  // verdict of an earlier finger
    EXPECT_EQ(0, capture());
    QXSimStats st = qxsim_stats(dev_);
    EXPECT_EQ(1, st.register_reads[1]);
    EXPECT_EQ(0, st.image_reads);
    EXPECT_EQ(0, st.register_writes[21]) << "no light switched on";
    EXPECT_EQ(-17, fakeStatus());
}

TEST_F(Capture, RefusesArgumentsBeforeTouchingTheDevice) {
    openSensor();
    placeFinger(dev_);
    std::vector<unsigned char> small(kImage - 1, 0xAB);
    EXPECT_EQ(-3, sensorCapture(h_, small.data(), static_cast<int>(small.size())));
    for (unsigned char v : small) ASSERT_EQ(0xAB, v);
    EXPECT_EQ(-2, sensorCapture(nullptr, image_.data(), kImage));
    EXPECT_EQ(-2, sensorCapture(h_, nullptr, kImage));
    EXPECT_EQ(0, qxsim_stats(dev_).register_reads[1]);
    EXPECT_EQ(0, qxsim_stats(dev_).image_reads);
    // A larger buffer is fine; only the image is written.
    std::vector<unsigned char> big(kImage + 16, 0xAB);
    EXPECT_EQ(kImage, sensorCapture(h_, big.data(), static_cast<int>(big.size())));
    EXPECT_EQ(0xAB, big[kImage]);
}

TEST_F(Capture, SharpFingerGivesAnUprightCorrectedImage) {
    openSensor();
    std::vector<unsigned char> truth(kImage), other(kImage);
    for (int finger = 0; finger < 3; ++finger) {
        QXSimFinger f = qxsim_default_finger();
        f.finger_id = finger;
        placeFinger(dev_, f);
        qxsim_clear_stats(dev_);
        ASSERT_EQ(kImage, capture()) << "finger " << finger;
        EXPECT_EQ(1, qxsim_stats(dev_).image_reads) << "no further frame without anti-fake";
        EXPECT_EQ(std::vector<int>{15}, lights(dev_));
        EXPECT_EQ(0, qxsim_register(dev_, 21)) << "light off afterwards";
        EXPECT_GE(sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS), -1);
        EXPECT_EQ(0, fakeStatus());
        EXPECT_GE(reinterpret_cast<__HandleDev *>(h_)->lastFiq, 100);

        qxsim_render_upright(dev_, kNativeW, kNativeH, truth.data());
        EXPECT_GT(correlation(image_, truth), 0.9) << "finger " << finger;
        f.finger_id = finger + 1;
        qxsim_set_finger(dev_, &f);
        qxsim_render_upright(dev_, kNativeW, kNativeH, other.data());
        EXPECT_LT(std::fabs(correlation(image_, other)), 0.3) << "fingers are distinct";
        liftFinger(dev_);
    }
}

TEST_F(Capture, PressedFingerIsTakenOnceItIsSharp) {
    openSensor();
    QXSimFinger f = qxsim_default_finger();
    f.press_frames = 12;
    placeFinger(dev_, f);
    ASSERT_EQ(kImage, capture());
    const int frames = qxsim_stats(dev_).image_reads;
    EXPECT_GT(frames, 1);
    EXPECT_LT(frames, 13);
    EXPECT_GE(reinterpret_cast<__HandleDev *>(h_)->lastFiq, 100);
}

TEST_F(Capture, LowQualityFingerGivesUpAfterTwoSeconds) {
    openSensor();
    FrameTicks ticks(100);
    QXSimFinger f = qxsim_default_finger();
    f.contrast = 12;
    placeFinger(dev_, f);
    std::string out;
    const uint32_t start = ticks.now();
    EXPECT_EQ(0, capture(&out));
    const uint32_t ms = ticks.now() - start;
    EXPECT_GE(ms, 2000u);
    EXPECT_GT(qxsim_stats(dev_).image_reads, 3) << "frames are read one after another";
    EXPECT_EQ(0, qxsim_register(dev_, 21));
    EXPECT_NE(std::string::npos, out.find("Fingerprint quality is low ")) << out;
}

TEST_F(Capture, LiveFingerPassesTheLivenessFrames) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    placeFinger(dev_);
    ASSERT_EQ(kImage, capture());
    EXPECT_EQ(-1, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS));
    // Accepted frame, anti-fake frame, then one more under the capture light.
    EXPECT_EQ((std::vector<int>{15, 48, 15}), lights(dev_));
    EXPECT_EQ(0, qxsim_register(dev_, 21));
    std::vector<unsigned char> truth(kImage);
    qxsim_render_upright(dev_, kNativeW, kNativeH, truth.data());
    EXPECT_GT(correlation(image_, truth), 0.9) << "the image is the first accepted frame";
}

TEST_F(Capture, LivenessWorksAtEveryResolution) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    for (int dpi : {100, 130, 155, 250}) {
        ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_DPI, dpi));
        const int w = sensorGetParameter(h_, SENSOR_PARAM_WIDTH), h = sensorGetParameter(h_, SENSOR_PARAM_HEIGHT);
        if (dpi == 100) {
            ASSERT_EQ(51, w);
            ASSERT_EQ(72, h);
        }
        std::vector<unsigned char> image(static_cast<size_t>(w * h)), truth(image.size());
        for (int liveness : {QXSIM_LIVE, QXSIM_FAKE_BOTH}) {
            QXSimFinger f = qxsim_default_finger();
            f.liveness = liveness;
            placeFinger(dev_, f);
            qxsim_clear_stats(dev_);
            ASSERT_EQ(w * h, sensorCapture(h_, image.data(), w * h)) << "dpi " << dpi;
            EXPECT_EQ(liveness == QXSIM_LIVE ? -1 : -25, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS))
                << "dpi " << dpi;
            EXPECT_EQ(3, qxsim_stats(dev_).image_reads) << "the first frame is taken, dpi " << dpi;
            qxsim_render_upright(dev_, w, h, truth.data());
            EXPECT_GT(correlation(image, truth), 0.6) << "dpi " << dpi;
            liftFinger(dev_);
        }
    }
}

TEST_F(Capture, ImagesTooSmallToJudgeSkipThePatchCheckAndSayIt) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_DPI, 20));
    const int w = sensorGetParameter(h_, SENSOR_PARAM_WIDTH), h = sensorGetParameter(h_, SENSOR_PARAM_HEIGHT);
    ASSERT_EQ(10, w);
    ASSERT_EQ(14, h);
    placeFinger(dev_);
    std::vector<unsigned char> image(static_cast<size_t>(w * h));
    ::testing::internal::CaptureStdout();
    const int n = sensorCapture(h_, image.data(), w * h);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(w * h, n);
    EXPECT_NE(std::string::npos, out.find("too small for the patch check")) << out;
    EXPECT_EQ(-1, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS)) << "liveness is still judged";

    // Only where a finger is judged: polling an empty sensor stays quiet.
    liftFinger(dev_);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, sensorCapture(h_, image.data(), w * h));
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
}

struct FakeCase {
    int liveness;
    int status;
};

class FakeFinger : public Capture, public ::testing::WithParamInterface<FakeCase> {};

TEST_P(FakeFinger, VerdictBits) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    for (int level = 0; level <= 2; ++level) {
        ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE_LEVEL, level));
        QXSimFinger f = qxsim_default_finger();
        f.liveness = GetParam().liveness;
        placeFinger(dev_, f);
        EXPECT_EQ(kImage, capture());
        EXPECT_EQ(GetParam().status, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS)) << "level " << level;
        liftFinger(dev_);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FakeFinger,
                         ::testing::Values(FakeCase{QXSIM_LIVE, -1}, FakeCase{QXSIM_FAKE_SPREAD, -17},
                                           FakeCase{QXSIM_FAKE_OPAQUE, -9}, FakeCase{QXSIM_FAKE_BOTH, -25}));

TEST_F(Capture, FlatPatchIsRefusedWithAntiFakeOnly) {
    openSensor();
    QXSimFinger f = qxsim_default_finger();
    f.dry_patch = 1;
    placeFinger(dev_, f);
    // The frame itself scores well; only its left patch is flat.
    __HandleDev *hd = reinterpret_cast<__HandleDev *>(h_);
    std::vector<unsigned char> raw(RAW_FRAME_SIZE);
    QXFPI_SetGPIO(hd->core, 21, 15);
    ASSERT_EQ(RAW_FRAME_SIZE, QXFPI_GetImage(hd->core, raw.data(), RAW_FRAME_SIZE));
    int patch[4];
    ComputeMainFIQEx(hd->correction, raw.data(), 1600, 1200, kNativeW, kNativeH, patch);
    EXPECT_LT(patch[0], 10);
    EXPECT_GE(patch[1], 10);
    EXPECT_GE(ComputeMainFIQ(hd->antiFake, raw.data(), 1600, 1200), 200);

    FrameTicks ticks(100);
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    std::string out;
    EXPECT_EQ(0, capture(&out));
    EXPECT_NE(std::string::npos, out.find("Fingerprint quality is low ")) << out;
    EXPECT_EQ(0, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS));

    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 0));
    EXPECT_EQ(kImage, capture());
}

TEST_F(Capture, FingerLiftedDuringTheLivenessCheckLeavesNoVerdict) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    QXSimFinger f = qxsim_default_finger();
    f.lift_after = 2;  // gone before the last frame
    placeFinger(dev_, f);
    std::string out;
    ASSERT_EQ(kImage, capture(&out));
    EXPECT_EQ(0, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS));
    EXPECT_NE(std::string::npos, out.find("finger leave fast, please press slowly!!!!!!!!!!!!")) << out;
    std::vector<unsigned char> truth(kImage);
    qxsim_render_upright(dev_, kNativeW, kNativeH, truth.data());
    EXPECT_GT(correlation(image_, truth), 0.9);
}

TEST_F(Capture, LostDuringTheLivenessFrameDropsTheImage) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    placeFinger(dev_);
    qxsim_set_lost_after(dev_, 1);  // the anti-fake frame never arrives
    std::fill(image_.begin(), image_.end(), 0x11);
    EXPECT_EQ(SENSOR_LOST_DEVICE, capture());
    EXPECT_EQ(0x11, image_[0]);
    EXPECT_EQ(0x11, image_[kImage - 1]);
    EXPECT_EQ(SENSOR_LOST_DEVICE, sensorStatus(h_));
}

TEST_F(Capture, ShortRawFramesAreReadAgain) {
    openSensor();
    placeFinger(dev_);
    ASSERT_EQ(kImage, capture());  // the buffers now hold this finger's frame
    liftFinger(dev_);

    QXSimFinger f = qxsim_default_finger();
    f.finger_id = 1;
    placeFinger(dev_, f);
    qxsim_clear_stats(dev_);
    qxsim_set_short_frames(dev_, 0, 3, RAW_FRAME_SIZE / 2);
    ASSERT_EQ(kImage, capture());
    EXPECT_EQ(4, qxsim_stats(dev_).image_reads) << "three short frames, then a whole one";
    std::vector<unsigned char> truth(kImage);
    qxsim_render_upright(dev_, kNativeW, kNativeH, truth.data());
    EXPECT_GT(correlation(image_, truth), 0.9) << "nothing of the earlier finger";
    EXPECT_EQ(0, qxsim_register(dev_, 21));
}

TEST_F(Capture, OnlyShortRawFramesGiveNoImage) {
    openSensor();
    FrameTicks ticks(100);
    placeFinger(dev_);
    qxsim_set_image_limit(dev_, RAW_FRAME_SIZE - 1);
    std::fill(image_.begin(), image_.end(), 0x33);
    std::string out;
    const uint32_t start = ticks.now();
    EXPECT_EQ(0, capture(&out));
    const uint32_t ms = ticks.now() - start;
    EXPECT_GE(ms, 2000u) << "read again within the capture's time";
    EXPECT_GT(qxsim_stats(dev_).image_reads, 3);
    EXPECT_EQ(0x33, image_[0]);
    EXPECT_EQ(0x33, image_[kImage - 1]);
    EXPECT_EQ(0, qxsim_register(dev_, 21)) << "light off";
    EXPECT_NE(std::string::npos, out.find("Fingerprint frame incomplete 1919999 of 1920000 bytes")) << out;

    // Direct capture: the same rule within the same time.
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_DIRECT_CAPTURE, 1));
    EXPECT_EQ(0, capture());
    qxsim_set_image_limit(dev_, 0);
    qxsim_set_short_frames(dev_, 0, 2, 1000);
    qxsim_clear_stats(dev_);
    EXPECT_EQ(kImage, capture());
    EXPECT_EQ(3, qxsim_stats(dev_).image_reads);
}

TEST_F(Capture, ShortLivenessFramesAreReadAgain) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    for (int liveness : {QXSIM_FAKE_BOTH, QXSIM_LIVE}) {
        QXSimFinger f = qxsim_default_finger();
        f.liveness = liveness;
        placeFinger(dev_, f);
        qxsim_clear_stats(dev_);
        // The anti-fake frame arrives cut short twice.
        qxsim_set_short_frames(dev_, 1, 2, RAW_FRAME_SIZE / 3);
        ASSERT_EQ(kImage, capture());
        EXPECT_EQ((std::vector<int>{15, 48, 48, 48, 15}), lights(dev_));
        EXPECT_EQ(liveness == QXSIM_LIVE ? -1 : -25, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS));
        liftFinger(dev_);
    }
    // The last frame under the capture light cut short is read again too.
    placeFinger(dev_);
    qxsim_set_short_frames(dev_, 2, 1, 1000);
    ASSERT_EQ(kImage, capture());
    EXPECT_EQ((std::vector<int>{15, 48, 15, 15}), lights(dev_));
    EXPECT_EQ(-1, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS));
}

TEST_F(Capture, CorrectionFailureReturnsNothing) {
    openSensor();
    placeFinger(dev_);
    // A map that no longer matches the output size must not be used.
    __HandleDev *hd = reinterpret_cast<__HandleDev *>(h_);
    ASSERT_EQ(0, correct_size_target(hd->correction, 100, 100));
    std::fill(image_.begin(), image_.end(), 0x22);
    EXPECT_EQ(0, capture());
    EXPECT_EQ(0x22, image_[0]);
    EXPECT_EQ(0, qxsim_register(dev_, 21));
}

TEST_F(Capture, DirectCaptureOnAHostSensor) {
    openSensor();
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_DIRECT_CAPTURE, 1));
    placeFinger(dev_);
    qxsim_clear_stats(dev_);
    ASSERT_EQ(kImage, capture());
    QXSimStats st = qxsim_stats(dev_);
    EXPECT_EQ(0, st.register_reads[1]);
    EXPECT_EQ(0, st.register_writes[21]);
    EXPECT_EQ(1, st.image_reads);
    EXPECT_GE(reinterpret_cast<__HandleDev *>(h_)->lastFiq, 100);
    // Without a finger there is still a frame: an empty window.
    liftFinger(dev_);
    EXPECT_EQ(kImage, capture());
}

TEST_F(Capture, DeviceProcessingSensorDetectsByItself) {
    openSensor(kDevice0, kDevice1);
    EXPECT_EQ(0, capture()) << "no finger";
    QXSimFinger f = qxsim_default_finger();
    f.device_quality = 73;
    placeFinger(dev_, f);
    ASSERT_EQ(kImage, capture());
    EXPECT_EQ(73, sensorGetParameter(h_, SENSOR_PARAM_DEVICE_QUALITY));
    EXPECT_EQ(0, qxsim_stats(dev_).register_reads[64]) << "liveness not asked with anti-fake off";
    std::vector<unsigned char> truth(kImage);
    qxsim_render_upright(dev_, kNativeW, kNativeH, truth.data());
    EXPECT_GT(correlation(image_, truth), 0.95);

    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_ANTI_FAKE, 1));
    const std::pair<int, int> verdicts[] = {
        {QXSIM_LIVE, -1}, {QXSIM_FAKE_SPREAD, -17}, {QXSIM_FAKE_OPAQUE, -9}, {QXSIM_FAKE_BOTH, -25}};
    for (const auto &v : verdicts) {
        f.liveness = v.first;
        placeFinger(dev_, f);
        ASSERT_EQ(kImage, capture());
        EXPECT_EQ(v.second, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS));
    }
    // A short image leaves the verdict alone and is passed on as it is.
    qxsim_set_image_limit(dev_, 1000);
    f.liveness = QXSIM_LIVE;
    placeFinger(dev_, f);
    EXPECT_EQ(1000, capture());
    EXPECT_EQ(-25, sensorGetParameter(h_, SENSOR_PARAM_FAKE_STATUS));
    EXPECT_EQ(73, sensorGetParameter(h_, SENSOR_PARAM_DEVICE_QUALITY));
}

TEST_F(Capture, DirectCaptureOnADeviceProcessingSensor) {
    openSensor(kDevice0, kDevice1);
    ASSERT_EQ(0, sensorSetParameter(h_, SENSOR_PARAM_DIRECT_CAPTURE, 1));
    placeFinger(dev_);
    qxsim_clear_stats(dev_);
    EXPECT_EQ(kImage, capture());
    EXPECT_EQ(1, qxsim_stats(dev_).image_reads);
    EXPECT_EQ(0, qxsim_stats(dev_).detect_calls);
}

TEST_F(Capture, LostDeviceIsCountedUntilACaptureSucceeds) {
    openSensor();
    placeFinger(dev_);
    qxsim_set_lost(dev_, 1);
    __HandleDev *hd = reinterpret_cast<__HandleDev *>(h_);
    EXPECT_EQ(SENSOR_LOST_DEVICE, capture());
    EXPECT_EQ(SENSOR_LOST_DEVICE, capture());
    EXPECT_EQ(2, hd->lostCount);
    EXPECT_EQ(SENSOR_LOST_DEVICE, sensorStatus(h_));
    qxsim_set_lost(dev_, 0);
    EXPECT_EQ(0, sensorReOpen(h_));
    ASSERT_EQ(kImage, capture());
    EXPECT_EQ(0, hd->lostCount);
    EXPECT_EQ(0, sensorStatus(h_));
}
