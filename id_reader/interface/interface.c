/* Public API: port handles and the SAM commands. */
#include "qxident.h"

#include "bytereader.h"
#include "command.h"
#include "dev.h"
#include "logPrintf.h"
#include "port_transport.h"
#include "qxid_error.h"
#include "uart.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define USB_PORTS 16

static struct {
    int Index[USB_PORTS];
    int Is_usbdev[USB_PORTS];
    int usbCount; /* readers found by the last QXID_Init: only ports below it have a slot */
} Handle;

typedef struct {
    unsigned char cmd;
    unsigned char para;
    int reply_size;
    int timeout_ms[2]; /* by qx_port_kind: USB, serial */
} sam_command;

static const sam_command CMD_RESET = {0x10, 0xFF, 11, {500, 500}};
static const sam_command CMD_STATUS = {0x11, 0xFF, 11, {500, 2000}};
static const sam_command CMD_SAMID = {0x12, 0xFF, 27, {500, 500}};
static const sam_command CMD_FIND = {0x20, 0x01, 15, {500, 100}};
static const sam_command CMD_SELECT = {0x20, 0x02, 19, {500, 500}};
static const sam_command CMD_BASE = {0x30, 0x01, 3011, {1000, 1000}};
static const sam_command CMD_APPMSG = {0x30, 0x03, 3011, {500, 1000}};
static const sam_command CMD_MSGSN = {0x30, 0x05, 39, {500, 1000}};
static const sam_command CMD_BASE_FP = {0x30, 0x10, 3011, {1000, 2000}};

/* A handle with its transport and the device that transport addresses. */
typedef struct {
    const qx_port_transport* transport;
    int device; /* USB slot or serial descriptor */
    int usb;
} port;

/* The choice made at open: a handle 0..15 flagged then is USB, every other
 * handle a serial descriptor (so a descriptor numbered like an open USB port
 * cannot be used through the library). */
static port port_of(int iPort)
{
    if (iPort >= 0 && iPort < USB_PORTS && Handle.Is_usbdev[iPort])
        return (port){&qx_usb_transport, Handle.Index[iPort], 1};
    return (port){&qx_serial_transport, iPort, 0};
}

static void forget_port(int iPort)
{
    if (iPort >= 0 && iPort < USB_PORTS)
        Handle.Is_usbdev[iPort] = 0;
}

/* Result of one exchange: the SAM status (> 0) or a negative code, the
 * payload and its length. */
typedef struct {
    char payload[QX_PAYLOAD_BUF];
    int payload_len;
    int transfer_ret;
} sam_reply;

/* Sends one command and decodes the reply. Transport failures come back as
 * the transport's negative result, frame failures as -1. */
static int sam_exchange(port p, const sam_command* c, sam_reply* reply)
{
    char request[QX_REQUEST_BUF];
    char raw[QX_REPLY_BUF];
    memset(raw, 0, sizeof raw);
    memset(reply->payload, 0, sizeof reply->payload);
    reply->payload_len = 0;
    int len = cmd_pack(c->cmd, c->para, NULL, 0, request);
    int received = 0;
    const qx_port_transport* t = p.transport;
    int ret = t->exchange(p.device, request, len, raw, c->reply_size, c->timeout_ms[t->kind], &received,
                          &reply->transfer_ret);
    if (ret != 0)
        return ret;
    int status = cmd_unpack_n(raw, received, reply->payload, QX_PAYLOAD_BUF, &reply->payload_len);
    if (status < 0) {
        QXLOG(VERBOSE, "reply to 0x%02x/0x%02x not decoded: %s\n", c->cmd, c->para, qxid_error_name(status));
        return QXID_EFRAME;
    }
    return status;
}

/* Copies exactly n payload bytes to out (if not null); a shorter payload fails. */
static int copy_fixed_payload(const sam_reply* reply, size_t n, void* out)
{
    qx_reader r;
    qx_reader_init(&r, reply->payload, (size_t)reply->payload_len);
    const unsigned char* p;
    if (qx_read_span(&r, n, &p) != 0) {
        QXLOG(ERROR, "reply payload %d bytes, expected %zu\n", reply->payload_len, n);
        return QXID_EFRAME;
    }
    if (out)
        memcpy(out, p, n);
    return QXID_OK;
}

/* ---------------------------------------------------------------- ports */

