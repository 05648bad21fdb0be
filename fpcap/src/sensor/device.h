/* The plug-in's per-sensor handle and the helpers shared by its modules. */
#ifndef QXFPCAP_SENSOR_DEVICE_H
#define QXFPCAP_SENSOR_DEVICE_H

#include <stdint.h>

#include "qxfpcap.h"
#include "correct/correct.h"
#include "quality/antifake.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RAW_FRAME_W 1600
#define RAW_FRAME_H 1200
#define RAW_FRAME_SIZE (RAW_FRAME_W * RAW_FRAME_H)
#define EEPROM_SIZE 256
#define NATIVE_DPI 500

/* Device registers. */
enum {
    REG_LED_FIRST = 0,       /* 0..5: LED level * 256 + 1 */
    REG_FINGER = 1,          /* read: non-zero while a finger is present */
    REG_INIT_A = 6, REG_INIT_B = 7, REG_INIT_C = 8,
    REG_OUTPUT = 20,
    REG_LIGHT = 21,
    REG_CAPTURE_MODE = 48,
    REG_DEVICE_PROCESSING = 49,
    REG_ANTI_FAKE = 50,
    REG_DPI = 51,
    REG_LIVENESS = 64,
    REG_OUTPUT_83 = 83,
    REG_HW_VERSION = 85,
    REG_WDT_ENABLE = 86,
    REG_WDT_RESET = 87
};

/* Illumination values of register 21. */
enum { LIGHT_OFF = 0, LIGHT_CAPTURE = 15, LIGHT_ANTI_FAKE = 48 };

/* Distortion block words. */
enum {
    DIST_ORIGIN_W = 2, DIST_ORIGIN_H = 3, DIST_GRID = 4,
    DIST_WIDTH = 12, DIST_HEIGHT = 13, DIST_CHECKSUM = 14, DIST_WORDS = 15
};

typedef struct __HandleDev {
    char model[64];
    char manufacturer[64];
    char usbSerial[64];
    char eepromSerial[64];
    uint32_t vid, pid, rev;
    uint8_t sensorId[64];            /* 16 bytes used */
    uint8_t hwVersion[2];
    uint8_t deviceProcessing;
    void *core;
    CorrectContext *correction;
    int antiFakeEnabled;
    uint32_t fakeStatus;
    int directCapture;
    int param6;
    float dpi;
    int qualityLevel;
    int output83;
    int nativeWidth, nativeHeight;
    int16_t distortion[DIST_WORDS];  /* words 12 and 13 are the current width and height */
    int16_t perspective[5];
    uint8_t *rawBuffer;
    uint8_t *auxBuffer;
    _XUSBDevice deviceRecord;
    int uniformEnabled;
    int Stripe_Reference_Point_X, Stripe_Reference_Point_Y;
    int Exposure, RedGain, GreenGain1, GreenGain2, BlueGain;
    int antiFakeLevel;
    uint8_t Main1LED, Main2LED, Side1LED, Side2LED, Anti1LED, Anti2LED;
    int lastFiq;
    AntiFakeContext *antiFake;
    int lastDeviceQuality;
    int lostCount;
    uint8_t eepromCache[EEPROM_SIZE];
    int eepromCacheLength;
} __HandleDev;

/* Current output size (parameters 1 and 2). */
static inline int device_width(const __HandleDev *dev) { return (uint16_t)dev->distortion[DIST_WIDTH]; }
static inline int device_height(const __HandleDev *dev) { return (uint16_t)dev->distortion[DIST_HEIGHT]; }
static inline int device_origin_w(const __HandleDev *dev) { return dev->distortion[DIST_ORIGIN_W]; }
static inline int device_origin_h(const __HandleDev *dev) { return dev->distortion[DIST_ORIGIN_H]; }
static inline void device_set_size(__HandleDev *dev, int w, int h)
{
    dev->distortion[DIST_WIDTH] = (int16_t)(uint16_t)w;
    dev->distortion[DIST_HEIGHT] = (int16_t)(uint16_t)h;
}

/* Largest output image: it is built in a work buffer of one raw frame. */
static inline int output_size_fits(int w, int h)
{
    return w > 0 && h > 0 && (int64_t)w * h <= RAW_FRAME_SIZE;
}

/* Register access. */
int device_write(__HandleDev *dev, int reg, int value);
int device_read(__HandleDev *dev, int reg, uint8_t *buf, int length);

/* EEPROM access: from the cache when the block read returned all 256 bytes,
 * else byte by byte; returns the bytes read (0..length), never past the end. */
int eeprom_read(__HandleDev *dev, int address, int length, uint8_t *out);
/* Loads and checks the calibration blocks into the handle; 0 or -1. */
int load_calibration(__HandleDev *dev);
/* Reads the identity block into eepromSerial and sensorId. */
void load_identity(__HandleDev *dev);
/* Creates and configures the correction and anti-fake contexts; 0 or < 0. */
int setup_host_processing(__HandleDev *dev);
void release_host_processing(__HandleDev *dev);

/* Exposure and gains into the camera. */
void program_camera(__HandleDev *dev);
void program_leds(__HandleDev *dev);

/* Milliseconds since the epoch in 32 bits, and a millisecond sleep. */
uint32_t tick_ms(void);
void sleep_ms(int ms);

/* Where tick_ms and sleep_ms take their time from: the system clock, or a
 * clock of the caller's (tests advance one by hand instead of waiting).
 * Internal to the plug-in; not exported. */
typedef struct fpcap_tick_source {
    uint32_t (*tick_ms)(void *context);
    void (*sleep_ms)(void *context, int ms);
    void *context;
} fpcap_tick_source;
/* Installs a copy of `source`; NULL puts the system clock back. */
void fpcap_set_tick_source(const fpcap_tick_source *source);

/* Capture procedure and correction step. */
int DetectFinger(__HandleDev *dev, uint8_t *frameBuffer, int width, int height, int direct,
                 int *deviceQuality);
int CorrectFingerImage(__HandleDev *dev, uint8_t *raw, uint8_t *out, int capacity, int width,
                       int height);

#ifdef __cplusplus
}
#endif

#endif
