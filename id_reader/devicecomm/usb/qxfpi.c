/* USB readers: enumeration, endpoint discovery, bulk transfers. */
#include "qxfpi.h"
#include "qxident.h"

#include "logPrintf.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static ConnectHandle connect_handle;
static pthread_mutex_t mut_lock = PTHREAD_MUTEX_INITIALIZER;

static int slot_is_valid(int index) { return index >= 0 && index < QXFPI_MAX_DEVICES; }

static int device_matches(int vid, int pid) { return vid == 0x0400 || (vid == 0x0525 && pid == 0xA4A8); }

static void label_for(int vid, int pid, char* name, size_t cap)
{
    if (vid == 0x0525)
        snprintf(name, cap, "QX-ID gadget reader");
    else
        snprintf(name, cap, "QX-ID reader %04x", pid);
}

static long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void take_device(libusb_device* device, const struct libusb_device_descriptor* desc)
{
    SensorDevice* slot = &connect_handle.sensorDevices[connect_handle.deviceCount];
    memset(slot, 0, sizeof *slot);
    slot->vid = desc->idVendor;
    slot->pid = desc->idProduct;
    slot->device = libusb_ref_device(device);
    label_for(slot->vid, slot->pid, slot->sensorName, sizeof slot->sensorName);
    QXLOG(INFO, "Find a new QX sensor! vid: 0x%04x, pid: 0x%04x, sensorName: %s\n", slot->vid, slot->pid,
          slot->sensorName);
    connect_handle.deviceCount++;
}

static void close_slot_handle(SensorDevice* slot);

/* Gives back every open slot and every device reference the table holds.
 * Called with the mutex held. */
static void release_slots(void)
{
    for (int i = 0; i < QXFPI_MAX_DEVICES; i++) {
        SensorDevice* slot = &connect_handle.sensorDevices[i];
        if (slot->dev_handle) {
            libusb_release_interface(slot->dev_handle, 0);
            close_slot_handle(slot);
        }
        if (i < connect_handle.deviceCount && slot->device)
            libusb_unref_device(slot->device);
        slot->device = NULL;
    }
}

ConnectHandle QXFPI_Init(void)
{
    /* The mutex is static; re-enumeration starts from an empty table, after
     * releasing what the previous one still held. */
    pthread_mutex_lock(&mut_lock);
    release_slots();
    connect_handle.deviceCount = 0;
    pthread_mutex_unlock(&mut_lock);
    if (!connect_handle.context) {
        int ret = libusb_init(&connect_handle.context);
        if (ret < 0) {
            QXLOG(ERROR, "libusb_init=%d\n", ret);
            connect_handle.context = NULL;
            return connect_handle;
        }
    }
    libusb_device** list = NULL;
    ssize_t count = libusb_get_device_list(connect_handle.context, &list);
    if (count < 0) {
        QXLOG(ERROR, "libusb_get_device_list=%d\n", (int)count);
        return connect_handle;
    }
    for (ssize_t i = 0; i < count; i++) {
        struct libusb_device_descriptor desc;
        int ret = libusb_get_device_descriptor(list[i], &desc);
        if (ret < 0) {
            QXLOG(ERROR, "libusb_get_device_descriptor failed,ret=%d\n", ret);
            continue;
        }
        QXLOG(INFO, "idVendor: 0x%04x, idProduct: 0x%04x\n", desc.idVendor, desc.idProduct);
        if (!device_matches(desc.idVendor, desc.idProduct))
            continue;
        if (connect_handle.deviceCount >= QXFPI_MAX_DEVICES) {
            QXLOG(ERROR, "  devices count is large above 16\n");
            break;
        }
        take_device(list[i], &desc);
    }
    libusb_free_device_list(list, 1);
    return connect_handle;
}

/* Picks the first IN and the first OUT endpoint that are not control endpoints. */
static void find_endpoints(libusb_device* device, unsigned char* in, unsigned char* out)
{
    struct libusb_config_descriptor* config = NULL;
    *in = *out = 0;
    if (libusb_get_config_descriptor(device, 0, &config) != 0 || !config)
        return;
    for (int i = 0; i < config->bNumInterfaces; i++) {
        const struct libusb_interface* itf = &config->interface[i];
        for (int a = 0; a < itf->num_altsetting; a++) {
            const struct libusb_interface_descriptor* alt = &itf->altsetting[a];
            for (int e = 0; e < alt->bNumEndpoints; e++) {
                const struct libusb_endpoint_descriptor* ep = &alt->endpoint[e];
                if ((ep->bmAttributes & 0x03) == LIBUSB_TRANSFER_TYPE_CONTROL)
                    continue;
                if ((ep->bEndpointAddress & 0x80) && !*in)
                    *in = ep->bEndpointAddress;
                else if (!(ep->bEndpointAddress & 0x80) && !*out)
                    *out = ep->bEndpointAddress;
            }
        }
    }
    libusb_free_config_descriptor(config);
}

static void close_slot_handle(SensorDevice* slot)
{
    libusb_close(slot->dev_handle);
    slot->dev_handle = NULL;
    if (slot->context) {
        libusb_exit(slot->context);
        slot->context = NULL;
    }
}

