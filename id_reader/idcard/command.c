/* SAM frame layout: AA AA AA 96 69, length (BE16), body, XOR checksum. */
#include "command.h"
#include "qxident.h"

#include "bytereader.h"
#include "logPrintf.h"

#include <string.h>

static const unsigned char preamble[5] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};

void cmdtobuf(command_in cmd, char* cmdbuf, int datasize, int flag)
{
    unsigned char* out = (unsigned char*)cmdbuf;
    memcpy(out, cmd.Preamb1e, 5);
    out[5] = cmd.len1;
    out[6] = cmd.len2;
    out[7] = cmd.cmd;
    out[8] = cmd.para;
    if (flag && datasize > 0)
        memcpy(out + 9, cmd.data, (size_t)datasize);
    out[9 + datasize] = cmd.check_sum;
}

int cmd_pack(int command, int para, char* data, int datasize, char* cmdbuf)
{
    if (!data || datasize < 0)
        datasize = 0;
    command_in cmd;
    memcpy(cmd.Preamb1e, preamble, 5);
    int len = datasize + 3;
    cmd.len1 = (unsigned char)(len >> 8);
    cmd.len2 = (unsigned char)(len & 0xFF);
    cmd.cmd = (unsigned char)command;
    cmd.para = (unsigned char)para;
    cmd.data = data;
    unsigned char sum = cmd.cmd ^ cmd.para ^ cmd.len1 ^ cmd.len2;
    for (int i = 0; i < datasize; i++)
        sum ^= (unsigned char)data[i];
    cmd.check_sum = sum;
    cmdtobuf(cmd, cmdbuf, datasize, data != NULL);
    return datasize + 10;
}

static unsigned char xor_range(const unsigned char* p, size_t from, size_t to_inclusive)
{
    unsigned char sum = 0;
    for (size_t i = from; i <= to_inclusive; i++)
        sum ^= p[i];
    return sum;
}

int cmd_unpack_n(const char* cmdbuffer, int received, char* data, int datacap, int* pdatalen)
{
    if (!cmdbuffer || received < 0)
        return QXID_EFRAME;
    const unsigned char* reply = (const unsigned char*)cmdbuffer;
    qx_reader r;
    qx_reader_init(&r, reply, (size_t)received);
    const unsigned char* head;
    if (qx_read_span(&r, 5, &head) != 0 || memcmp(head, preamble, 5) != 0) {
        QXLOG(ERROR, "message is not start with hex:AAAAAA6996\n");
        return QXID_EFRAME;
    }
    unsigned len, status;
    if (qx_read_be16(&r, &len) != 0 || qx_read_be24(&r, &status) != 0) {
        QXLOG(ERROR, "reply too short: %d bytes\n", received);
        return QXID_EFRAME;
    }
    if (status != QX_STATUS_OK && status != QX_STATUS_FOUND) {
        QXLOG(VERBOSE, "status:0x%x\n", status);
        return QXID_EFRAME;
    }
    QXLOG(VERBOSE, "status:0x%x\n", status);
    /* The frame is len + 7 bytes; it must lie within what was received. */
    qx_reader frame;
    qx_reader_init(&frame, reply, (size_t)received);
    if (len < 4 || qx_skip(&frame, 7) != 0 || qx_skip(&frame, len - 1) != 0 || qx_reader_left(&frame) < 1) {
        QXLOG(ERROR, "reply length %u exceeds the %d bytes received\n", len, received);
        return QXID_EFRAME;
    }
    if (len > 4 && data) {
        int payload = (int)len - 4;
        if (payload > datacap) {
            QXLOG(ERROR, "reply payload %d exceeds the %d-byte buffer\n", payload, datacap);
            return QXID_EFRAME;
        }
        memcpy(data, reply + 10, (size_t)payload);
        if (pdatalen)
            *pdatalen = payload;
    }
    unsigned char computed = xor_range(reply, 5, len + 5);
    unsigned char sent = reply[len + 6];
    if (computed != sent) {
        QXLOG(ERROR, "check_sum!=cmd.check_sum  %x!=%x\n", computed, sent);
        return QXID_EFRAME;
    }
    return (int)status;
}

int cmd_unpack(char* cmdbuffer, char command, char* data, int* pdatalen)
{
    (void)command;
    return cmd_unpack_n(cmdbuffer, QX_REPLY_BUF, data, QX_PAYLOAD_BUF, pdatalen);
}
