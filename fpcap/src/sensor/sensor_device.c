/* Exported device functions: enumeration, open / reopen / close, status and
 * the small pass-through calls. */
#include "sensor/device.h"
#include "fpcap_error.h"
#include "sensor/xlog.h"

#include <stdlib.h>
#include <string.h>

#include "qxsensorcore.h"

#define ENUM_MAX_RECORDS 128
#define PLUGIN_VERSION "3.0.0.1"
#define VERSION_MIN_CAPACITY 20

int device_write(__HandleDev *dev, int reg, int value)
{
    return QXFPI_SetGPIO(dev->core, reg, value);
}

int device_read(__HandleDev *dev, int reg, uint8_t *buf, int length)
{
    return QXFPI_GetGPIO(dev->core, reg, buf, length);
}

int sensorEnumDevices(_XUSBDevice *devices, int capacity)
{
    if (devices == NULL || capacity <= 0)
        return 0;
    _XUSBDevice *records = (_XUSBDevice *)calloc(ENUM_MAX_RECORDS, sizeof(_XUSBDevice));
    if (records == NULL)
        return 0;
    int found = QXFPI_EnumDevice(SENSOR_VENDOR_ID, 0, records, ENUM_MAX_RECORDS, 0);
    if (found > ENUM_MAX_RECORDS)
        found = ENUM_MAX_RECORDS;
    int copied = 0;
    for (int i = 0; i < found && copied < capacity; ++i) {
        if (records[i].pid == SENSOR_PRODUCT_A || records[i].pid == SENSOR_PRODUCT_B)
            devices[copied++] = records[i];
    }
    free(records);
    return copied;
}

static void read_hardware_version(__HandleDev *dev)
{
    dev->hwVersion[0] = dev->hwVersion[1] = 0;
    device_read(dev, REG_HW_VERSION, dev->hwVersion, 2);
    dev->deviceProcessing = (dev->hwVersion[0] > 4 || dev->hwVersion[1] > 1) ? 1 : 0;
}

static void write_capture_mode(__HandleDev *dev)
{
    device_write(dev, REG_CAPTURE_MODE, dev->directCapture == 0 ? 3 : 1);
}

static int allocate_buffers(__HandleDev *dev)
{
    /* A raw frame always fits; the origin window is bounded by it. */
    dev->rawBuffer = (uint8_t *)calloc(1, RAW_FRAME_SIZE);
    dev->auxBuffer = (uint8_t *)calloc(1, RAW_FRAME_SIZE);
    return dev->rawBuffer != NULL && dev->auxBuffer != NULL ? 0 : FPCAP_ERROR_DEVICE;
}

static void read_strings(__HandleDev *dev)
{
    QXFPI_GetModel(dev->core, dev->model, sizeof dev->model);
    QXFPI_GetManufacturer(dev->core, dev->manufacturer, sizeof dev->manufacturer);
    QXFPI_GetSerialNumber(dev->core, dev->usbSerial, sizeof dev->usbSerial);
    dev->model[sizeof dev->model - 1] = '\0';
    dev->manufacturer[sizeof dev->manufacturer - 1] = '\0';
    dev->usbSerial[sizeof dev->usbSerial - 1] = '\0';
}

/* First open: calibration, contexts, buffers, strings, LEDs and camera. */
static int first_open_setup(__HandleDev *dev)
{
    dev->directCapture = 0;
    dev->param6 = 0;
    dev->dpi = NATIVE_DPI;
    int rc = load_calibration(dev);
    if (rc == 0 && !dev->deviceProcessing)
        rc = setup_host_processing(dev);
    if (rc != 0) {
        release_host_processing(dev);
        return FPCAP_ERROR_DEVICE;
    }
    if (allocate_buffers(dev) != 0) {
        release_host_processing(dev);
        return FPCAP_ERROR_DEVICE;
    }
    read_strings(dev);
    program_leds(dev);
    program_camera(dev);
    load_identity(dev);
    return 0;
}

static int initialise(__HandleDev *dev, int firstOpen)
{
    dev->eepromCacheLength = QXFPI_ReadEEPROM2(dev->core, EEPROM_SIZE, EEPROM_SIZE, dev->eepromCache);
    QXFPI_GetVID_PID_REV(dev->core, &dev->vid, &dev->pid, &dev->rev);
    dev->vid &= 0xFFFF;
    dev->pid &= 0xFFFF;
    XLogPrintf(3, NULL, "vid=%d,pid=%d\r\n", (int)dev->vid, (int)dev->pid);
    sleep_ms(10);
    read_hardware_version(dev);
    if (firstOpen) {
        const int rc = first_open_setup(dev);
        if (rc != 0) {
            XLogPrintf(6, NULL, "Debug: sensorOpen setup failed, %s\n", fpcap_error_name(rc));
            return FPCAP_ERROR_DEVICE;
        }
    } else {
        device_write(dev, REG_DPI, (int)(dev->dpi / 10));
    }
    device_write(dev, REG_INIT_A, 0x8001);
    device_write(dev, REG_INIT_B, 0x8001);
    device_write(dev, REG_INIT_C, 0x8001);
    device_write(dev, REG_OUTPUT_83, 1);
    device_write(dev, REG_ANTI_FAKE, dev->antiFakeEnabled);
    if (dev->deviceProcessing) {
        device_write(dev, REG_DEVICE_PROCESSING, 1);
        write_capture_mode(dev);
    } else {
        write_capture_mode(dev);
        device_write(dev, REG_DEVICE_PROCESSING, 0);
    }
    return 0;
}

