/* The two ways a port handle reaches its reader. Which one a handle uses is
 * settled when the port is opened (the USB flag of interface.c's port table);
 * the public calls then go through that transport's functions rather than
 * asking again at every step. */
#ifndef QXID_PORT_TRANSPORT_H
#define QXID_PORT_TRANSPORT_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum { QX_PORT_USB = 0, QX_PORT_SERIAL = 1 } qx_port_kind;

typedef struct qx_port_transport {
    /* Also the index into a command's per-transport timeouts. */
    qx_port_kind kind;
    /* Sends len request bytes to device (a USB slot or a serial descriptor)
     * and collects at most reply_size reply bytes into raw, waiting up to
     * timeout_ms. Returns 0 with the byte count in *received, or the result
     * the public call passes up unchanged: the USB layer's own (a libusb
     * error minus 1000, or QXID_EFRAME), the serial layer's QXID_EFRAME, or
     * QXID_ESERIAL for a negative descriptor. *transfer_ret gets the lower
     * layer's raw result, for the log. */
    int (*exchange)(int device, char* request, int len, char* raw, int reply_size, int timeout_ms,
                    int* received, int* transfer_ret);
    /* Releases the device. The public close reports success whatever happens
     * here, so nothing is returned. */
    void (*close)(int device);
} qx_port_transport;

extern const qx_port_transport qx_usb_transport;
extern const qx_port_transport qx_serial_transport;

#ifdef __cplusplus
}
#endif

#endif
