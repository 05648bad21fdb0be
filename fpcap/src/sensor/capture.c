/* Capture: finger detection, the quality gate, the liveness frames and the
 * geometry correction of the accepted frame. */
#include "sensor/device.h"
#include "fpcap_error.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qxsensorcore.h"
#include "quality/fiq.h"

#define DETECT_TIMEOUT_MS 2000
#define PATCH_MIN_DEVIATION 10
#define LIVENESS_REPLY_LEN 24
#define DEFAULT_ANTI_FAKE_LEVEL 2

enum { STATE_IDLE = 0, STATE_DETECTED = 1, STATE_LIVE_CHECK = 2, STATE_FINISH = 3 };

typedef struct CaptureState {
    int state;
    uint32_t startTick;
    int score;
    int patch[4];
    int correctedBytes;
    int level;
    uint8_t *work;
} CaptureState;

/* The elapsed time is part of the interface but does not move the threshold. */
static int quality_gate(int score, uint32_t elapsedMs)
{
    (void)elapsedMs;
    return score >= FIQ_ACCEPT;
}

int CorrectFingerImage(__HandleDev *dev, uint8_t *raw, uint8_t *out, int capacity, int width,
                       int height)
{
    if (capacity < width * height) {
        puts("outImgLen is too short");
        return 0;
    }
    /* The map must produce exactly this image and read only inside a raw frame. */
    int mapW = 0, mapH = 0;
    if (dev->correction == NULL || correct_output_size(dev->correction, &mapW, &mapH) <= 0 ||
        mapW != width || mapH != height || correct_input_size(dev->correction) > RAW_FRAME_SIZE)
        return 0;
    return correct_image(dev->correction, raw, out) >= 0 ? width * height : 0;
}

static int read_raw_frame(__HandleDev *dev, uint8_t *frame)
{
    return QXFPI_GetImage(dev->core, frame, RAW_FRAME_SIZE);
}

/* A short read leaves the rest of the buffer from an earlier frame, so it is
 * no frame: read again while the capture's time (counted from startTick)
 * allows. Returns the last read's result: RAW_FRAME_SIZE, the sensor
 * library's code (<= 0), or a short count when time ran out. */
static int read_whole_frame(__HandleDev *dev, uint8_t *frame, uint32_t startTick)
{
    int n = read_raw_frame(dev, frame);
    while (n > 0 && n < RAW_FRAME_SIZE && tick_ms() - startTick <= DETECT_TIMEOUT_MS)
        n = read_raw_frame(dev, frame);
    return n;
}

static int is_short_frame(int n) { return n > 0 && n < RAW_FRAME_SIZE; }

static void report_short_frame(int n)
{
    printf("Fingerprint frame incomplete %d of %d bytes\n", n, RAW_FRAME_SIZE);
}

static int frame_score(__HandleDev *dev, const uint8_t *frame)
{
    return ComputeMainFIQ(dev->antiFake, frame, RAW_FRAME_W, RAW_FRAME_H);
}

/* Device-side detection: the sensor waits, corrects and judges by itself. */
static int detect_on_device(__HandleDev *dev, uint8_t *frame, int size, int *deviceQuality)
{
    int scratch = 0;
    const int n = QXFPI_DetImageAndQuality(dev->core, frame, size, &scratch, deviceQuality);
    if (n == size && dev->antiFakeEnabled) {
        uint8_t reply[LIVENESS_REPLY_LEN];
        memset(reply, 0, sizeof reply);
        device_read(dev, REG_LIVENESS, reply, LIVENESS_REPLY_LEN);
        const uint32_t word = (uint32_t)reply[20] | ((uint32_t)reply[21] << 8) |
                              ((uint32_t)reply[22] << 16) | ((uint32_t)reply[23] << 24);
        dev->fakeStatus = 0xFFFFFFE7u | (((word >> 2) & 1u) << 4) | (((word >> 3) & 1u) << 3);
    }
    return n;
}