/* Re-enumeration rebuilds the slot table: a port left open would lose its
 * handle there and keep the reader's interface claimed. */
static void close_usb_ports(void)
{
    for (int i = 0; i < USB_PORTS; i++) {
        if (Handle.Is_usbdev[i]) {
            qx_usb_transport.close(Handle.Index[i]);
            forget_port(i);
        }
    }
}

int QXID_Init(void)
{
    QXLOG(VERBOSE, "===>QXID_Init\n");
    close_usb_ports();
    Handle.usbCount = 0;
    int count = dev_init();
    if (count <= 0) {
        QXLOG(ERROR, "device init failed\r\n");
        return QXID_ENOUSB;
    }
    for (int i = 0; i < count && i < USB_PORTS; i++)
        Handle.Index[i] = i;
    Handle.usbCount = count < USB_PORTS ? count : USB_PORTS;
    return count;
}

/* Device path of a serial port number; 0 when the number names none. */
static int serial_path_for(int iPort, char* path, size_t cap)
{
    if (iPort >= 17 && iPort <= 111)
        snprintf(path, cap, "/dev/ttyS%d", iPort);
    else if (iPort >= 112 && iPort <= 119)
        snprintf(path, cap, "/dev/ttyAMA%d", iPort - 112);
    else if (iPort >= 128 && iPort <= 140)
        snprintf(path, cap, "/dev/ttyUSB%d", iPort - 128);
    else
        return 0;
    return 1;
}

int QXID_OpenPort(int iPort)
{
    QXLOG(VERBOSE, "===>QXID_OpenPort\n");
    if (iPort >= 0 && iPort < USB_PORTS) {
        if (Handle.Is_usbdev[iPort])
            return iPort; /* already open: the same handle, not a second one */
        /* A number without a reader has no slot of its own; opening it would
         * reach another port's reader. */
        if (iPort >= Handle.usbCount || dev_open(Handle.Index[iPort]) != 0) {
            QXLOG(ERROR, "SensorDevices[%d] dev_open failed\r\n", iPort);
            return QXID_EUSBOPEN;
        }
        Handle.Is_usbdev[iPort] = 1;
        return iPort;
    }
    char path[32];
    if (!serial_path_for(iPort, path, sizeof path))
        return QXID_EFRAME;
    QXLOG(VERBOSE, "open dev : %s\n", path);
    int fd = serial_open(path, g_uart_baud);
    if (fd < 0) {
        QXLOG(ERROR, "device serial_open failed\r\n");
        return QXID_ESERIAL;
    }
    return fd;
}

int QXID_OpenPortEx(const char* dev)
{
    QXLOG(VERBOSE, "===>QXID_OpenPortEx\n");
    QXLOG(VERBOSE, "dev=%s,g_uart_baud=%d\n", dev ? dev : "(null)", g_uart_baud);
    int fd = dev ? serial_open(dev, g_uart_baud) : -1;
    if (fd < 0) {
        QXLOG(ERROR, "device open failed\r\n");
        return QXID_ESERIAL;
    }
    return fd;
}

int QXID_ClosePort(int iPort)
{
    QXLOG(VERBOSE, "===>QXID_ClosePort\n");
    port p = port_of(iPort);
    p.transport->close(p.device);
    forget_port(iPort);
    return QXID_OK;
}

void QXID_Free(void)
{
    QXLOG(VERBOSE, "===>QXID_Free\n");
    dev_free();
    memset(&Handle, 0, sizeof Handle);
}

int QXID_GetCOMBaud(int iPort, unsigned int* puiBaud) { return QXID_EUNSUPPORTED; }

int QXID_SetCOMBaud(int iPort, unsigned int uiCurrBaud, unsigned int uiSetBaud) { return QXID_EUNSUPPORTED; }

int QXID_SetMaxRFByte(int iPort, unsigned char ucByte, int bIfOpen) { return QXID_EUNSUPPORTED; }

/* ----------------------------------------------------------- SAM commands */

int QXID_GetSAMStatus(int iPort, int bIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_GetSAMStatus\n");
    port p = port_of(iPort);
    if (!p.usb) {
        QXLOG(VERBOSE, "uart_fd=%d\n", iPort);
        if (iPort < 0)
            return QXID_ESERIAL;
    }
    sam_reply reply;
    return sam_exchange(p, &CMD_STATUS, &reply) < 0 ? QXID_EFRAME : QXID_OK;
}

