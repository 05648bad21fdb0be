// Lets a person try fingerprints on the simulated sensor. Preloaded into the
// program, it attaches one simulated sensor and follows a control file named
// by DOCSTATION_SIM_FINGER: writing a finger number into it lays that finger
// on the glass once (a little shifted and turned, as a hand would), anything
// else is ignored. Nothing happens when the variable is not set.
#include "qxsensorcore_sim.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

// The finger leaves once the frame that detected it has been read, so one
// write is one capture (the plug-in's later liveness frames then see the
// glass empty, which the dialog does not look at).
constexpr int kFramesPerPress = 1;
constexpr int kPollMs = 200;

bool changed(const std::string &path, struct stat &last)
{
    struct stat now {};
    if (stat(path.c_str(), &now) != 0)
        return false;
    const bool differs = now.st_mtim.tv_sec != last.st_mtim.tv_sec ||
                         now.st_mtim.tv_nsec != last.st_mtim.tv_nsec || now.st_size != last.st_size;
    last = now;
    return differs;
}

void press(int dev, int fingerId, unsigned seed)
{
    QXSimFinger finger = qxsim_default_finger();
    qxsim_set_finger(dev, &finger); // lifted first, so the new press starts afresh
    const QXSimImpression placement = qxsim_random_impression(seed);
    qxsim_set_impression(dev, &placement);
    finger.present = 1;
    finger.finger_id = fingerId;
    finger.lift_after = kFramesPerPress;
    qxsim_set_finger(dev, &finger);
}

void follow(std::string path, int dev)
{
    struct stat last {};
    changed(path, last); // what is there at start is not a press
    unsigned seed = 1;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        if (!changed(path, last))
            continue;
        std::ifstream file(path);
        int fingerId = -1;
        if (file >> fingerId && fingerId >= 0)
            press(dev, fingerId, seed++);
    }
}

__attribute__((constructor)) void startPresenter()
{
    const char *path = std::getenv("DOCSTATION_SIM_FINGER");
    if (!path || !*path)
        return;
    const int dev = qxsim_add_sensor(6997, 292, 3, 1);
    std::thread(follow, std::string(path), dev).detach();
}

} // namespace
