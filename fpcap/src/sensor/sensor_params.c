/* Parameter codes of sensorGetParameter / sensorSetParameter and their
 * buffer variants. */
#include "sensor/device.h"
#include "fpcap_error.h"

#include <string.h>
#include <strings.h>

#include "qxsensorcore.h"

#define PARAM_CONSTANT_VALUE 7
#define SENSOR_ID_LEN 16
#define EMPTY_ENTRY 0xFF

static int in_range(int v, int lo, int hi) { return v >= lo && v <= hi; }

int sensorGetParameter(void *handle, int code)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL)
        return FPCAP_ERROR_INVALID;
    switch (code) {
    case SENSOR_PARAM_WIDTH: return device_width(dev);
    case SENSOR_PARAM_HEIGHT: return device_height(dev);
    case SENSOR_PARAM_DPI: return (int)dev->dpi;
    case SENSOR_PARAM_CONSTANT: return PARAM_CONSTANT_VALUE;
    case SENSOR_PARAM_DIRECT_CAPTURE: return dev->directCapture;
    case SENSOR_PARAM_STORED: return dev->param6;
    case SENSOR_PARAM_IMAGE_SIZE: return device_width(dev) * device_height(dev);
    case 107: case 200: case 201: case 30001: return 0;
    case SENSOR_PARAM_HW_VERSION: return dev->hwVersion[0] | (dev->hwVersion[1] << 8);
    case SENSOR_PARAM_USB_IDS: return (int)(dev->pid * 65536u + dev->vid);
    case SENSOR_PARAM_DEVICE_QUALITY: return dev->lastDeviceQuality;
    case SENSOR_PARAM_QUALITY_LEVEL: return dev->qualityLevel;
    case SENSOR_PARAM_ANTI_FAKE: return dev->antiFakeEnabled;
    case SENSOR_PARAM_ANTI_FAKE_LEVEL: return dev->antiFakeLevel;
    case SENSOR_PARAM_FAKE_STATUS: return dev->antiFakeEnabled ? (int)dev->fakeStatus : -1;
    case SENSOR_PARAM_OUTPUT_83: return dev->output83;
    default: return FPCAP_ERROR_PARAMETER;
    }
}

/* New output size for a resolution; refused when the image would not fit
 * the capture buffers. */
static int set_resolution(__HandleDev *dev, int dpi)
{
    if (dpi < 1)
        return FPCAP_ERROR_RESOLUTION;
    const float fw = (float)dev->nativeWidth * (float)dpi / NATIVE_DPI;
    const float fh = (float)dev->nativeHeight * (float)dpi / NATIVE_DPI;
    if (!(fw < 65536.0f && fh < 65536.0f))
        return FPCAP_ERROR_RESOLUTION;
    const int w = (int)fw, h = (int)fh;
    if (!output_size_fits(w, h))
        return FPCAP_ERROR_RESOLUTION;
    if (dev->correction != NULL && correct_size_target(dev->correction, w, h) != 0)
        return FPCAP_ERROR_RESOLUTION;
    dev->dpi = (float)dpi;
    device_set_size(dev, w, h);
    device_write(dev, REG_DPI, (int)(dev->dpi / 10));
    return 0;
}

static int set_direct_capture(__HandleDev *dev, int v)
{
    dev->directCapture = v;
    if (dev->deviceProcessing)
        device_write(dev, REG_CAPTURE_MODE, v == 0 ? 3 : 1);
    else
        device_write(dev, REG_LIGHT, v == 0 ? LIGHT_OFF : LIGHT_CAPTURE);
    return 0;
}

static int set_output(__HandleDev *dev, int code, int v)
{
    static const int commands[3] = {0x1403, 0x1402, 0x1401}; /* 101, 102, 103 */
    if (v != 0 && v != 1)
        return FPCAP_ERROR_PARAMETER;
    if (v == 1)
        device_write(dev, REG_OUTPUT, commands[code - SENSOR_PARAM_OUTPUT_1]);
    return 0;
}

