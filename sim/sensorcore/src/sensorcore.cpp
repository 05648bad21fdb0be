// Simulated sensor library: a list of attached sensors behind the QXFPI_*
// entry points, plus the qxsim_* control interface used by tests.
#include "qxsensorcore.h"
#include "qxsensorcore_sim.h"

#include "calibration.h"
#include "fingerprint.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define QXSIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace qxsim {
namespace {

constexpr int kVendor = 6997;
constexpr int kLightCapture = 15, kLightAntiFake = 48;
constexpr int kRegFinger = 1, kRegLight = 21, kRegLiveness = 64, kRegHwVersion = 85;
constexpr int kErrInvalid = -1, kErrBadArgument = -2;
constexpr uint32_t kRecordMagic = 0x5153494D;  // marks records made by this library
constexpr int kRecordMagicOffset = 72, kRecordIndexOffset = 76;

QXSimImpression reference_placement() {
    QXSimImpression p{};
    p.pressure = 1.0;
    return p;
}

struct Sensor {
    int vid = kVendor, pid = 288;
    uint8_t hw[2] = {3, 1};
    uint8_t eeprom[kEepromSize];
    int blockLimit = kEepromSize, byteFailFrom = kEepromSize;
    std::string model = "QX optical sensor (simulated)";
    std::string manufacturer = "QX simulation";
    std::string serial = "SIM0001";
    QXSimFinger finger = qxsim_default_finger();
    QXSimImpression placement = reference_placement();
    int framesSincePlaced = 0;
    bool lost = false, unresponsive = false, openFails = false;
    int frameDelayMs = 0;
    int lostAfter = -1;
    int imageLimit = 0;
    int shortSkip = 0, shortCount = 0, shortBytes = 0;  // qxsim_set_short_frames
    int registers[QXSIM_MAX_REGISTER];
    int camera[256];
    std::vector<std::pair<int, int>> writeLog;
    std::vector<int> lightLog;
    QXSimStats stats{};
    std::shared_ptr<const Geometry> geometry;
    uint32_t noiseSeed = 12345;

