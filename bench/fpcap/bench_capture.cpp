// One full sensorCapture of a placed live finger with anti-fake on, against
// the stand-in sensor library: total time, the stand-in's own frame
// generation, and the plug-in's share (the difference). Also the resolution
// change through the exported interface (map rebuild included).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "qxfpcap.h"
#include "qxsensorcore_sim.h"

namespace {

constexpr int kSettleMs = 10; // pause after the capture light is switched on

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

double now_ms()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Figures {
    double total, frames, plugin;
    int reads;
};

Figures capture_figures(void *handle, int dev, int runs, int liveness)
{
    std::vector<unsigned char> image(size_t(sensorGetParameter(handle, 106)));
    std::vector<double> total, frames, plugin;
    int reads = 0;
    for (int i = 0; i < runs + 3; ++i) {
        QXSimFinger finger = qxsim_default_finger();
        qxsim_set_finger(dev, &finger); // lift
        finger.present = 1;
        finger.liveness = liveness;
        qxsim_set_finger(dev, &finger);
        qxsim_clear_stats(dev);
        const double start = now_ms();
        const int n = sensorCapture(handle, image.data(), int(image.size()));
        const double elapsed = now_ms() - start;
        if (n != int(image.size())) {
            std::fprintf(stderr, "capture returned %d\n", n);
            return {0, 0, 0, 0};
        }
        const QXSimStats st = qxsim_stats(dev);
        if (i >= 3) { // warm-up: textures and maps are built on first use
            total.push_back(elapsed);
            frames.push_back(st.render_ms);
            plugin.push_back(elapsed - st.render_ms);
            reads = st.image_reads;
        }
    }
    return {median(total), median(frames), median(plugin), reads};
}

double dpi_change_ms(void *handle, int runs)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const double start = now_ms();
        sensorSetParameter(handle, 3, i % 2 ? 500 : 400);
        t.push_back(now_ms() - start);
    }
    sensorSetParameter(handle, 3, 500);
    return median(t);
}

} // namespace

int main()
{
    qxsim_reset();
    const int dev = qxsim_add_sensor(6997, 288, 3, 1);
    _XUSBDevice record[4];
    if (sensorEnumDevices(record, 4) != 1) {
        std::fprintf(stderr, "no simulated sensor\n");
        return 1;
    }
    void *handle = sensorOpen(&record[0]);
    if (handle == nullptr) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    sensorSetParameter(handle, 2002, 1);
    const int runs = 30;
    const Figures live = capture_figures(handle, dev, runs, QXSIM_LIVE);
    std::printf("sensorCapture, live finger, anti-fake on (%dx%d, %d frames read), median of %d:\n",
                sensorGetParameter(handle, 1), sensorGetParameter(handle, 2), live.reads, runs);
    std::printf("  total %.2f ms, stand-in frame generation %.2f ms, plug-in %.2f ms\n", live.total,
                live.frames, live.plugin);
    std::printf("  plug-in without the fixed %d ms light-settling pause: %.2f ms\n", kSettleMs,
                live.plugin - kSettleMs);
    sensorSetParameter(handle, 2002, 0);
    const Figures plain = capture_figures(handle, dev, runs, QXSIM_LIVE);
    std::printf("sensorCapture, anti-fake off (%d frame read): total %.2f ms, plug-in %.2f ms (%.2f ms without the pause)\n",
                plain.reads, plain.total, plain.plugin, plain.plugin - kSettleMs);
    std::printf("resolution change 500 <-> 400 dpi (map rebuild): %.3f ms\n", dpi_change_ms(handle, 41));
    sensorClose(handle);
    qxsim_reset();
    return 0;
}
