/* USB device table and bulk transfers on libusb-1.0 (internal, not exported). */
#ifndef QX_QXFPI_H
#define QX_QXFPI_H

#include <libusb.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QXFPI_MAX_DEVICES 16

typedef struct {
    int pid;
    int vid;
    char sensorName[64];
    libusb_device_handle* dev_handle;
    libusb_device* device;
    unsigned char inEndpoint;
    unsigned char outEndpoint;
    libusb_context* context;
} SensorDevice;

typedef struct {
    int deviceCount;
    SensorDevice sensorDevices[QXFPI_MAX_DEVICES];
    libusb_context* context;
} ConnectHandle;

ConnectHandle QXFPI_Init(void);
int QXFPI_Open(int index);
int QXFPI_Close(int index);
void QXFPI_free(void);
int QXFPI_WirteBulkData(int index, char* buffer, int size);
int QXFPI_ReadBulkData(int index, char* buffer, int size, int timeout);
/* As QXFPI_ReadBulkData, also reporting the bytes that arrived. */
int QXFPI_ReadBulkDataN(int index, char* buffer, int size, int timeout, int* received);

#ifdef __cplusplus
}
#endif

#endif
