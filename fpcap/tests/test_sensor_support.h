// Shared set-up for the plug-in tests: a fresh simulated bus per test and
// helpers to open a sensor through the exported interface.
#ifndef TEST_SENSOR_SUPPORT_H
#define TEST_SENSOR_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "qxfpcap.h"
#include "qxsensorcore_sim.h"

namespace fpcap_test {

constexpr int kHost0 = 3, kHost1 = 1;    // hardware version of a host-processing sensor
constexpr int kDevice0 = 5, kDevice1 = 1; // device-processing sensor
constexpr int kNativeW = 256, kNativeH = 360;

// Normalised cross-correlation of two images of the same size.
inline double correlation(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b) {
    double ma = 0, mb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= static_cast<double>(a.size());
    mb /= static_cast<double>(b.size());
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

class SensorTest : public ::testing::Test {
protected:
    void SetUp() override { qxsim_reset(); }
    void TearDown() override {
        for (void *h : handles_) sensorClose(h);
        qxsim_reset();
    }

    // Adds a sensor and returns its index in the simulation.
    int addSensor(int pid = 288, int hw0 = kHost0, int hw1 = kHost1) {
        return qxsim_add_sensor(6997, pid, hw0, hw1);
    }

    // Enumerated record of the n-th listed sensor.
    _XUSBDevice record(int n = 0) {
        std::vector<_XUSBDevice> list(16);
        int count = sensorEnumDevices(list.data(), static_cast<int>(list.size()));
        EXPECT_GT(count, n);
        return count > n ? list[static_cast<size_t>(n)] : _XUSBDevice{};
    }

    void *open(int n = 0) {
        _XUSBDevice rec = record(n);
        void *h = sensorOpen(&rec);
        if (h) handles_.push_back(h);
        return h;
    }

    void close(void *h) {
        for (auto it = handles_.begin(); it != handles_.end(); ++it)
            if (*it == h) {
                handles_.erase(it);
                break;
            }
        sensorClose(h);
    }

    static void placeFinger(int dev, QXSimFinger f) {
        f.present = 1;
        qxsim_set_finger(dev, &f);
    }
    static void placeFinger(int dev) { placeFinger(dev, qxsim_default_finger()); }
    static void liftFinger(int dev) {
        QXSimFinger f = qxsim_default_finger();
        qxsim_set_finger(dev, &f);
    }

    // Register writes recorded by the simulation, in order.
    static std::vector<std::pair<int, int>> writes(int dev) {
        std::vector<int> regs(4096), values(4096);
        int n = qxsim_write_log(dev, regs.data(), values.data(), 4096);
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < n; ++i) out.emplace_back(regs[static_cast<size_t>(i)], values[static_cast<size_t>(i)]);
        return out;
    }

    std::vector<void *> handles_;
};

}  // namespace fpcap_test

#endif
