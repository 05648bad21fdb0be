#include "calibration.h"

#include "qxsensorcore_sim.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace qxsim {
namespace {

// Factory calibration: the finger window seen as a trapezoid, wider at the
// bottom, slightly rotated, with a mild perspective on the side edges.
constexpr int kGrid[8] = {470, 150, 1150, 172, 402, 1068, 1222, 1046};
constexpr int kPerspective[4] = {6, 0, 6, 2};  // left, top, right, bottom (degrees)
constexpr int kWindowW = 256, kWindowH = 360;
constexpr int kWidthFlags = 0x2000;  // flag bits above the 12-bit width
constexpr int kRefX = 800, kRefY = 560;
constexpr int kCamera[5] = {0x0234, 40, 32, 32, 48};  // exposure, R, G1, G2, B gains
constexpr uint8_t kLeds[9] = {200, 200, 120, 120, 180, 180, 0, 0, 0};
constexpr const char kSerial[16] = "QXS-SIM-000123";
constexpr uint8_t kSensorId[16] = {0x51, 0x58, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60,
                                   0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0};

void put16(uint8_t *p, int v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}
int16_t get16(const uint8_t *p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

// Checksum word at the end of a block of `words` data words: 1 + signed sum.
void fix_word_block(uint8_t *block, int words) {
    int32_t sum = 1;
    for (int i = 0; i < words; ++i) sum += get16(block + 2 * i);
    put16(block + 2 * words, sum);
}

// One point of the correction's perspective profile (position t in 0..1).
float profile(int angle, float t) {
    const float pi = 3.1415927f;
    float a = angle * 0.5f;
    float at = std::atan(t);
    return std::sin(at) / std::sin((90.0f - a - at * 180.0f / pi) * pi / 180.0f) *
           std::sin((45.0f - a) * pi / 180.0f) / 0.7071067966408575f;
}

struct Calibration {
    int grid[8];
    int persp[4];
    int windowW, windowH;
    int refX, refY;
};

bool plausible(const Calibration &c) {
    for (int i = 0; i < 8; ++i) {
        int limit = (i % 2 == 0) ? kRawW - 1 : kRawH - 1;
        if (c.grid[i] < 0 || c.grid[i] > limit) return false;
    }
    for (int a : c.persp)
        if (a < -60 || a > 60) return false;
    return c.windowW >= 16 && c.windowW <= 1024 && c.windowH >= 16 && c.windowH <= 1024;
}

Calibration read_calibration(const uint8_t *e) {
    Calibration c;
    for (int i = 0; i < 8; ++i) c.grid[i] = get16(e + 8 + 2 * i);
    for (int i = 0; i < 4; ++i) c.persp[i] = get16(e + 38 + 2 * i);
    c.windowW = get16(e + 24) & 0xFFF;
    c.windowH = static_cast<uint16_t>(get16(e + 26));
    c.refX = get16(e + 106);
    c.refY = get16(e + 108);
    if (!plausible(c)) {
        std::memcpy(c.grid, kGrid, sizeof c.grid);
        std::memcpy(c.persp, kPerspective, sizeof c.persp);
        c.windowW = kWindowW;
        c.windowH = kWindowH;
    }
    return c;
}

// Marks each raw pixel with the texture point it sees, by walking the window
// finely enough (sub-steps well under one raw pixel) that no pixel is missed.
void splat(const Calibration &c, Geometry *g) {
    g->textureIndex.assign(kRawSize, -1);
    const int sub = 6;
    const int W = c.windowW, H = c.windowH;
    const int texW = 2 * W, texH = 2 * H;
    const int rows = (H - 1) * sub + 1, cols = (W - 1) * sub + 1;
    std::vector<float> left(rows), right(rows), top(cols), bottom(cols);
    for (int i = 0; i < rows; ++i) {
        float t = static_cast<float>(i) / (rows - 1);
        left[i] = profile(c.persp[0], t);
        right[i] = profile(c.persp[2], t);
    }
    for (int i = 0; i < cols; ++i) {
        float t = static_cast<float>(i) / (cols - 1);
        top[i] = profile(c.persp[1], t);
        bottom[i] = profile(c.persp[3], t);
    }
    const float x0 = c.grid[0], y0 = c.grid[1], x1 = c.grid[2], y1 = c.grid[3];
    const float x2 = c.grid[4], y2 = c.grid[5], x3 = c.grid[6], y3 = c.grid[7];
    std::vector<int> texCol(cols);
    for (int j = 0; j < cols; ++j) texCol[j] = std::min(texW - 1, (2 * j + sub / 2) / sub);
    for (int i = 0; i < rows; ++i) {
        float tv = static_cast<float>(i) / (rows - 1);
        float lx = x0 + (x2 - x0) * left[i], ly = y0 + (y2 - y0) * left[i];
        float rx = x1 + (x3 - x1) * right[i], ry = y1 + (y3 - y1) * right[i];
        int texY = std::min(texH - 1, (2 * i + sub / 2) / sub);
        for (int j = 0; j < cols; ++j) {
            float u = top[j] + (bottom[j] - top[j]) * tv;
            float X = lx + (rx - lx) * u, Y = ly + (ry - ly) * u;
            int px = static_cast<int>(X), py = static_cast<int>(Y);
            if (px < 0 || py < 0 || px >= kRawW || py >= kRawH) continue;
            g->textureIndex[static_cast<size_t>(py) * kRawW + px] = texY * texW + texCol[j];
        }
    }
}

}  // namespace

void write_default_eeprom(uint8_t *e) {
    std::memset(e, 0, kEepromSize);
    put16(e + 0, 0x0103);  // calibration format
    put16(e + 2, 0);
    put16(e + 4, kRawW);
    put16(e + 6, kRawH);
    for (int i = 0; i < 8; ++i) put16(e + 8 + 2 * i, kGrid[i]);
    put16(e + 24, kWindowW | kWidthFlags);
    put16(e + 26, kWindowH);
    for (int i = 0; i < 4; ++i) put16(e + 38 + 2 * i, kPerspective[i]);
    for (int i = 0; i < 5; ++i) put16(e + 48 + 2 * i, kCamera[i]);
    put16(e + 106, kRefX);
    put16(e + 108, kRefY);
    std::memcpy(e + 112, kLeds, sizeof kLeds);
    std::memset(e + 176, 0xFF, 80);  // identity block: empty entries
    std::memset(e + 216, 0, 16);
    std::memcpy(e + 216, kSerial, sizeof kSerial);
    std::memcpy(e + 232, kSensorId, sizeof kSensorId);
    fix_checksums(e);
}

void fix_checksums(uint8_t *e) {
    fix_word_block(e + 0, 14);
    fix_word_block(e + 38, 4);
    fix_word_block(e + 48, 5);
    unsigned sum = 1;
    for (int i = 112; i <= 120; ++i) sum += e[i];
    e[121] = static_cast<uint8_t>(sum & 0xFF);
}

void corrupt_block(uint8_t *e, int block) {
    switch (block) {
    case QXSIM_BLOCK_DISTORTION: e[28] ^= 0x5A; break;
    case QXSIM_BLOCK_PERSPECTIVE: e[46] ^= 0x5A; break;
    case QXSIM_BLOCK_EXPOSURE: e[58] ^= 0x5A; break;
    case QXSIM_BLOCK_LED: e[121] ^= 0x5A; break;
    default: break;
    }
}

std::shared_ptr<const Geometry> build_geometry(const uint8_t *eeprom) {
    // Sensors of a test run mostly share one calibration: build each once.
    static std::mutex lock;
    static std::map<std::vector<int>, std::shared_ptr<const Geometry>> cache;
    Calibration c = read_calibration(eeprom);
    std::vector<int> key(c.grid, c.grid + 8);
    key.insert(key.end(), c.persp, c.persp + 4);
    key.insert(key.end(), {c.windowW, c.windowH, c.refX, c.refY});
    std::lock_guard<std::mutex> guard(lock);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    auto g = std::make_shared<Geometry>();
    g->windowW = c.windowW;
    g->windowH = c.windowH;
    g->refX = c.refX;
    g->refY = c.refY;
    splat(c, g.get());
    if (cache.size() > 16) cache.clear();
    cache.emplace(key, g);
    return g;
}

}  // namespace qxsim
