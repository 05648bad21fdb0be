#include "port_transport.h"

#include "dev.h"
#include "qxident.h"
#include "uart.h"

static int usb_exchange(int slot, char* request, int len, char* raw, int reply_size, int timeout_ms,
                        int* received, int* transfer_ret)
{
    int ret = dev_exchange(slot, request, len, raw, reply_size, timeout_ms, received);
    *transfer_ret = ret;
    return ret;
}

static void usb_close(int slot) { dev_close(slot); }

/* The serial layer returns the byte count read; a descriptor below zero is a
 * failed open the caller went on with. */
static int serial_exchange(int fd, char* request, int len, char* raw, int reply_size, int timeout_ms,
                           int* received, int* transfer_ret)
{
    if (fd < 0)
        return QXID_ESERIAL;
    int ret = run_command(fd, request, len, raw, reply_size, timeout_ms);
    *transfer_ret = ret;
    if (ret < 0)
        return ret;
    *received = ret;
    return 0;
}

static void serial_device_close(int fd) { serial_close(fd); }

const qx_port_transport qx_usb_transport = {QX_PORT_USB, usb_exchange, usb_close};
const qx_port_transport qx_serial_transport = {QX_PORT_SERIAL, serial_exchange, serial_device_close};
