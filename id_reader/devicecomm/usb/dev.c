/* Thin index layer over the USB table, as the public API uses it. */
#include "dev.h"
#include "qxident.h"

#include "logPrintf.h"
#include "qxfpi.h"

static int device_count;

int dev_init(void)
{
    ConnectHandle table = QXFPI_Init();
    device_count = table.deviceCount;
    return device_count;
}

static int table_is_usable(int index)
{
    return device_count > 0 && device_count <= QXFPI_MAX_DEVICES && index >= 0 && index < QXFPI_MAX_DEVICES;
}

int dev_open(int index)
{
    if (!table_is_usable(index))
        return QXID_EFRAME;
    if (index >= device_count)
        return QXID_EUSBOPEN; /* an empty slot names no reader */
    return QXFPI_Open(index) == 0 ? 0 : QXID_EUSBOPEN;
}

int dev_exchange(int index, char* command, int size, char* cmdbuf, int retsize, int timeout, int* received)
{
    if (received)
        *received = 0;
    int ret = QXFPI_WirteBulkData(index, command, size);
    if (ret < 0) {
        QXLOG(ERROR, "write failed ret=%d\n", ret);
        return ret;
    }
    if (ret == 0)
        return 0;
    ret = QXFPI_ReadBulkDataN(index, cmdbuf, retsize, timeout, received);
    if (ret < 0) {
        QXLOG(ERROR, " read failed, ret=%d \n", ret);
        return ret;
    }
    return 0;
}

int dev_sendcommand(int index, char* command, int size, char* cmdbuf, int retsize, int timeout)
{
    return dev_exchange(index, command, size, cmdbuf, retsize, timeout, NULL);
}

int dev_close(int index)
{
    if (!table_is_usable(index))
        return QXID_EFRAME;
    return QXFPI_Close(index);
}

void dev_free(void)
{
    QXFPI_free();
    device_count = 0;
}
