#include "pty_sim.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace qxsim {

PtySim::PtySim(SamSim& sam, LinePacing pacing) : sam_(sam), pacing_(pacing)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
        return;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        close(master_);
        master_ = -1;
        return;
    }
    slave_path_ = name;
    slave_hold_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_hold_ >= 0) {
        struct termios t;
        if (tcgetattr(slave_hold_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave_hold_, TCSANOW, &t);
        }
    }
    thread_ = std::thread([this] { serve(); });
}

PtySim::PtySim(SamSim& sam, const std::string& line, LinePacing pacing) : sam_(sam), pacing_(pacing)
{
    master_ = open(line.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0)
        return;
    // The reader's end of a real line must pass every byte as it is: no
    // echo, no CR/LF translation, no XON/XOFF, no signal characters.
    struct termios t;
    if (tcgetattr(master_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
    }
    thread_ = std::thread([this] { serve(); });
}

PtySim::~PtySim()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (slave_hold_ >= 0)
        close(slave_hold_);
    if (master_ >= 0)
        close(master_);
}

unsigned PtySim::byte_time_us(size_t n) const
{
    return static_cast<unsigned>(n * 10ull * 1000000ull / static_cast<unsigned>(pacing_.baud));
}

void PtySim::send_paced(const Bytes& reply)
{
    using clock = std::chrono::steady_clock;
    const size_t chunk = pacing_.enabled ? 32 : reply.size();
    auto start = clock::now();
    size_t sent = 0;
    while (sent < reply.size() && !stop_) {
        size_t n = std::min(chunk, reply.size() - sent);
        ssize_t w = write(master_, reply.data() + sent, n);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            return;
        }
        sent += static_cast<size_t>(w);
        if (pacing_.enabled)
            std::this_thread::sleep_until(start + std::chrono::microseconds(byte_time_us(sent)));
    }
}

void PtySim::serve_frames(Bytes& pending)
{
    for (;;) {
        Bytes request = take_request_frame(pending);
        if (request.empty())
            return;
        Reply reply = sam_.handle(request);
        unsigned wire = byte_time_us(request.size() + reply.bytes.size());
        wire_us_ += wire;
        bytes_ += request.size() + reply.bytes.size();
        unsigned wait = reply.busy_us + (pacing_.enabled ? byte_time_us(request.size()) : 0);
        if (wait)
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
        if (!reply.bytes.empty())
            send_paced(reply.bytes);
    }
}

void PtySim::serve()
{
    Bytes pending;
    while (!stop_) {
        struct pollfd p = {master_, POLLIN, 0};
        int ret = poll(&p, 1, 20);
        if (ret <= 0 || !(p.revents & POLLIN)) {
            if (ret > 0 && (p.revents & (POLLHUP | POLLERR)))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        uint8_t buf[512];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        pending.insert(pending.end(), buf, buf + n);
        serve_frames(pending);
    }
}

}  // namespace qxsim