    Sensor() {
        write_default_eeprom(eeprom);
        std::fill(std::begin(registers), std::end(registers), -1);
        std::fill(std::begin(camera), std::end(camera), -1);
    }
};

struct Connection {
    int sensor;
};

std::recursive_mutex g_lock;
std::vector<std::unique_ptr<Sensor>> g_sensors;
std::vector<std::unique_ptr<Connection>> g_connections;

Sensor *sensor_at(int dev) {
    if (dev < 0 || dev >= static_cast<int>(g_sensors.size())) return nullptr;
    return g_sensors[static_cast<size_t>(dev)].get();
}

Sensor *sensor_of(void *core) {
    for (auto &c : g_connections)
        if (c.get() == core) return sensor_at(c->sensor);
    return nullptr;
}

int record_index(const void *record) {
    if (!record) return -1;
    const uint8_t *r = static_cast<const uint8_t *>(record);
    uint32_t magic, index;
    std::memcpy(&magic, r + kRecordMagicOffset, 4);
    std::memcpy(&index, r + kRecordIndexOffset, 4);
    if (magic != kRecordMagic) return -1;
    return static_cast<int>(index);
}

void fill_record(uint8_t *r, const Sensor &s, int index) {
    std::memset(r, 0, QXFPI_DEVICE_RECORD_SIZE);
    r[0] = static_cast<uint8_t>(s.vid & 0xFF);
    r[1] = static_cast<uint8_t>(s.vid >> 8);
    r[2] = static_cast<uint8_t>(s.pid & 0xFF);
    r[3] = static_cast<uint8_t>(s.pid >> 8);
    std::string text = "Simulated sensor " + std::to_string(index) + " (" + s.serial + ")";
    std::strncpy(reinterpret_cast<char *>(r + 4), text.c_str(), kRecordMagicOffset - 5);
    uint32_t magic = kRecordMagic, idx = static_cast<uint32_t>(index);
    std::memcpy(r + kRecordMagicOffset, &magic, 4);
    std::memcpy(r + kRecordIndexOffset, &idx, 4);
}

int copy_string(const std::string &s, char *buf, int capacity) {
    if (!buf || capacity <= 0) return kErrBadArgument;
    size_t n = std::min(s.size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return 0;
}

bool finger_on(const Sensor &s) {
    if (!s.finger.present) return false;
    return s.finger.lift_after < 0 || s.framesSincePlaced < s.finger.lift_after;
}

bool is_device_processing(const Sensor &s) { return s.hw[0] > 4 || s.hw[1] > 1; }

// Cheap per-pixel noise of +-2 grey levels from a fixed table.
const std::vector<int8_t> &noise_table() {
    static const std::vector<int8_t> table = [] {
        std::vector<int8_t> t(1 << 16);
        uint32_t x = 2463534242u;
        for (auto &v : t) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            v = static_cast<int8_t>(static_cast<int>(x % 5) - 2);
        }
        return t;
    }();
    return table;
}

uint8_t clamp_byte(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }

int current_amplitude(const Sensor &s) {
    int full = std::max(0, std::min(120, s.finger.contrast));
    if (s.finger.press_frames <= 0) return full;
    double ramp = 0.1 + 0.9 * std::min(1.0, static_cast<double>(s.framesSincePlaced) / s.finger.press_frames);
    return static_cast<int>(full * ramp);
}

// Response to the anti-fake light for a raw pixel: live tissue carries the
// light a little way (bright near the source, dim further on, reddish far
// away); the fakes either spread it evenly or do not carry it at all.
struct AntiFakeResponse {
    int near_, middle, far_, farRed;
};
AntiFakeResponse anti_fake_response(int liveness) {
    switch (liveness) {
    case QXSIM_FAKE_SPREAD: return {170, 150, 140, 40};
    case QXSIM_FAKE_OPAQUE: return {170, 5, 3, 20};
    case QXSIM_FAKE_BOTH: return {170, 5, 140, 20};
    default: return {170, 70, 12, 160};
    }
}

void ensure_geometry(Sensor &s) {
    if (!s.geometry) s.geometry = build_geometry(s.eeprom);
}

// Raw camera frame: the finger window as the camera sees it through the prism.
void render_raw(Sensor &s, uint8_t *out, int count) {
    ensure_geometry(s);
    const Geometry &g = *s.geometry;
    const std::vector<int8_t> &noise = noise_table();
    s.noiseSeed = s.noiseSeed * 1103515245u + 12345u;
    const uint32_t noiseStart = s.noiseSeed >> 16;
    const bool on = finger_on(s);
    const bool antiFakeLight = s.registers[kRegLight] == kLightAntiFake;
    const bool lightOn = s.registers[kRegLight] == kLightCapture || antiFakeLight;
    const FingerTexture &tex =
        finger_texture(s.finger.finger_id, s.finger.dry_patch != 0, g.windowW, g.windowH, s.placement);
    const int amp = on ? current_amplitude(s) : 0;
    const AntiFakeResponse af = anti_fake_response(s.finger.liveness);
    // Ridges in contact scatter the capture light into the camera: bright
    // ridges on a dark window (the plug-in inverts the corrected image).
    const int window = lightOn ? 45 : 20;
    for (int p = 0; p < count; ++p) {
        int n = noise[(noiseStart + static_cast<uint32_t>(p)) & 0xFFFF];
        int32_t idx = g.textureIndex[static_cast<size_t>(p)];
        int v;
        if (idx < 0) {
            v = 18;
        } else if (!antiFakeLight) {
            v = window + (lightOn ? (amp * tex.darkness[static_cast<size_t>(idx)]) >> 8 : 0);
        } else if (!on) {
            v = 12;
        } else {
            int x = p % kRawW, y = p / kRawW;
            int dy = y - g.refY;
            bool red = (y % 2 == 0) && (x % 2 == 1);
            bool blue = (y % 2 == 1) && (x % 2 == 0);
            if (dy < 18) v = red ? 120 : af.near_;
            else if (dy < 88) v = red ? 150 : af.middle;
            else v = red ? af.farRed : af.far_;
            if (!blue && !red) v = (v + 100) / 2;
            v -= (v * tex.darkness[static_cast<size_t>(idx)]) >> 10;  // faint ridges
        }
        out[p] = clamp_byte(v + n);
    }
}

// What a device-processing sensor delivers: the upright finger image.
void render_upright(Sensor &s, int w, int h, int amp, uint8_t *out) {
    ensure_geometry(s);
    const Geometry &g = *s.geometry;
    const FingerTexture &tex =
        finger_texture(s.finger.finger_id, s.finger.dry_patch != 0, g.windowW, g.windowH, s.placement);
    for (int y = 0; y < h; ++y) {
        int ty = h > 1 ? static_cast<int>(static_cast<int64_t>(y) * (tex.height - 1) / (h - 1)) : 0;
        for (int x = 0; x < w; ++x) {
            int tx = w > 1 ? static_cast<int>(static_cast<int64_t>(x) * (tex.width - 1) / (w - 1)) : 0;
            int d = tex.darkness[static_cast<size_t>(ty) * tex.width + tx];
            out[static_cast<size_t>(y) * w + x] = clamp_byte(210 - ((amp * d) >> 8));
        }
    }
}

// Output size of a device-processing sensor: nominal size scaled by the dpi
// programmed in register 51; other capacities are filled row by row.
void upright_size(Sensor &s, int capacity, int *w, int *h) {
    ensure_geometry(s);
    int dpi = s.registers[51] > 0 ? s.registers[51] * 10 : 500;
    int cw = static_cast<int>(static_cast<float>(s.geometry->windowW) * dpi / 500);
    int ch = static_cast<int>(static_cast<float>(s.geometry->windowH) * dpi / 500);
    if (cw > 0 && ch > 0 && cw * ch == capacity) {
        *w = cw;
        *h = ch;
        return;
    }
    *w = std::max(1, std::min(capacity, s.geometry->windowW));
    *h = capacity / *w;
}

double elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

void frame_delay(const Sensor &s, std::chrono::steady_clock::time_point since) {
    if (s.frameDelayMs <= 0) return;
    double left = s.frameDelayMs - elapsed_ms(since);
    if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
}

// A raw read cut short by qxsim_set_short_frames; the rest of the caller's
// buffer is left as it was.
int take_short_frame(Sensor &s, int n) {
    if (s.shortCount <= 0) return n;
    if (s.shortSkip > 0) {
        s.shortSkip--;
        return n;
    }
    s.shortCount--;
    return std::min(n, s.shortBytes);
}

int deliver_limit(const Sensor &s, int capacity, int size) {
    int n = std::min(capacity, size);
    if (s.imageLimit > 0) n = std::min(n, s.imageLimit);
    return n;
}

}  // namespace
}  // namespace qxsim

