/* Mifare module framing: request assembly, the reply reader and the
 * bounds-checked view of a reply's data bytes. */
#include <string.h>
#include <unistd.h>

#include "bytereader.h"
#include "logPrintf.h"
#include "mifare.h"
#include "uart.h"

/* One packet buffer for requests and replies, shared by every Mifare call. */
static unsigned char g_packet[MF_PACKET_SIZE];

/* A reader positioned at data offset at; fails when at lies past the data. */
static int reader_at(const mf_reply* r, int at, qx_reader* rd)
{
    qx_reader_init(rd, r->data, r->len > 0 ? (size_t)r->len : 0);
    return at < 0 ? -1 : qx_skip(rd, (size_t)at);
}

int mf_reply_copy_max(const mf_reply* r, int at, int count, unsigned char* dst, int capacity)
{
    qx_reader rd;
    if (count < 0 || capacity < 0 || reader_at(r, at, &rd) != 0 ||
        qx_read_copy(&rd, (size_t)count, dst, (size_t)capacity) != 0)
        return MF_FAIL;
    return 0;
}

int mf_reply_copy(const mf_reply* r, int at, int count, unsigned char* dst)
{
    return mf_reply_copy_max(r, at, count, dst, count);
}

int mf_reply_le32(const mf_reply* r, int at, unsigned int* out)
{
    qx_reader rd;
    uint32_t v;
    if (reader_at(r, at, &rd) != 0 || qx_read_le32(&rd, &v) != 0)
        return MF_FAIL;
    *out = v;
    return 0;
}

int mf_reply_result(const mf_reply* r)
{
    unsigned char code;
    if (r->status != 1)
        return r->status;
    if (mf_reply_copy(r, 0, 1, &code) != 0)
        return MF_FAIL;
    return code;
}

static unsigned char xor_of(const unsigned char* p, int n)
{
    unsigned char x = 0;
    for (int i = 0; i < n; i++)
        x ^= p[i];
    return x;
}

/* Header byte i (0..2) is acceptable; logs the reason otherwise. */
static int header_ok(int i, int b)
{
    if (i == 0 && b != MF_STX) {
        QXLOG(ERROR, "The STX is %2.2x, expect 0xAA\n", b);
        return 0;
    }
    if (i == 1 && b != 0x00) {
        QXLOG(ERROR, "The STATIOIN is %2.2x, expected 00\n", b);
        return 0;
    }
    if (i == 2 && b > MF_MAX_N) {
        QXLOG(ERROR, "Too many data coming(%d)\n", b);
        return 0;
    }
    if (i == 2 && b == 0) {
        QXLOG(ERROR, "Data Invalid, no status byte (N = 0)\n");
        return 0;
    }
    return 1;
}

int mf_read_reply(mf_byte_source* src, unsigned char* packet, mf_reply* reply)
{
    int rdindex = 0, expected = 3, allowance = MF_FIRST_BYTE_POLLS, bad_header = 0;

    while (rdindex < expected) {
        int b = src->next(src, allowance);
        if (b < 0)
            break;
        allowance = MF_NEXT_BYTE_POLLS;
        packet[rdindex] = (unsigned char)b;
        if (rdindex < 3 && !header_ok(rdindex, b)) {
            rdindex++;
            bad_header = 1;
            break;
        }
        if (rdindex == 2)
            expected = 3 + b + 2;
        rdindex++;
    }
    QXDump("serial read", (const char*)packet, rdindex);
    if (bad_header)
        return MF_FAIL;
    if (rdindex == 0) {
        QXLOG(ERROR, "Wait Reader response Time out!\n");
        return MF_FAIL;
    }
    if (rdindex < expected) {
        QXLOG(ERROR, "Data Invalid! rdindex = %d, left = %d  \n", rdindex, expected - rdindex);
        return MF_FAIL;
    }
    if (packet[rdindex - 1] != MF_ETX) {
        QXLOG(ERROR, "Data Invalid, rdindex = %d \n", rdindex);
        return MF_FAIL;
    }
    if (xor_of(packet + 1, rdindex - 3) != packet[rdindex - 2]) {
        QXLOG(ERROR, "CheckSum error\n");
        return MF_FAIL;
    }
    QXLOG(VERBOSE, "All data receive OK!\n");
    reply->status = packet[3];
    reply->data = packet + 4;
    reply->len = packet[2] - 1;
    return reply->status;
}

/* Bytes from a serial descriptor, polled 2 us apart. */
static int serial_next(mf_byte_source* self, int max_empty_polls)
{
    int fd = *(const int*)self->ctx;
    for (int empty = 0;; empty++) {
        if (serial_poll(fd) > 0) {
            int b = serial_read(fd);
            if (b >= 0)
                return b;
        }
        if (empty >= max_empty_polls)
            return -1;
        usleep(2);
    }
}

int SendCommand(int fd, unsigned char cmd, const unsigned char* data, int datalen)
{
    if (datalen < 0 || datalen + 6 > MF_PACKET_SIZE)
        return MF_FAIL;
    const int total = datalen + 6; /* STX, station, N, cmd, data, BCC, ETX */
    g_packet[0] = MF_STX;
    g_packet[1] = 0x00;
    g_packet[2] = (unsigned char)(datalen + 1);
    memset(g_packet + 3, 0, sizeof g_packet - 3);
    g_packet[3] = cmd;
    if (datalen > 0)
        memcpy(g_packet + 4, data, (size_t)datalen);
    g_packet[total - 2] = xor_of(g_packet + 1, total - 3);
    g_packet[total - 1] = MF_ETX;
    if (UART_Send(fd, (char*)g_packet, total) != total)
        return MF_FAIL;
    serial_flush_output(fd);
    return 0;
}

int GetReply(int fd, mf_reply* reply)
{
    mf_byte_source src = {serial_next, &fd};
    return mf_read_reply(&src, g_packet, reply);
}