int QXID_ResetSAM(int iPort, int bIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_ResetSAM\n");
    sam_reply reply;
    int ret = sam_exchange(port_of(iPort), &CMD_RESET, &reply);
    return ret < 0 ? ret : QXID_OK;
}

int QXID_GetSAMID(int iPort, unsigned char* pucSAMID, int iIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_GetSAMID\n");
    sam_reply reply;
    int ret = sam_exchange(port_of(iPort), &CMD_SAMID, &reply);
    if (ret < 0)
        return ret;
    return copy_fixed_payload(&reply, QXID_SAMID_LEN, pucSAMID);
}

int QXID_GetSAMIDToStr(int iPort, char* pcSAMID, int iIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_GetSAMIDToStr\n");
    unsigned char id[100];
    memset(id, 0, sizeof id);
    int ret = QXID_GetSAMID(iPort, id, iIfOpen);
    if (pcSAMID) {
        qx_reader r;
        uint32_t part1 = 0, part2 = 0;
        qx_reader_init(&r, id + 4, 8);
        qx_read_le32(&r, &part1);
        qx_read_le32(&r, &part2);
        snprintf(pcSAMID, QXID_SAMID_TEXT_MAX, "%d%d%d%d%d000%d", id[1], id[0], id[3], id[2], (int32_t)part1,
                 (int32_t)part2);
    }
    return ret;
}

int QXID_StartFindIDCard(int iPort, unsigned char* pucIIN, int bIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_StartFindIDCard\n");
    port p = port_of(iPort);
    if (!p.usb && iPort < 0) {
        QXLOG(ERROR, "uart_fd < 0\n");
        return QXID_ESERIAL;
    }
    sam_reply reply;
    int ret = sam_exchange(p, &CMD_FIND, &reply);
    if (ret < 0)
        return ret;
    if (ret != QX_STATUS_FOUND)
        return QXID_EFRAME;
    return copy_fixed_payload(&reply, QXID_IIN_LEN, pucIIN);
}

int QXID_SelectIDCard(int iPort, unsigned char* pucSN, int bIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_SelectIDCard\n");
    sam_reply reply;
    int ret = sam_exchange(port_of(iPort), &CMD_SELECT, &reply);
    if (ret < 0)
        return ret;
    return copy_fixed_payload(&reply, QXID_SN_LEN, pucSN);
}

/* One block of a card message: its announced length and where it goes. */
typedef struct {
    unsigned length;
    unsigned capacity;
    unsigned char* out;
    unsigned int* length_out;
} msg_block;

/* Reads the big-endian block lengths at the head of the payload and stores
 * them; returns the sum of the lengths plus the head size. */
static unsigned read_block_lengths(qx_reader* r, msg_block* blocks, int count)
{
    unsigned total = 2u * (unsigned)count;
    for (int i = 0; i < count; i++) {
        unsigned len = 0;
        qx_read_be16(r, &len);
        blocks[i].length = len;
        if (blocks[i].length_out)
            *blocks[i].length_out = len;
        total += len;
    }
    return total;
}

/* Checks every block against its caller's capacity, then copies them. */
static int copy_blocks(qx_reader* r, const msg_block* blocks, int count)
{
    for (int i = 0; i < count; i++) {
        if (blocks[i].length > blocks[i].capacity) {
            QXLOG(ERROR, "card block %d of %u bytes exceeds %u\n", i, blocks[i].length, blocks[i].capacity);
            return QXID_ELENGTH;
        }
    }
    for (int i = 0; i < count; i++) {
        if (qx_read_copy(r, blocks[i].length, blocks[i].out, blocks[i].capacity) != 0)
            return QXID_ELENGTH;
    }
    return QXID_OK;
}