/* Direct capture on a host-processing sensor: one frame, scored and corrected. */
static int direct_on_host(__HandleDev *dev, uint8_t *frame, int width, int height, uint8_t *work)
{
    const int n = read_whole_frame(dev, frame, tick_ms());
    if (n <= 0)
        return n;
    if (is_short_frame(n)) {
        report_short_frame(n);
        return 0;
    }
    dev->lastFiq = frame_score(dev, frame);
    const int bytes = CorrectFingerImage(dev, frame, work, width * height, width, height);
    memcpy(frame, work, (size_t)bytes);
    return bytes;
}

/* The liveness frames are judged on the raw frame at any size; only the patch
 * check needs a minimum image, and without it the capture says so. */
static void note_patch_check_skipped(const __HandleDev *dev, int width, int height)
{
    if (dev->antiFakeEnabled && !PatchDeviationsFit(width, height))
        printf("Image %dx%d too small for the patch check, judged by the liveness frames only\n",
               width, height);
}

static int step_idle(__HandleDev *dev, CaptureState *cs, int width, int height)
{
    uint8_t present = 0;
    const int rc = device_read(dev, REG_FINGER, &present, 1);
    if (present == 0)
        return rc;
    device_write(dev, REG_LIGHT, LIGHT_CAPTURE);
    sleep_ms(10);
    dev->fakeStatus = 0;
    cs->startTick = tick_ms();
    cs->state = STATE_DETECTED;
    note_patch_check_skipped(dev, width, height);
    return 0;
}

static int step_detected(__HandleDev *dev, CaptureState *cs, uint8_t *frame, int width, int height)
{
    const int n = read_whole_frame(dev, frame, cs->startTick);
    if (n <= 0) {
        cs->state = STATE_IDLE;
        return n;
    }
    if (is_short_frame(n)) {
        report_short_frame(n);
        cs->state = STATE_IDLE;
        return device_write(dev, REG_LIGHT, LIGHT_OFF);
    }
    int patchesOk = 1;
    if (dev->antiFakeEnabled && PatchDeviationsFit(width, height)) {
        ComputePatchDeviations(dev->correction, frame, device_origin_w(dev), device_origin_h(dev),
                               width, height, cs->patch);
        for (int i = 0; i < 4; ++i)
            patchesOk = patchesOk && cs->patch[i] >= PATCH_MIN_DEVIATION;
    }
    cs->score = frame_score(dev, frame);
    const uint32_t elapsed = tick_ms() - cs->startTick;
    if (quality_gate(cs->score, elapsed) && patchesOk) {
        dev->lastFiq = cs->score;
        if (dev->antiFakeEnabled) {
            device_write(dev, REG_LIGHT, LIGHT_ANTI_FAKE);
            AntiFake_SetImage(dev->antiFake, frame, RAW_FRAME_W, RAW_FRAME_H, 1);
        }
        cs->correctedBytes = CorrectFingerImage(dev, frame, cs->work, RAW_FRAME_SIZE, width, height);
        cs->state = STATE_LIVE_CHECK;
        return 0;
    }
    if (elapsed > DETECT_TIMEOUT_MS) {
        printf("Fingerprint quality is low %d,%d,%d,%d,%d\n", cs->score, cs->patch[0],
               cs->patch[1], cs->patch[2], cs->patch[3]);
        cs->state = STATE_IDLE;
        return device_write(dev, REG_LIGHT, LIGHT_OFF);
    }
    return 0;
}