using namespace qxsim;

// ---- sensor library entry points ------------------------------------------

#define LOCK std::lock_guard<std::recursive_mutex> guard(g_lock)

QXSIM_EXPORT int QXFPI_EnumDevice(int vid, int pid, void *records, int capacity, int flags) {
    LOCK;
    if (!records || capacity <= 0) return 0;
    int n = 0;
    for (size_t i = 0; i < g_sensors.size() && n < capacity; ++i) {
        const Sensor &s = *g_sensors[i];
        if (s.vid != vid || (pid != 0 && s.pid != pid) || s.lost) continue;
        fill_record(static_cast<uint8_t *>(records) + n * QXFPI_DEVICE_RECORD_SIZE, s, static_cast<int>(i));
        ++n;
    }
    return n;
}

QXSIM_EXPORT void *QXFPI_Open(const void *record, int flags, int reserved) {
    LOCK;
    int index = record_index(record);
    Sensor *s = sensor_at(index);
    if (!s || s->openFails || s->lost) return nullptr;
    s->stats.opens++;
    // The device reads its own calibration when it powers up.
    s->geometry = build_geometry(s->eeprom);
    g_connections.push_back(std::make_unique<Connection>(Connection{index}));
    return g_connections.back().get();
}

QXSIM_EXPORT int QXFPI_Close(void *core) {
    LOCK;
    for (auto it = g_connections.begin(); it != g_connections.end(); ++it) {
        if (it->get() == core) {
            if (Sensor *s = sensor_at((*it)->sensor)) s->stats.closes++;
            g_connections.erase(it);
            return 0;
        }
    }
    return kErrInvalid;
}

QXSIM_EXPORT int QXFPI_ReadEEPROM2(void *core, int length, int capacity, unsigned char *buf) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s || !buf) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    s->stats.eeprom_block_reads++;
    int n = std::min({length, capacity, s->blockLimit, kEepromSize});
    if (n <= 0) return 0;
    std::memcpy(buf, s->eeprom, static_cast<size_t>(n));
    return n;
}

QXSIM_EXPORT int QXFPI_ReadEeprom(void *core, int address, unsigned char *byte) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s || !byte) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    s->stats.eeprom_byte_reads++;
    if (address < 0 || address >= kEepromSize || address >= s->byteFailFrom) return kErrInvalid;
    *byte = s->eeprom[address];
    return 0;
}