int QXID_ReadBaseMsg(int iPort, unsigned char* pucCHMsg, unsigned int* puiCHMsgLen, unsigned char* pucPHMsg,
                     unsigned int* puiPHMsgLen, int bIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_ReadBaseMsg\n");
    port p = port_of(iPort);
    int usb = p.usb;
    sam_reply reply;
    int ret = sam_exchange(p, &CMD_BASE, &reply);
    if (ret < 0)
        return ret;
    msg_block blocks[2] = {{0, QXID_TEXT_MAX, pucCHMsg, puiCHMsgLen}, {0, QXID_PHOTO_MAX, pucPHMsg, puiPHMsgLen}};
    qx_reader r;
    qx_reader_init(&r, reply.payload, (size_t)reply.payload_len);
    unsigned total = read_block_lengths(&r, blocks, 2);
    if (usb) {
        QXLOG(VERBOSE, "select unpack  ret=%d datalen=%d\r\n", ret, reply.payload_len);
        QXLOG(VERBOSE, "select PHMsgLen=%d  CHMsgLen=%d datalen=%d\r\n", blocks[1].length, blocks[0].length,
              reply.payload_len);
    }
    if (total != (unsigned)reply.payload_len) {
        if (usb) {
            QXLOG(ERROR, "msg len error\n");
        } else {
            printf("msg len error\r");
            fflush(stdout);
        }
        return QXID_ELENGTH;
    }
    return copy_blocks(&r, blocks, 2);
}

int QXID_ReadBaseFPMsg(int iPort, unsigned char* pucCHMsg, unsigned int* puiCHMsgLen, unsigned char* pucPHMsg,
                       unsigned int* puiPHMsgLen, unsigned char* pucFPMsg, unsigned int* puiFPMsgLen, int bIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_ReadBaseFPMsg\n");
    port p = port_of(iPort);
    int usb = p.usb;
    if (!usb && iPort < 0) {
        QXLOG(ERROR, "uart_fd < 0!");
        return QXID_ESERIAL;
    }
    sam_reply reply;
    int ret = sam_exchange(p, &CMD_BASE_FP, &reply);
#if QXID_ALT_BUILD
    if (usb)
        QXLOG(VERBOSE, "fp dev_sendcommand ret=%d \r\n", reply.transfer_ret);
#endif
    if (ret < 0)
        return ret;
#if QXID_ALT_BUILD
    if (usb)
        printf("select unpack  ret=%d datalen=%d\r\n", ret, reply.payload_len);
#endif
    msg_block blocks[3] = {{0, QXID_TEXT_MAX, pucCHMsg, puiCHMsgLen},
                           {0, QXID_PHOTO_MAX, pucPHMsg, puiPHMsgLen},
                           {0, QXID_FP_MAX, pucFPMsg, puiFPMsgLen}};
    qx_reader r;
    qx_reader_init(&r, reply.payload, (size_t)reply.payload_len);
    unsigned total = read_block_lengths(&r, blocks, 3);
    if (usb)
        printf("select PHMsgLen=%d  CHMsgLen=%d FPMsgLen=%d datalen=%d\r\n", blocks[1].length, blocks[0].length,
               blocks[2].length, reply.payload_len);
    fflush(stdout);
    if (total != (unsigned)reply.payload_len) {
        QXLOG(ERROR, "msg len error\r\n");
        return QXID_ELENGTH;
    }
    return copy_blocks(&r, blocks, 3);
}

int QXID_ReadNewAppMsg(int iPort, unsigned char* pucAppMsg, unsigned int* puiAppMsgLen, int iIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_ReadNewAppMsg\n");
    port p = port_of(iPort);
    if (!p.usb && iPort < 0) {
        QXLOG(ERROR, "uart_fd < 0\n");
        return QXID_ESERIAL;
    }
    sam_reply reply;
    int ret = sam_exchange(p, &CMD_APPMSG, &reply);
    if (ret < 0)
        return ret;
    qx_reader r;
    qx_reader_init(&r, reply.payload, (size_t)reply.payload_len);
    if (qx_read_copy(&r, (size_t)reply.payload_len, pucAppMsg, QXID_APPMSG_MAX) != 0)
        return QXID_EFRAME;
    if (puiAppMsgLen)
        *puiAppMsgLen = (unsigned int)reply.payload_len;
    return QXID_OK;
}

int QXID_ReadCardMsgSN(int iPort, unsigned char* pucMsgSN, int iIfOpen)
{
    QXLOG(VERBOSE, "===>QXID_ReadCardMsgSN\n");
    sam_reply reply;
    int ret = sam_exchange(port_of(iPort), &CMD_MSGSN, &reply);
    if (ret < 0)
        return ret;
    return copy_fixed_payload(&reply, QXID_MSGSN_LEN, pucMsgSN);
}
