// Calibration EEPROM of the simulated sensor and the optical geometry it
// describes (which raw camera pixel sees which point of the finger window).
#ifndef QXSIM_CALIBRATION_H
#define QXSIM_CALIBRATION_H

#include <cstdint>
#include <memory>
#include <vector>

namespace qxsim {

constexpr int kRawW = 1600, kRawH = 1200, kRawSize = kRawW * kRawH;
constexpr int kEepromSize = 256;

// Writes a factory calibration with valid checksums.
void write_default_eeprom(uint8_t *eeprom);
void fix_checksums(uint8_t *eeprom);
// Breaks the checksum of one block (QXSIM_BLOCK_*).
void corrupt_block(uint8_t *eeprom, int block);

struct Geometry {
    int windowW = 0, windowH = 0;  // nominal image size at 500 dpi
    int refX = 0, refY = 0;        // anti-fake reference point
    // For every raw pixel, the index into the finger texture (scale 2), or -1
    // where the camera sees no part of the window.
    std::vector<int32_t> textureIndex;
};

// Derives the geometry from an EEPROM; values that make no physical sense
// fall back to the factory calibration, so a broken EEPROM still gives frames.
std::shared_ptr<const Geometry> build_geometry(const uint8_t *eeprom);

}  // namespace qxsim

#endif