QXSIM_EXPORT int QXFPI_GetVID_PID_REV(void *core, unsigned int *vid, unsigned int *pid, unsigned int *rev) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    if (vid) *vid = static_cast<unsigned>(s->vid);
    if (pid) *pid = static_cast<unsigned>(s->pid);
    if (rev) *rev = 0x0100;
    return 0;
}

QXSIM_EXPORT int QXFPI_GetModel(void *core, char *buf, int capacity) {
    LOCK;
    Sensor *s = sensor_of(core);
    return s ? copy_string(s->model, buf, capacity) : kErrBadArgument;
}

QXSIM_EXPORT int QXFPI_GetManufacturer(void *core, char *buf, int capacity) {
    LOCK;
    Sensor *s = sensor_of(core);
    return s ? copy_string(s->manufacturer, buf, capacity) : kErrBadArgument;
}

QXSIM_EXPORT int QXFPI_GetSerialNumber(void *core, char *buf, int capacity) {
    LOCK;
    Sensor *s = sensor_of(core);
    return s ? copy_string(s->serial, buf, capacity) : kErrBadArgument;
}

QXSIM_EXPORT int QXFPI_SetGPIO(void *core, int reg, int value) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    if (reg < 0 || reg >= QXSIM_MAX_REGISTER) return kErrInvalid;
    s->registers[reg] = value;
    s->stats.register_writes[reg]++;
    s->writeLog.emplace_back(reg, value);
    return 0;
}

QXSIM_EXPORT int QXFPI_GetGPIO(void *core, int reg, unsigned char *buf, int length) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s || !buf || length <= 0) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    if (reg < 0 || reg >= QXSIM_MAX_REGISTER) return kErrInvalid;
    s->stats.register_reads[reg]++;
    std::memset(buf, 0, static_cast<size_t>(length));
    if (reg == kRegFinger) {
        buf[0] = finger_on(*s) ? 1 : 0;
    } else if (reg == kRegHwVersion) {
        if (!s->unresponsive) {
            buf[0] = s->hw[0];
            if (length > 1) buf[1] = s->hw[1];
        }
    } else if (reg == kRegLiveness && length >= 24) {
        // Device-side liveness: bit 2 first test passed, bit 3 second test passed.
        int live = s->finger.liveness;
        uint32_t word = 0x3;
        if (live == QXSIM_LIVE || live == QXSIM_FAKE_OPAQUE) word |= 1u << 2;
        if (live == QXSIM_LIVE || live == QXSIM_FAKE_SPREAD) word |= 1u << 3;
        std::memcpy(buf + 20, &word, 4);
    }
    return 0;
}

QXSIM_EXPORT int QXFPI_WriteCamera(void *core, char reg, char value) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    s->camera[static_cast<unsigned char>(reg)] = static_cast<unsigned char>(value);
    s->stats.camera_writes++;
    return 0;
}

QXSIM_EXPORT int QXFPI_GetImage(void *core, unsigned char *buf, int capacity) {
    auto start = std::chrono::steady_clock::now();
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s || !buf || capacity <= 0) return kErrBadArgument;
    s->stats.image_reads++;
    if (s->lostAfter == 0) s->lost = true;
    if (s->lostAfter > 0) s->lostAfter--;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    int n;
    if (is_device_processing(*s)) {
        int w, h;
        upright_size(*s, capacity, &w, &h);
        std::vector<uint8_t> image(static_cast<size_t>(w) * h);
        render_upright(*s, w, h, finger_on(*s) ? current_amplitude(*s) : 0, image.data());
        n = deliver_limit(*s, capacity, w * h);
        std::memcpy(buf, image.data(), static_cast<size_t>(n));
    } else {
        n = deliver_limit(*s, capacity, kRawSize);
        n = take_short_frame(*s, n);
        render_raw(*s, buf, n);
    }
    if (s->finger.present) {
        s->lightLog.push_back(s->registers[kRegLight]);
        s->framesSincePlaced++;
    }
    s->stats.render_ms += elapsed_ms(start);
    frame_delay(*s, start);
    return n;
}

