/* Calibration stored in the sensor's EEPROM: distortion, perspective,
 * exposure and LED blocks, the stripe reference point and the identity block. */
#include "sensor/device.h"
#include "fpcap_error.h"
#include "sensor/xlog.h"

#include <stdio.h>
#include <string.h>

#include "qxsensorcore.h"

enum {
    EE_DISTORTION = 0, EE_DISTORTION_LEN = 30,
    EE_PERSPECTIVE = 38, EE_PERSPECTIVE_LEN = 10,
    EE_EXPOSURE = 48, EE_EXPOSURE_LEN = 12,
    EE_STRIPE = 106, EE_STRIPE_LEN = 4,
    EE_LED = 112, EE_LED_LEN = 10,
    EE_IDENTITY = 176, EE_IDENTITY_LEN = 80,
    ID_SERIAL_OFFSET = 40, ID_SERIAL_LEN = 16,
    ID_SENSOR_OFFSET = 56, ID_SENSOR_LEN = 16
};

#define EMPTY_ENTRY 0xFF

int eeprom_read(__HandleDev *dev, int address, int length, uint8_t *out)
{
    if (out == NULL || address < 0 || length <= 0 || address >= EEPROM_SIZE)
        return 0;
    if (length > EEPROM_SIZE - address)
        length = EEPROM_SIZE - address;
    if (dev->eepromCacheLength == EEPROM_SIZE) {
        memcpy(out, dev->eepromCache + address, (size_t)length);
        return length;
    }
    for (int i = 0; i < length; ++i) {
        unsigned char byte = 0;
        if (QXFPI_ReadEeprom(dev->core, (address + i) & 0xFF, &byte) != 0)
            return 0;
        out[i] = byte;
    }
    return length;
}

static int16_t word_at(const uint8_t *p, int index)
{
    return (int16_t)(p[2 * index] | (p[2 * index + 1] << 8));
}

/* 1 + signed sum of `count` words, compared with the word after them. */
static int word_checksum_ok(const uint8_t *block, int count)
{
    int32_t sum = 1;
    for (int i = 0; i < count; ++i)
        sum += word_at(block, i);
    int32_t stored = word_at(block, count);
    if (sum != stored)
        return 0;
    printf("Check sum data is true!sum=%d, buf[val]=%d\n", sum, stored);
    return 1;
}

/* Every size and corner from the EEPROM ends up as an allocation size or a
 * table index: keep them to what the raw frame and work buffer can hold. */
static int distortion_in_range(const int16_t *w)
{
    const int originW = w[DIST_ORIGIN_W], originH = w[DIST_ORIGIN_H];
    if (originW <= 0 || originH <= 0 || originW > RAW_FRAME_W || originH > RAW_FRAME_H)
        return 0;
    for (int i = 0; i < 8; ++i) {
        const int v = w[DIST_GRID + i];
        if (v < 0 || v > (i % 2 == 0 ? originW : originH))
            return 0;
    }
    return output_size_fits((uint16_t)w[DIST_WIDTH] & 0xFFF, (uint16_t)w[DIST_HEIGHT]);
}

static int load_distortion(__HandleDev *dev)
{
    uint8_t block[EE_DISTORTION_LEN];
    const int n = eeprom_read(dev, EE_DISTORTION, EE_DISTORTION_LEN, block);
    if (n < EE_DISTORTION_LEN) {
        XLogPrintf(6, NULL, "Debug: GetDistortionParam 2 , len=%d!\n", n);
        return FPCAP_ERROR_DEVICE;
    }
    if (!word_checksum_ok(block, DIST_CHECKSUM)) {
        XLogPrintf(6, NULL, "Debug: GetDistortionParam 3 !\n");
        return FPCAP_ERROR_DEVICE;
    }
    for (int i = 0; i < DIST_WORDS; ++i)
        dev->distortion[i] = word_at(block, i);
    if (!distortion_in_range(dev->distortion)) {
        XLogPrintf(6, NULL, "Debug: GetDistortionParam 6, origin=%dx%d size=%dx%d out of range!\n",
                   device_origin_w(dev), device_origin_h(dev),
                   (uint16_t)dev->distortion[DIST_WIDTH] & 0xFFF, device_height(dev));
        return FPCAP_ERROR_DEVICE;
    }
    const int width = (uint16_t)dev->distortion[DIST_WIDTH] & 0xFFF;
    device_set_size(dev, width, device_height(dev));
    dev->nativeWidth = width;
    dev->nativeHeight = device_height(dev);
    return 0;
}

