// Stand-alone simulated Mifare module: prints the device path to open, then
// serves a factory-fresh card until standard input closes.
#include <cstdio>
#include <iostream>
#include <string>

#include "mifare_pty.h"

int main() {
  mfsim::PtyMifareSim sim;
  sim.with([](mfsim::MifareModule& m) {
    m.insertCard(mfsim::MifareCard::fresh(0xA1B2C3D4u));
    m.setIdentitySerial({0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE});
  });
  std::printf("%s\n", sim.slavePath().c_str());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
