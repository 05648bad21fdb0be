/*
 * libqxsensorcore entry points used by the fingerprint plug-in.
 *
 * Device records are 84 bytes: vendor id (u16 LE), product id (u16 LE) and
 * 80 bytes owned by the library, beginning with a NUL-terminated text.
 * Connections are opaque pointers, null on failure. Register reads/writes,
 * EEPROM reads and camera writes return 0 on success; image reads return the
 * number of bytes delivered or a negative code.
 */
#ifndef QXSENSORCORE_H
#define QXSENSORCORE_H

#ifdef __cplusplus
extern "C" {
#endif

#define QXFPI_DEVICE_RECORD_SIZE 84
/* Returned by image and register calls once the device has gone away. */
#define QXFPI_ERR_DEVICE_LOST (-99998)

/* Fills up to capacity records of the given vendor (product 0: any). */
int QXFPI_EnumDevice(int vid, int pid, void *records, int capacity, int flags);

void *QXFPI_Open(const void *record, int flags, int reserved);
int QXFPI_Close(void *core);

/* Block read of the calibration EEPROM from address 0; returns the count. */
int QXFPI_ReadEEPROM2(void *core, int length, int capacity, unsigned char *buf);
int QXFPI_ReadEeprom(void *core, int address, unsigned char *byte);

int QXFPI_GetVID_PID_REV(void *core, unsigned int *vid, unsigned int *pid, unsigned int *rev);
int QXFPI_GetModel(void *core, char *buf, int capacity);
int QXFPI_GetManufacturer(void *core, char *buf, int capacity);
int QXFPI_GetSerialNumber(void *core, char *buf, int capacity);

int QXFPI_SetGPIO(void *core, int reg, int value);
int QXFPI_GetGPIO(void *core, int reg, unsigned char *buf, int length);
int QXFPI_WriteCamera(void *core, char reg, char value);

int QXFPI_GetImage(void *core, unsigned char *buf, int capacity);
int QXFPI_DetImageAndQuality(void *core, unsigned char *buf, int capacity, int *scratch, int *quality);

int QXFPI_Reboot(void *core);
int QXFPI_RebootEx(const void *record, int flags);
int QXFPI_CheckSensor(void *core, int value);
int QXFPI_UpgradeFirmware(void *core, const unsigned char *data, int length);

#ifdef __cplusplus
}
#endif

#endif