static int step_live_check(__HandleDev *dev, CaptureState *cs, uint8_t *frame)
{
    if (!dev->antiFakeEnabled) {
        cs->state = STATE_FINISH;
        return 0;
    }
    const int n = read_whole_frame(dev, frame, cs->startTick); /* under the anti-fake light */
    if (n <= 0) {
        device_write(dev, REG_LIGHT, LIGHT_OFF);
        cs->state = STATE_IDLE;
        return n;
    }
    device_write(dev, REG_LIGHT, LIGHT_CAPTURE);
    if (is_short_frame(n)) {
        /* No whole anti-fake frame in time: the image stands, without a verdict. */
        report_short_frame(n);
    } else if (!AntiFake_SetImage(dev->antiFake, frame, RAW_FRAME_W, RAW_FRAME_H, 0)) {
        puts("AntiFake_SetImage parameter is illegal!!!!!!!!!!!!");
    } else {
        AntiFake_GetStatus(dev->antiFake, &dev->fakeStatus, cs->level);
        /* A finger lifted meanwhile leaves no verdict; so does a last frame
         * that never arrived whole. */
        const int last = read_whole_frame(dev, frame, cs->startTick);
        if (is_short_frame(last)) {
            report_short_frame(last);
            dev->fakeStatus = 0;
        } else if (last > 0 &&
                   !quality_gate(frame_score(dev, frame), tick_ms() - cs->startTick)) {
            dev->fakeStatus = 0;
            puts("finger leave fast, please press slowly!!!!!!!!!!!!");
        }
    }
    cs->state = STATE_FINISH;
    return 0;
}

static int step_finish(__HandleDev *dev, CaptureState *cs, uint8_t *frame)
{
    memcpy(frame, cs->work, (size_t)cs->correctedBytes);
    device_write(dev, REG_LIGHT, LIGHT_OFF);
    cs->state = STATE_IDLE;
    return cs->correctedBytes;
}

int DetectFinger(__HandleDev *dev, uint8_t *frameBuffer, int width, int height, int direct,
                 int *deviceQuality)
{
    const int size = width * height;
    if (dev->deviceProcessing) {
        if (direct)
            return QXFPI_GetImage(dev->core, frameBuffer, size);
        return detect_on_device(dev, frameBuffer, size, deviceQuality);
    }
    CaptureState cs;
    memset(&cs, 0, sizeof cs);
    cs.level = (dev->antiFakeLevel >= 0 && dev->antiFakeLevel <= 2) ? dev->antiFakeLevel
                                                                    : DEFAULT_ANTI_FAKE_LEVEL;
    cs.work = (uint8_t *)malloc(RAW_FRAME_SIZE);
    if (cs.work == NULL)
        return 0;
    int result = 0;
    if (direct) {
        result = direct_on_host(dev, frameBuffer, width, height, cs.work);
    } else {
        do {
            switch (cs.state) {
            case STATE_IDLE: result = step_idle(dev, &cs, width, height); break;
            case STATE_DETECTED: result = step_detected(dev, &cs, frameBuffer, width, height); break;
            case STATE_LIVE_CHECK: result = step_live_check(dev, &cs, frameBuffer); break;
            default: result = step_finish(dev, &cs, frameBuffer); break;
            }
        } while (cs.state > STATE_IDLE);
    }
    free(cs.work);
    return result;
}

int sensorCapture(void *handle, unsigned char *image, int capacity)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL || image == NULL)
        return FPCAP_ERROR_INVALID;
    const int size = device_width(dev) * device_height(dev);
    /* Refuse before touching the device: a finger is not consumed for nothing. */
    if (capacity < size)
        return FPCAP_ERROR_TOO_SMALL;
    dev->lastDeviceQuality = 0;
    int deviceQuality = 0;
    const int n = DetectFinger(dev, dev->rawBuffer, device_width(dev), device_height(dev),
                               dev->directCapture, &deviceQuality);
    if (n > 0) {
        dev->lostCount = 0;
        dev->lastDeviceQuality = deviceQuality;
        /* A short device image is passed on as what it is, not padded to a full one. */
        const int copied = n < size ? n : size;
        memcpy(image, dev->rawBuffer, (size_t)copied);
        return copied;
    }
    if (n == SENSOR_LOST_DEVICE)
        dev->lostCount++;
    return n;
}
