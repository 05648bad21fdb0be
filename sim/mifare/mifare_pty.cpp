#include "mifare_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace mfsim {

namespace {

constexpr int kPollMs = 20;
constexpr int kStaleMs = 200;  // a partial request older than this is line noise

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

PtyMifareSim::PtyMifareSim() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) throw std::runtime_error("open " + path_);
  termios tio{};
  tcgetattr(slave_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave_, TCSANOW, &tio);
  thread_ = std::thread([this] { serve(); });
}

PtyMifareSim::PtyMifareSim(const std::string& line) {
  master_ = ::open(line.c_str(), O_RDWR | O_NOCTTY);
  if (master_ < 0) throw std::runtime_error("open " + line);
  // Every byte as it is: no echo, no CR/LF translation, no XON/XOFF.
  termios tio{};
  tcgetattr(master_, &tio);
  cfmakeraw(&tio);
  tcsetattr(master_, TCSANOW, &tio);
  thread_ = std::thread([this] { serve(); });
}

PtyMifareSim::~PtyMifareSim() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
}

std::vector<std::vector<uint8_t>> PtyMifareSim::requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

void PtyMifareSim::clearRequests() {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.clear();
}

void PtyMifareSim::answer(const std::vector<uint8_t>& request) {
  std::vector<uint8_t> reply;
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(request);
    reply = module_.handle(request);
  }
  writeAll(master_, reply);
}

void PtyMifareSim::serve() {
  std::vector<uint8_t> rx;
  int quietMs = 0;
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    int r = ::poll(&p, 1, kPollMs);
    if (r <= 0 || !(p.revents & POLLIN)) {
      quietMs += kPollMs;
      if (quietMs >= kStaleMs) rx.clear();
      continue;
    }
    uint8_t buf[512];
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) continue;
    quietMs = 0;
    rx.insert(rx.end(), buf, buf + n);
    for (;;) {
      size_t start = 0;
      while (start < rx.size() && rx[start] != kStx) ++start;
      rx.erase(rx.begin(), rx.begin() + static_cast<long>(start));
      if (rx.size() < 3) break;
      const size_t need = static_cast<size_t>(rx[2]) + 5;
      if (rx.size() < need) break;
      std::vector<uint8_t> request(rx.begin(), rx.begin() + static_cast<long>(need));
      rx.erase(rx.begin(), rx.begin() + static_cast<long>(need));
      answer(request);
    }
  }
}

}  // namespace mfsim
