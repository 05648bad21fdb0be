/*
 * libqxfpcap: USB optical fingerprint sensor plug-in.
 *
 * Plain C interface; handles are opaque. Results are int, 0 or a positive
 * count on success, negative codes on failure:
 *   -1 device cannot be reopened / not responsive
 *   -2 null handle or buffer, value outside the allowed set
 *   -3 buffer or length too small
 *   -4 resolution out of range
 *   -5 unknown parameter code or value other than 0/1 where only those are allowed
 *   -99998 the device was lost (reported by sensorStatus until a capture succeeds)
 */
#ifndef QXFPCAP_H
#define QXFPCAP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One sensor as the sensor library enumerates it (84 bytes). */
typedef struct _XUSBDevice {
    uint16_t vid;
    uint16_t pid;
    char info[80]; /* NUL-terminated device text first; the rest belongs to the sensor library */
} _XUSBDevice;

#define SENSOR_VENDOR_ID 6997
#define SENSOR_PRODUCT_A 288
#define SENSOR_PRODUCT_B 292
#define SENSOR_LOST_DEVICE (-99998)

/* Parameter codes. */
enum {
    SENSOR_PARAM_WIDTH = 1,
    SENSOR_PARAM_HEIGHT = 2,
    SENSOR_PARAM_DPI = 3,
    SENSOR_PARAM_CONSTANT = 4,
    SENSOR_PARAM_DIRECT_CAPTURE = 5,
    SENSOR_PARAM_STORED = 6,
    SENSOR_PARAM_OUTPUT_1 = 101,
    SENSOR_PARAM_OUTPUT_2 = 102,
    SENSOR_PARAM_OUTPUT_3 = 103,
    SENSOR_PARAM_IMAGE_SIZE = 106,
    SENSOR_PARAM_HW_VERSION = 202,
    SENSOR_PARAM_MANUFACTURER = 1101,
    SENSOR_PARAM_MODEL = 1102,
    SENSOR_PARAM_SERIAL = 1103,
    SENSOR_PARAM_SENSOR_ID = 1104,
    SENSOR_PARAM_USB_IDS = 1015,
    SENSOR_PARAM_DEVICE_QUALITY = 1016,
    SENSOR_PARAM_QUALITY_LEVEL = 2001,
    SENSOR_PARAM_ANTI_FAKE = 2002,
    SENSOR_PARAM_ANTI_FAKE_LEVEL = 2003,
    SENSOR_PARAM_FAKE_STATUS = 2004,
    SENSOR_PARAM_OUTPUT_83 = 2005,
    SENSOR_PARAM_SELF_CHECK = 10002
};

int sensorEnumDevices(_XUSBDevice *devices, int capacity);
void *sensorOpen(_XUSBDevice *device);
int sensorClose(void *handle);
int sensorReOpen(void *handle);
int sensorReboot(void *handle);
int sensorRebootEx(_XUSBDevice *device);
int sensorGetVersion(char *buffer, int capacity);
/* Waits for a finger (when one is seen) and copies width x height bytes of
 * corrected grey image; 0 when nothing was taken; -3 when capacity is below
 * width x height. */
int sensorCapture(void *handle, unsigned char *image, int capacity);
int sensorGetParameter(void *handle, int code);
int sensorSetParameter(void *handle, int code, int value);
int sensorGetParameterEx(void *handle, int code, char *buffer, int *length);
int sensorSetParameterEx(void *handle, int code, char *buffer, int length);
int sensorGetName(void *handle);
int sensorCheck(void *handle, int value);
int sensorStatus(void *handle);
int sensorSetLogLevel(int level);
int sensorUpgrade(void *handle, unsigned char *data, int length);
int sensorWDTEnable(void *handle, int value);
int sensorWDTReset(void *handle);

#ifdef __cplusplus
}
#endif

#endif
