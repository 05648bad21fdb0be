// The simulated SAM behind a pseudo-terminal: the library opens the slave
// side like a serial reader; replies leave the master at the line rate.
#pragma once

#include "sam_sim.h"

#include <atomic>
#include <string>
#include <thread>

namespace qxsim {

struct LinePacing {
    bool enabled = false;  // off: replies are written at once
    int baud = 115200;     // 8N1: ten bits per byte
};

class PtySim {
public:
    PtySim(SamSim& sam, LinePacing pacing = {});
    // Serves an existing serial line instead (the device end of a USB
    // serial gadget, say); slave_path() is then empty.
    PtySim(SamSim& sam, const std::string& line, LinePacing pacing = {});
    ~PtySim();
    PtySim(const PtySim&) = delete;
    PtySim& operator=(const PtySim&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    bool ok() const { return master_ >= 0; }
    // Wire time of every byte exchanged so far, microseconds.
    uint64_t wire_time_us() const { return wire_us_.load(); }
    uint64_t bytes_exchanged() const { return bytes_.load(); }

private:
    void serve();
    void serve_frames(Bytes& pending);
    void send_paced(const Bytes& reply);
    unsigned byte_time_us(size_t n) const;

    SamSim& sam_;
    LinePacing pacing_;
    int master_ = -1;
    int slave_hold_ = -1;  // keeps the line up while the library has it closed
    std::string slave_path_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> wire_us_{0};
    std::atomic<uint64_t> bytes_{0};
    std::thread thread_;
};

}  // namespace qxsim
