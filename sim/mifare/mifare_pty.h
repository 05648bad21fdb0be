// The simulated Mifare module on the master side of a pseudo-terminal.
// The library under test opens slavePath() like any serial device.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mifare_module.h"

namespace mfsim {

class PtyMifareSim {
 public:
  PtyMifareSim();  // throws std::runtime_error when no pseudo-terminal can be had
  // Serves an existing serial line instead (the device end of a USB serial
  // gadget, say); slavePath() is then empty. Throws when it cannot be opened.
  explicit PtyMifareSim(const std::string& line);
  ~PtyMifareSim();
  PtyMifareSim(const PtyMifareSim&) = delete;
  PtyMifareSim& operator=(const PtyMifareSim&) = delete;

  const std::string& slavePath() const { return path_; }

  // Runs f(MifareModule&) with the module locked against the serving thread.
  template <class F>
  auto with(F f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f(module_);
  }

  // Complete request frames received so far, in order.
  std::vector<std::vector<uint8_t>> requests();
  void clearRequests();

 private:
  void serve();
  void answer(const std::vector<uint8_t>& request);

  int master_ = -1;
  int slave_ = -1;  // kept open so the line never hangs up between library opens
  std::string path_;
  std::mutex mu_;
  MifareModule module_;
  std::vector<std::vector<uint8_t>> requests_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace mfsim
