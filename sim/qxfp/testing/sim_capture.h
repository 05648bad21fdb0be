// Fingers on the simulated sensor, captured through the real plug-in, so the
// images are the corrected ones the program hands to the algorithm library.
// Shared by the library's tests and the matcher benchmark.
#ifndef QXFP_SIM_CAPTURE_H
#define QXFP_SIM_CAPTURE_H

#include "qxfpcap.h"
#include "qxsensorcore_sim.h"

#include <cstddef>
#include <vector>

namespace qxfp_sim {

class SimulatedSensor {
public:
    // hw0, hw1: hardware version; 3, 1 corrects images in the plug-in, 5, 1
    // on the sensor itself.
    explicit SimulatedSensor(int hw0 = 3, int hw1 = 1) {
        qxsim_reset();
        dev_ = qxsim_add_sensor(SENSOR_VENDOR_ID, SENSOR_PRODUCT_A, hw0, hw1);
        _XUSBDevice list[4];
        if (sensorEnumDevices(list, 4) > 0) handle_ = sensorOpen(&list[0]);
        if (handle_) {
            width_ = sensorGetParameter(handle_, SENSOR_PARAM_WIDTH);
            height_ = sensorGetParameter(handle_, SENSOR_PARAM_HEIGHT);
        }
    }
    ~SimulatedSensor() {
        if (handle_) sensorClose(handle_);
        qxsim_reset();
    }
    SimulatedSensor(const SimulatedSensor &) = delete;
    SimulatedSensor &operator=(const SimulatedSensor &) = delete;

    bool ok() const { return handle_ != nullptr && width_ > 0 && height_ > 0; }
    int width() const { return width_; }
    int height() const { return height_; }
    int device() const { return dev_; }

    // Places a finger as given, captures one corrected image and lifts the
    // finger again. Empty when the plug-in delivered nothing.
    std::vector<unsigned char> capture(int finger, const QXSimImpression &placement, int contrast = 110) {
        QXSimFinger f = qxsim_default_finger();
        f.present = 1;
        f.finger_id = finger;
        f.contrast = contrast;
        qxsim_set_impression(dev_, &placement);
        qxsim_set_finger(dev_, &f);
        std::vector<unsigned char> image(static_cast<std::size_t>(width_) * height_);
        int n = 0;
        for (int attempt = 0; attempt < 3 && n <= 0; ++attempt)
            n = sensorCapture(handle_, image.data(), static_cast<int>(image.size()));
        QXSimFinger lifted = qxsim_default_finger();
        qxsim_set_finger(dev_, &lifted);
        if (n != static_cast<int>(image.size())) image.clear();
        return image;
    }
    std::vector<unsigned char> capture(int finger) { return capture(finger, qxsim_identity_impression()); }

private:
    int dev_ = -1;
    void *handle_ = nullptr;
    int width_ = 0, height_ = 0;
};

}  // namespace qxfp_sim

#endif