static int load_perspective(__HandleDev *dev)
{
    uint8_t block[EE_PERSPECTIVE_LEN];
    const int n = eeprom_read(dev, EE_PERSPECTIVE, EE_PERSPECTIVE_LEN, block);
    if (n < EE_PERSPECTIVE_LEN) {
        XLogPrintf(6, NULL, "Debug: GetDistortionParam 4, len=%d !\n", n);
        return FPCAP_ERROR_DEVICE;
    }
    if (!word_checksum_ok(block, 4)) {
        XLogPrintf(6, NULL, "Debug: GetDistortionParam 5\n");
        return FPCAP_ERROR_DEVICE;
    }
    for (int i = 0; i < 5; ++i)
        dev->perspective[i] = word_at(block, i);
    return 0;
}

static int load_stripe_point(__HandleDev *dev)
{
    uint8_t block[EE_STRIPE_LEN];
    if (eeprom_read(dev, EE_STRIPE, EE_STRIPE_LEN, block) < EE_STRIPE_LEN) {
        XLogPrintf(6, NULL, "Debug: GetFakeDetectRectInfo Fail !\n");
        return FPCAP_ERROR_DEVICE;
    }
    dev->Stripe_Reference_Point_X = word_at(block, 0);
    dev->Stripe_Reference_Point_Y = word_at(block, 1);
    printf("opts->Stripe_Reference_Point_X=%d, opts->Stripe_Reference_Point_Y=%d\n",
           dev->Stripe_Reference_Point_X, dev->Stripe_Reference_Point_Y);
    return 0;
}

static int load_exposure(__HandleDev *dev)
{
    uint8_t block[EE_EXPOSURE_LEN];
    if (eeprom_read(dev, EE_EXPOSURE, EE_EXPOSURE_LEN, block) < EE_EXPOSURE_LEN ||
        !word_checksum_ok(block, 5)) {
        XLogPrintf(6, NULL, "Debug: GetExposureParameters Fail !\n");
        return FPCAP_ERROR_DEVICE;
    }
    dev->Exposure = word_at(block, 0);
    dev->RedGain = word_at(block, 1);
    dev->GreenGain1 = word_at(block, 2);
    dev->GreenGain2 = word_at(block, 3);
    dev->BlueGain = word_at(block, 4);
    printf("CMOS Sensor->Exposure:%d, RedGain:%d, GreenGain1:%d, GreenGain2:%d,BlueGain:%d.\n",
           dev->Exposure, dev->RedGain, dev->GreenGain1, dev->GreenGain2, dev->BlueGain);
    return 0;
}

static int load_leds(__HandleDev *dev)
{
    uint8_t block[EE_LED_LEN];
    int ok = eeprom_read(dev, EE_LED, EE_LED_LEN, block) == EE_LED_LEN;
    if (ok) {
        unsigned sum = 1;
        for (int i = 0; i < 9; ++i)
            sum += block[i];
        ok = (uint8_t)sum == block[9];
    }
    if (!ok) {
        XLogPrintf(6, NULL, "Debug: GetLEDParameters Fail !\n");
        return FPCAP_ERROR_DEVICE;
    }
    dev->Main1LED = block[0];
    dev->Main2LED = block[1];
    dev->Side1LED = block[2];
    dev->Side2LED = block[3];
    dev->Anti1LED = block[4];
    dev->Anti2LED = block[5];
    printf("Main1LED:%d, Main2LED:%d, Side1LED:%d, Side2LED:%d, Anti1LED:%d, Anti2LED:%d.\n",
           dev->Main1LED, dev->Main2LED, dev->Side1LED, dev->Side2LED, dev->Anti1LED,
           dev->Anti2LED);
    return 0;
}