QXSIM_EXPORT int QXFPI_DetImageAndQuality(void *core, unsigned char *buf, int capacity, int *scratch, int *quality) {
    auto start = std::chrono::steady_clock::now();
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s || !buf || capacity <= 0) return kErrBadArgument;
    s->stats.detect_calls++;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    if (scratch) *scratch = 0;
    if (!finger_on(*s)) return 0;
    int w, h;
    upright_size(*s, capacity, &w, &h);
    std::vector<uint8_t> image(static_cast<size_t>(w) * h);
    render_upright(*s, w, h, current_amplitude(*s), image.data());
    int n = deliver_limit(*s, capacity, w * h);
    std::memcpy(buf, image.data(), static_cast<size_t>(n));
    if (quality) *quality = s->finger.device_quality;
    s->framesSincePlaced++;
    s->stats.render_ms += elapsed_ms(start);
    frame_delay(*s, start);
    return n;
}

QXSIM_EXPORT int QXFPI_Reboot(void *core) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    s->stats.reboots++;
    return 0;
}

QXSIM_EXPORT int QXFPI_RebootEx(const void *record, int flags) {
    LOCK;
    Sensor *s = sensor_at(record_index(record));
    if (!s) return kErrInvalid;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    s->stats.reboots++;
    return 0;
}

QXSIM_EXPORT int QXFPI_CheckSensor(void *core, int value) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    return s->unresponsive ? kErrInvalid : 0;
}

QXSIM_EXPORT int QXFPI_UpgradeFirmware(void *core, const unsigned char *data, int length) {
    LOCK;
    Sensor *s = sensor_of(core);
    if (!s || !data || length <= 0) return kErrBadArgument;
    if (s->lost) return QXFPI_ERR_DEVICE_LOST;
    return 0;
}

// ---- control interface -----------------------------------------------------

QXSIM_EXPORT void qxsim_reset(void) {
    LOCK;
    g_connections.clear();
    g_sensors.clear();
}

QXSIM_EXPORT int qxsim_add_sensor(int vid, int pid, int hw0, int hw1) {
    LOCK;
    auto s = std::make_unique<Sensor>();
    s->vid = vid;
    s->pid = pid;
    s->hw[0] = static_cast<uint8_t>(hw0);
    s->hw[1] = static_cast<uint8_t>(hw1);
    s->serial = "SIM" + std::to_string(1000 + g_sensors.size());
    g_sensors.push_back(std::move(s));
    return static_cast<int>(g_sensors.size()) - 1;
}

QXSIM_EXPORT int qxsim_sensor_count(void) {
    LOCK;
    return static_cast<int>(g_sensors.size());
}

QXSIM_EXPORT unsigned char *qxsim_eeprom(int dev) {
    LOCK;
    Sensor *s = sensor_at(dev);
    return s ? s->eeprom : nullptr;
}

QXSIM_EXPORT void qxsim_fix_checksums(int dev) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) fix_checksums(s->eeprom);
}

QXSIM_EXPORT void qxsim_corrupt_block(int dev, int block) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) corrupt_block(s->eeprom, block);
}

QXSIM_EXPORT void qxsim_set_eeprom_limits(int dev, int block_count, int byte_fail_from) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) {
        s->blockLimit = block_count;
        s->byteFailFrom = byte_fail_from;
    }
}

QXSIM_EXPORT void qxsim_set_strings(int dev, const char *model, const char *manufacturer, const char *serial) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) {
        if (model) s->model = model;
        if (manufacturer) s->manufacturer = manufacturer;
        if (serial) s->serial = serial;
    }
}

QXSIM_EXPORT void qxsim_set_hw_version(int dev, int hw0, int hw1) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) {
        s->hw[0] = static_cast<uint8_t>(hw0);
        s->hw[1] = static_cast<uint8_t>(hw1);
    }
}

QXSIM_EXPORT QXSimFinger qxsim_default_finger(void) {
    QXSimFinger f;
    f.present = 0;
    f.finger_id = 0;
    f.contrast = 110;
    f.press_frames = 0;
    f.lift_after = -1;
    f.liveness = QXSIM_LIVE;
    f.dry_patch = 0;
    f.device_quality = 80;
    return f;
}

QXSIM_EXPORT void qxsim_set_finger(int dev, const QXSimFinger *finger) {
    LOCK;
    Sensor *s = sensor_at(dev);
    if (!s || !finger) return;
    bool placed = finger->present && !s->finger.present;
    s->finger = *finger;
    if (placed || !finger->present) {
        s->framesSincePlaced = 0;
        s->lightLog.clear();
    }
}

QXSIM_EXPORT QXSimImpression qxsim_identity_impression(void) { return reference_placement(); }