int sensorSetParameter(void *handle, int code, int value)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL)
        return FPCAP_ERROR_INVALID;
    switch (code) {
    case SENSOR_PARAM_DPI: return set_resolution(dev, value);
    case SENSOR_PARAM_DIRECT_CAPTURE: return set_direct_capture(dev, value);
    case SENSOR_PARAM_STORED: dev->param6 = value; return 0;
    case SENSOR_PARAM_OUTPUT_1:
    case SENSOR_PARAM_OUTPUT_2:
    case SENSOR_PARAM_OUTPUT_3: return set_output(dev, code, value);
    case SENSOR_PARAM_QUALITY_LEVEL:
        if (value != 100 && value != 200 && value != 300)
            return FPCAP_ERROR_INVALID;
        dev->qualityLevel = value;
        return 0;
    case SENSOR_PARAM_ANTI_FAKE:
        dev->antiFakeEnabled = value;
        device_write(dev, REG_ANTI_FAKE, value);
        return 0;
    case SENSOR_PARAM_ANTI_FAKE_LEVEL:
        if (!in_range(value, 0, 2))
            return FPCAP_ERROR_INVALID;
        dev->antiFakeLevel = value;
        return 0;
    case SENSOR_PARAM_OUTPUT_83:
        if (value != 0 && value != 1)
            return FPCAP_ERROR_PARAMETER;
        dev->output83 = value;
        device_write(dev, REG_OUTPUT_83, value);
        return 0;
    case SENSOR_PARAM_SELF_CHECK: return QXFPI_CheckSensor(dev->core, value);
    default: return FPCAP_ERROR_PARAMETER;
    }
}

static int is_unset_serial(const char *s)
{
    return s[0] == '\0' || strcasecmp(s, "0") == 0;
}

/* USB serial unless it is empty or "0"; then the EEPROM serial, unless that
 * entry is empty too. */
static const char *select_serial(const __HandleDev *dev)
{
    if (!is_unset_serial(dev->usbSerial))
        return dev->usbSerial;
    if ((uint8_t)dev->eepromSerial[0] == EMPTY_ENTRY)
        return dev->usbSerial;
    return dev->eepromSerial;
}

static int copy_string(const char *s, char *buffer, int *length)
{
    const int n = (int)strlen(s);
    if (*length < n)
        return FPCAP_ERROR_TOO_SMALL;
    /* The terminator goes in when there is room for it. */
    memcpy(buffer, s, (size_t)(*length > n ? n + 1 : n));
    *length = n;
    return 0;
}

static int int_code_readable(int code)
{
    return in_range(code, 1, 7) || in_range(code, 101, 107) || in_range(code, 200, 202) ||
           in_range(code, 1002, 1016) || in_range(code, 2001, 2004) || code == 30001;
}

int sensorGetParameterEx(void *handle, int code, char *buffer, int *length)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL || buffer == NULL || length == NULL)
        return FPCAP_ERROR_INVALID;
    if (int_code_readable(code)) {
        if (*length < 4)
            return FPCAP_ERROR_TOO_SMALL;
        const int value = sensorGetParameter(dev, code);
        memcpy(buffer, &value, 4);
        *length = 4;
        return 0;
    }
    switch (code) {
    case SENSOR_PARAM_MANUFACTURER: return copy_string(dev->manufacturer, buffer, length);
    case SENSOR_PARAM_MODEL: return copy_string(dev->model, buffer, length);
    case SENSOR_PARAM_SERIAL: return copy_string(select_serial(dev), buffer, length);
    case SENSOR_PARAM_SENSOR_ID:
        if (*length < SENSOR_ID_LEN || dev->sensorId[0] == EMPTY_ENTRY)
            return FPCAP_ERROR_TOO_SMALL;
        memcpy(buffer, dev->sensorId, SENSOR_ID_LEN);
        *length = SENSOR_ID_LEN;
        return 0;
    default: return FPCAP_ERROR_PARAMETER;
    }
}

static int int_code_writable(int code)
{
    return in_range(code, 1, 7) || in_range(code, 101, 107) || code == 200 || code == 201 ||
           in_range(code, 1002, 1014) || in_range(code, 2001, 2005);
}

int sensorSetParameterEx(void *handle, int code, char *buffer, int length)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL || buffer == NULL)
        return FPCAP_ERROR_INVALID;
    if (!int_code_writable(code))
        return FPCAP_ERROR_PARAMETER;
    if (length < 4)
        return FPCAP_ERROR_TOO_SMALL;
    int value;
    memcpy(&value, buffer, 4);
    return sensorSetParameter(dev, code, value);
}