int load_calibration(__HandleDev *dev)
{
    const int distortion = load_distortion(dev);
    const int perspective = distortion == 0 ? load_perspective(dev) : FPCAP_ERROR_DEVICE;
    if (distortion != 0 || perspective != 0) {
        XLogPrintf(6, NULL, "Debug: GetDistortionParam Fail !\n");
        return FPCAP_ERROR_DEVICE;
    }
    if (load_stripe_point(dev) != 0 || load_exposure(dev) != 0 || load_leds(dev) != 0)
        return FPCAP_ERROR_DEVICE;
    return 0;
}

void load_identity(__HandleDev *dev)
{
    uint8_t block[EE_IDENTITY_LEN];
    if (eeprom_read(dev, EE_IDENTITY, EE_IDENTITY_LEN, block) < EE_IDENTITY_LEN) {
        /* Unread entries count as empty, not as an all-zero identifier. */
        dev->eepromSerial[0] = (char)EMPTY_ENTRY;
        dev->eepromSerial[1] = '\0';
        dev->sensorId[0] = EMPTY_ENTRY;
        return;
    }
    memcpy(dev->eepromSerial, block + ID_SERIAL_OFFSET, ID_SERIAL_LEN);
    dev->eepromSerial[ID_SERIAL_LEN] = '\0';
    memcpy(dev->sensorId, block + ID_SENSOR_OFFSET, ID_SENSOR_LEN);
}

int setup_host_processing(__HandleDev *dev)
{
    dev->antiFake = AntiFake_Init(dev->Stripe_Reference_Point_X, dev->Stripe_Reference_Point_Y);
    if (dev->antiFake == NULL || correct_init(&dev->correction) != 0)
        return FPCAP_ERROR_DEVICE;
    CorrectContext *cc = dev->correction;
    const int16_t *g = dev->distortion + DIST_GRID;
    correct_quality(cc, dev->qualityLevel);
    correct_perspective(cc, dev->perspective[0], dev->perspective[1], dev->perspective[2],
                        dev->perspective[3]);
    correct_option(cc, dev->uniformEnabled, 3, 1, 0, 0, 0);
    correct_size_origin(cc, device_origin_w(dev), device_origin_h(dev));
    correct_grid(cc, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
    return correct_size_target(cc, device_width(dev), device_height(dev));
}

void release_host_processing(__HandleDev *dev)
{
    if (dev->correction != NULL) {
        correct_free(dev->correction);
        dev->correction = NULL;
    }
    if (dev->antiFake != NULL) {
        AntiFake_Free(dev->antiFake);
        dev->antiFake = NULL;
    }
}

void program_leds(__HandleDev *dev)
{
    const uint8_t levels[6] = {dev->Main1LED, dev->Main2LED, dev->Side1LED,
                               dev->Side2LED, dev->Anti1LED, dev->Anti2LED};
    for (int i = 0; i < 6; ++i)
        if (levels[i] != 0)
            device_write(dev, REG_LED_FIRST + i, levels[i] * 256 + 1);
}

/* Each gain goes to both camera registers of its pair. */
static void write_gain(__HandleDev *dev, int gain, int regA, int regB)
{
    if (gain <= 0)
        return;
    QXFPI_WriteCamera(dev->core, (char)regA, (char)(gain & 0xFF));
    QXFPI_WriteCamera(dev->core, (char)regB, (char)(gain & 0xFF));
}

void program_camera(__HandleDev *dev)
{
    puts("start to set the exposure parameters");
    write_gain(dev, dev->RedGain, 0xA5, 0xA6);
    write_gain(dev, dev->GreenGain1, 0xA3, 0xA4);
    write_gain(dev, dev->GreenGain2, 0xA9, 0xAA);
    write_gain(dev, dev->BlueGain, 0xA7, 0xA8);
    if ((dev->Exposure & 0xFFFF) != 0) {
        QXFPI_WriteCamera(dev->core, 3, (char)((dev->Exposure >> 8) & 0xFF));
        QXFPI_WriteCamera(dev->core, 4, (char)(dev->Exposure & 0xFF));
    }
}