int QXFPI_Open(int index)
{
    if (!slot_is_valid(index))
        return QXID_EFRAME;
    SensorDevice* slot = &connect_handle.sensorDevices[index];
    if (slot->dev_handle)
        return 0; /* already open: keep the one handle and context */
    if (libusb_init(&slot->context) < 0)
        slot->context = NULL;
    slot->dev_handle = libusb_open_device_with_vid_pid(slot->context, (uint16_t)slot->vid, (uint16_t)slot->pid);
    if (!slot->dev_handle) {
        QXLOG(ERROR, "SensorDevices[%d] libusb_open_device_with_vid_pid failed \n", index);
        QXLOG(VERBOSE, "===============SensorDevices[%d] Open fail=============\n", index);
        if (slot->context) {
            libusb_exit(slot->context);
            slot->context = NULL;
        }
        return QXID_EFRAME;
    }
    unsigned char in, out;
    find_endpoints(libusb_get_device(slot->dev_handle), &in, &out);
    if (!in) {
        QXLOG(ERROR, "SensorDevices[%d] endpoint_in==0 is failed\n", index);
        close_slot_handle(slot);
        return QXID_EFRAME;
    }
    if (libusb_kernel_driver_active(slot->dev_handle, 0) == 1) {
        QXLOG(VERBOSE, "kernel driver is attached\n");
        if (libusb_detach_kernel_driver(slot->dev_handle, 0) == 0)
            printf("SensorDevices[%d] Kernel Driver Detached!\n", index);
    }
    int ret = libusb_claim_interface(slot->dev_handle, 0);
    if (ret < 0) {
        QXLOG(ERROR, "SensorDevices[%d] libusb_claim_interface failed! ret=%d\n", index, ret);
        close_slot_handle(slot);
        return ret - 1000;
    }
    slot->inEndpoint = in;
    slot->outEndpoint = out;
    QXLOG(VERBOSE, "===============SensorDevices[%d] Open Success =============\n", index);
    return 0;
}

int QXFPI_Close(int index)
{
    if (!slot_is_valid(index))
        return QXID_EFRAME;
    pthread_mutex_lock(&mut_lock);
    SensorDevice* slot = &connect_handle.sensorDevices[index];
    int ret = QXID_EFRAME;
    if (slot->dev_handle) {
        libusb_release_interface(slot->dev_handle, 0);
        close_slot_handle(slot);
        QXLOG(VERBOSE, "===============Close SensorDevice[%d] OK===============\n", index);
        ret = 0;
    } else {
        printf("SensorDevice[%d].dev_handle == NULL\n", index);
    }
    pthread_mutex_unlock(&mut_lock);
    return ret;
}

void QXFPI_free(void)
{
    pthread_mutex_lock(&mut_lock);
    release_slots();
    if (connect_handle.context)
        libusb_exit(connect_handle.context);
    memset(&connect_handle, 0, sizeof connect_handle);
    pthread_mutex_unlock(&mut_lock);
}

int QXFPI_WirteBulkData(int index, char* buffer, int size)
{
    if (!slot_is_valid(index))
        return QXID_EFRAME;
    pthread_mutex_lock(&mut_lock);
    SensorDevice* slot = &connect_handle.sensorDevices[index];
    if (!slot->dev_handle) {
        QXLOG(ERROR, "SensorDevices[%d]  dev_handle == NULL\n", index);
        pthread_mutex_unlock(&mut_lock);
        return QXID_EFRAME;
    }
    long start = now_ms();
    int transferred = 0;
    int ret = libusb_bulk_transfer(slot->dev_handle, slot->outEndpoint, (unsigned char*)buffer, size, &transferred,
                                   1000);
    int result = transferred;
    if (ret < 0) {
        QXLOG(ERROR, "SensorDevices[%d] usb_bulk_write error, error-code(%d)\n", index, ret);
        result = ret - 1000;
    }
    QXLOG(VERBOSE, "SensorDevices[%d] usb send time Spend:%ldms\n", index, now_ms() - start);
    if (transferred > 0) {
        char tag[64];
        snprintf(tag, sizeof tag, "SensorDevices[%d] usb send", index);
        QXDump(tag, buffer, transferred);
    }
    pthread_mutex_unlock(&mut_lock);
    return result;
}

int QXFPI_ReadBulkDataN(int index, char* buffer, int size, int timeout, int* received)
{
    if (received)
        *received = 0;
    if (!slot_is_valid(index))
        return QXID_EFRAME;
    pthread_mutex_lock(&mut_lock);
    SensorDevice* slot = &connect_handle.sensorDevices[index];
    if (!slot->dev_handle || !buffer) {
        if (!slot->dev_handle)
            QXLOG(ERROR, "SensorDevices[%d] dev_handle == NULL\n", index);
        pthread_mutex_unlock(&mut_lock);
        return QXID_EFRAME;
    }
    long start = now_ms();
    int transferred = 0;
    int ret = libusb_bulk_transfer(slot->dev_handle, slot->inEndpoint, (unsigned char*)buffer, size, &transferred,
                                   (unsigned int)timeout);
    QXLOG(VERBOSE, "SensorDevices[%d] usb read time Spend:%ldms\n", index, now_ms() - start);
    int result = 0;
    if (transferred > 0) {
        char tag[64];
        snprintf(tag, sizeof tag, "SensorDevices[%d] usb read", index);
        QXDump(tag, buffer, transferred);
        result = transferred == size ? 0 : transferred;
        if (received)
            *received = transferred;
    } else {
        QXLOG(ERROR, "SensorDevices[%d] usb_bulk_read error, error-code(%d)\n", index, ret);
    }
    pthread_mutex_unlock(&mut_lock);
    return result;
}

int QXFPI_ReadBulkData(int index, char* buffer, int size, int timeout)
{
    return QXFPI_ReadBulkDataN(index, buffer, size, timeout, NULL);
}