void *sensorOpen(_XUSBDevice *device)
{
    if (device == NULL)
        return NULL;
    __HandleDev *dev = (__HandleDev *)calloc(1, sizeof(__HandleDev));
    if (dev == NULL)
        return NULL;
    dev->core = QXFPI_Open(device, 0, 0);
    memcpy(&dev->deviceRecord, device, sizeof dev->deviceRecord);
    if (dev->core == NULL) {
        free(dev);
        return NULL;
    }
    if (initialise(dev, 1) != 0) {
        QXFPI_Close(dev->core);
        free(dev->rawBuffer);
        free(dev->auxBuffer);
        free(dev);
        return NULL;
    }
    return dev;
}

int sensorReOpen(void *handle)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL)
        return FPCAP_ERROR_INVALID;
    void *core = QXFPI_Open(&dev->deviceRecord, 0, 0);
    if (core == NULL)
        return FPCAP_ERROR_DEVICE;
    if (dev->core != NULL)
        QXFPI_Close(dev->core);
    dev->core = core;
    initialise(dev, 0);
    return 0;
}

int sensorClose(void *handle)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL)
        return FPCAP_ERROR_INVALID;
    if (dev->core != NULL) {
        if (!dev->deviceProcessing)
            release_host_processing(dev);
        device_write(dev, REG_LIGHT, 0);
        device_write(dev, REG_CAPTURE_MODE, 0);
        device_write(dev, REG_DEVICE_PROCESSING, 0);
        QXFPI_Close(dev->core);
    }
    release_host_processing(dev);
    free(dev->rawBuffer);
    free(dev->auxBuffer);
    free(dev);
    return 0;
}

int sensorReboot(void *handle)
{
    __HandleDev *dev = (__HandleDev *)handle;
    return dev == NULL ? FPCAP_ERROR_INVALID : QXFPI_Reboot(dev->core);
}

int sensorRebootEx(_XUSBDevice *device)
{
    return QXFPI_RebootEx(device, 0);
}

int sensorGetVersion(char *buffer, int capacity)
{
    if (buffer == NULL)
        return FPCAP_ERROR_INVALID;
    if (capacity < VERSION_MIN_CAPACITY)
        return FPCAP_ERROR_TOO_SMALL;
    memcpy(buffer, PLUGIN_VERSION, sizeof PLUGIN_VERSION);
    return 0;
}

int sensorGetName(void *handle)
{
    (void)handle;
    return 0;
}

int sensorCheck(void *handle, int value)
{
    __HandleDev *dev = (__HandleDev *)handle;
    return dev == NULL ? FPCAP_ERROR_INVALID : QXFPI_CheckSensor(dev->core, value);
}

int sensorStatus(void *handle)
{
    __HandleDev *dev = (__HandleDev *)handle;
    if (dev == NULL)
        return FPCAP_ERROR_INVALID;
    if (dev->lostCount != 0)
        return SENSOR_LOST_DEVICE;
    uint8_t value[4] = {0, 0, 0, 0};
    device_read(dev, REG_HW_VERSION, value, 2);
    return (value[0] | value[1] | value[2] | value[3]) != 0 ? 0 : FPCAP_ERROR_DEVICE;
}

int sensorSetLogLevel(int level)
{
    (void)level;
    return 0;
}

int sensorUpgrade(void *handle, unsigned char *data, int length)
{
    __HandleDev *dev = (__HandleDev *)handle;
    return dev == NULL ? FPCAP_ERROR_INVALID : QXFPI_UpgradeFirmware(dev->core, data, length);
}

int sensorWDTEnable(void *handle, int value)
{
    __HandleDev *dev = (__HandleDev *)handle;
    return dev == NULL ? FPCAP_ERROR_INVALID : device_write(dev, REG_WDT_ENABLE, value);
}

int sensorWDTReset(void *handle)
{
    __HandleDev *dev = (__HandleDev *)handle;
    return dev == NULL ? FPCAP_ERROR_INVALID : device_write(dev, REG_WDT_RESET, 0);
}