QXSIM_EXPORT QXSimImpression qxsim_random_impression(unsigned seed) {
    // Small generator of our own so every platform draws the same placements.
    uint64_t state = (static_cast<uint64_t>(seed) + 1) * 0x9E3779B97F4A7C15ULL;
    auto next = [&state]() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<double>((state * 0x2545F4914F6CDD1DULL) >> 11) / 9007199254740992.0;
    };
    auto range = [&next](double lo, double hi) { return lo + (hi - lo) * next(); };
    QXSimImpression p = reference_placement();
    p.shift_x = range(-40.0, 40.0);
    p.shift_y = range(-40.0, 40.0);
    p.rotation_deg = range(-15.0, 15.0);
    p.pressure = range(0.7, 1.4);
    p.distortion = range(0.0, 4.0);
    if (next() < 1.0 / 3.0) {
        p.contact_cut = range(0.1, 0.3);
        p.cut_angle_deg = range(0.0, 360.0);
    }
    return p;
}

QXSIM_EXPORT void qxsim_set_impression(int dev, const QXSimImpression *impression) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) s->placement = impression ? *impression : reference_placement();
}

QXSIM_EXPORT int qxsim_frames_since_placed(int dev) {
    LOCK;
    Sensor *s = sensor_at(dev);
    return s ? s->framesSincePlaced : 0;
}

QXSIM_EXPORT void qxsim_set_lost(int dev, int lost) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) s->lost = lost != 0;
}

QXSIM_EXPORT void qxsim_set_unresponsive(int dev, int unresponsive) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) s->unresponsive = unresponsive != 0;
}

QXSIM_EXPORT void qxsim_set_lost_after(int dev, int images) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) s->lostAfter = images;
}

QXSIM_EXPORT void qxsim_set_open_fails(int dev, int fails) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) s->openFails = fails != 0;
}

QXSIM_EXPORT void qxsim_set_image_limit(int dev, int max_bytes) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) s->imageLimit = max_bytes;
}

QXSIM_EXPORT QXSimStats qxsim_stats(int dev) {
    LOCK;
    Sensor *s = sensor_at(dev);
    return s ? s->stats : QXSimStats{};
}

QXSIM_EXPORT void qxsim_clear_stats(int dev) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) {
        s->stats = QXSimStats{};
        s->writeLog.clear();
    }
}

QXSIM_EXPORT int qxsim_register(int dev, int reg) {
    LOCK;
    Sensor *s = sensor_at(dev);
    if (!s || reg < 0 || reg >= QXSIM_MAX_REGISTER) return -1;
    return s->registers[reg];
}

QXSIM_EXPORT int qxsim_camera_register(int dev, int reg) {
    LOCK;
    Sensor *s = sensor_at(dev);
    if (!s || reg < 0 || reg > 255) return -1;
    return s->camera[reg];
}

QXSIM_EXPORT int qxsim_write_log(int dev, int *regs, int *values, int capacity) {
    LOCK;
    Sensor *s = sensor_at(dev);
    if (!s) return 0;
    int n = std::min(capacity, static_cast<int>(s->writeLog.size()));
    for (int i = 0; i < n; ++i) {
        if (regs) regs[i] = s->writeLog[static_cast<size_t>(i)].first;
        if (values) values[i] = s->writeLog[static_cast<size_t>(i)].second;
    }
    return n;
}

QXSIM_EXPORT int qxsim_light_log(int dev, int *lights, int capacity) {
    LOCK;
    Sensor *s = sensor_at(dev);
    if (!s) return 0;
    int n = std::min(capacity, static_cast<int>(s->lightLog.size()));
    for (int i = 0; i < n && lights; ++i) lights[i] = s->lightLog[static_cast<size_t>(i)];
    return n;
}

QXSIM_EXPORT void qxsim_set_frame_delay_ms(int dev, int ms) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) s->frameDelayMs = ms;
}

QXSIM_EXPORT int qxsim_open_connections(void) {
    LOCK;
    return static_cast<int>(g_connections.size());
}

QXSIM_EXPORT void qxsim_render_upright(int dev, int w, int h, unsigned char *out) {
    LOCK;
    Sensor *s = sensor_at(dev);
    if (!s || !out || w <= 0 || h <= 0) return;
    render_upright(*s, w, h, std::max(0, std::min(120, s->finger.contrast)), out);
}

QXSIM_EXPORT void qxsim_set_short_frames(int dev, int skip, int count, int bytes) {
    LOCK;
    if (Sensor *s = sensor_at(dev)) {
        s->shortSkip = std::max(0, skip);
        s->shortCount = std::max(0, count);
        s->shortBytes = std::max(1, bytes);
    }
}
