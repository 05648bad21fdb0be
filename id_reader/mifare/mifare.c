/* Mifare card operations: one request, one reply each. */
#include <string.h>
#include <termios.h>

#include "bytereader.h"
#include "logPrintf.h"
#include "mifare.h"

enum {
    CMD_REQA = 0x03,
    CMD_ANTICOLL = 0x04,
    CMD_SELECT = 0x05,
    CMD_HALT = 0x06,
    CMD_READ = 0x20,
    CMD_WRITE = 0x21,
    CMD_GET_SNR = 0x25,
    CMD_GET_SNR_SFZ = 0x26,
    CMD_SET_BAUD = 0x81,
    CMD_SET_SERNUM = 0x82,
    CMD_GET_SERNUM = 0x83,
};

#define KEY_LEN 6
#define BLOCK_REQ_HEAD (3 + KEY_LEN) /* auth|mode, count, addr, key */
#define MAX_BLOCKS_PER_CALL 4

/* Sends cmd with data and reads the reply into *reply; returns the result the
 * operation reports (see mf_reply_result) or MF_FAIL. */
static int exchange(int fd, unsigned char cmd, const unsigned char* data, int datalen, mf_reply* reply)
{
    if (SendCommand(fd, cmd, data, datalen) != 0)
        return MF_FAIL;
    if (GetReply(fd, reply) < 0)
        return MF_FAIL;
    return mf_reply_result(reply);
}

int mf_clip_count(int addr, int count)
{
    const int to_sector_end = (addr / 4 + 1) * 4 - addr;
    return count > to_sector_end ? to_sector_end : count;
}

int mf_touches_trailer(int addr, int count)
{
    return (addr & 3) == 3 || (count > 0 && ((addr + count) & 3) == 0);
}

unsigned char mf_baud_code(unsigned int baud)
{
    switch (baud) {
    case B19200: return 1;
    case B38400: return 2;
    case B57600: return 3;
    case B115200: return 4;
    default: return 0;
    }
}

int mf_take_uid(const mf_reply* r, unsigned int* uid)
{
    unsigned int value;
    if (mf_reply_le32(r, 0, &value) != 0)
        return MF_FAIL;
    if (uid)
        *uid = value;
    return 0;
}

int mf_take_blocks(const mf_reply* r, int count, unsigned char* buf, unsigned int* uid)
{
    qx_reader rd;
    uint32_t id;
    const unsigned char* blocks;
    if (count < 0)
        return MF_FAIL;
    /* Check the whole reply before touching any output. */
    qx_reader_init(&rd, r->data, r->len > 0 ? (size_t)r->len : 0);
    if (qx_read_le32(&rd, &id) != 0 || qx_read_span(&rd, (size_t)count * MF_BLOCK_SIZE, &blocks) != 0)
        return MF_FAIL;
    if (uid)
        *uid = id;
    memcpy(buf, blocks, (size_t)count * MF_BLOCK_SIZE);
    return 0;
}

int mf_take_serial(const mf_reply* r, unsigned char* serial, int capacity)
{
    const int n = r->len - 1; /* N - 2 bytes from data byte 1 */
    if (mf_reply_copy_max(r, 1, n, serial, capacity) != 0) {
        QXLOG(ERROR, "Serial number of %d bytes refused\n", n);
        return MF_FAIL;
    }
    return 0;
}

int Mifare_REQA(int fd, unsigned char mode)
{
    mf_reply reply;
    return exchange(fd, CMD_REQA, &mode, 1, &reply);
}

int Mifare_AnticollA(int fd, unsigned int* card_number)
{
    mf_reply reply;
    if (!card_number)
        return MF_ENULL;
    int ret = exchange(fd, CMD_ANTICOLL, NULL, 0, &reply);
    if (ret != 0)
        return ret;
    return mf_reply_le32(&reply, 1, card_number);
}

int Mifare_SelectA(int fd, unsigned int uid)
{
    mf_reply reply;
    const unsigned char le[4] = {(unsigned char)uid, (unsigned char)(uid >> 8),
                                 (unsigned char)(uid >> 16), (unsigned char)(uid >> 24)};
    return exchange(fd, CMD_SELECT, le, 4, &reply);
}

int Mifare_HaltA(int fd)
{
    mf_reply reply;
    return exchange(fd, CMD_HALT, NULL, 0, &reply);
}

/* Validates addr and clips the block count to the end of its sector;
 * returns the count or MF_FAIL. */
static int block_range(unsigned char addr, unsigned char blocks)
{
    if (addr >= MF_BLOCK_COUNT) {
        QXLOG(ERROR, "invalid block addr (%d)\n", addr);
        return MF_FAIL;
    }
    return mf_clip_count(addr, blocks);
}

static int block_request(unsigned char* req, unsigned char flags, int count, unsigned char addr,
                         const unsigned char* key)
{
    req[0] = flags;
    req[1] = (unsigned char)count;
    req[2] = addr;
    memcpy(req + 3, key, KEY_LEN);
    return BLOCK_REQ_HEAD;
}

int Mifare_Read(int fd, unsigned char addr, unsigned char blocks, const unsigned char* key,
                unsigned char auth, unsigned char mode, unsigned char* buf, unsigned int* uid)
{
    unsigned char req[BLOCK_REQ_HEAD];
    mf_reply reply;
    const int count = block_range(addr, blocks);
    if (count < 0)
        return MF_FAIL;
    if (!key || !buf)
        return MF_ENULL;
    block_request(req, auth | mode, count, addr, key);
    int ret = exchange(fd, CMD_READ, req, sizeof req, &reply);
    if (ret != 0)
        return ret;
    if (mf_take_blocks(&reply, count, buf, uid) != 0) {
        QXLOG(ERROR, "Data Invalid, %d data bytes for %d blocks\n", reply.len, count);
        return MF_FAIL;
    }
    QXLOG(VERBOSE, "Read %d bytes from Card ok\n", count * MF_BLOCK_SIZE);
    return 0;
}

int Mifare_Write(int fd, unsigned char addr, unsigned char blocks, const unsigned char* key,
                 unsigned char auth, unsigned char mode, const unsigned char* buf, unsigned int* uid,
                 int protect)
{
    unsigned char req[BLOCK_REQ_HEAD + MAX_BLOCKS_PER_CALL * MF_BLOCK_SIZE];
    mf_reply reply;
    const int count = block_range(addr, blocks);
    if (count < 0)
        return MF_FAIL;
    if ((protect & 1) && mf_touches_trailer(addr, count)) {
        QXLOG(ERROR, "The Tralier block hit, no permission to write!\n");
        return MF_FAIL;
    }
    if (!key || !buf)
        return MF_ENULL;
    int len = block_request(req, auth | mode, count, addr, key);
    memcpy(req + len, buf, (size_t)count * MF_BLOCK_SIZE);
    len += count * MF_BLOCK_SIZE;
    int ret = exchange(fd, CMD_WRITE, req, len, &reply);
    if (ret != 0) {
        QXLOG(ERROR, "Write to Card Failed\n");
        return ret;
    }
    if (mf_take_uid(&reply, uid) != 0) {
        QXLOG(ERROR, "Write to Card Failed\n");
        return MF_FAIL;
    }
    QXLOG(VERBOSE, "Write %d bytes to Card ok\n", count * MF_BLOCK_SIZE);
    return 0;
}

static int get_serial(int fd, unsigned char cmd, unsigned char mode, unsigned char halt,
                      unsigned char* serial)
{
    const unsigned char req[2] = {mode, (unsigned char)(halt & 1)};
    mf_reply reply;
    if (!serial)
        return MF_ENULL;
    int ret = exchange(fd, cmd, req, 2, &reply);
    if (ret != 0)
        return ret;
    return mf_take_serial(&reply, serial, MF_SERIAL_MAX);
}

int Mifare_Get_SNR(int fd, unsigned char mode, unsigned char halt, unsigned char* serial)
{
    return get_serial(fd, CMD_GET_SNR, mode, halt, serial);
}

int Mifare_Get_SNR_SFZ(int fd, unsigned char mode, unsigned char halt, unsigned char* serial)
{
    return get_serial(fd, CMD_GET_SNR_SFZ, mode, halt, serial);
}

int Mifare_GetSerNum(int fd, unsigned char* sernum)
{
    mf_reply reply;
    if (!sernum)
        return MF_ENULL;
    int ret = exchange(fd, CMD_GET_SERNUM, NULL, 0, &reply);
    if (ret != 0)
        return ret;
    return mf_reply_copy(&reply, 1, MF_MODULE_SN_LEN, sernum);
}

int Mifare_SetSerNum(int fd, const unsigned char* sernum)
{
    mf_reply reply;
    if (!sernum)
        return MF_ENULL;
    return exchange(fd, CMD_SET_SERNUM, sernum, MF_MODULE_SN_LEN, &reply);
}

int Mifare_SetBaudRate(int fd, unsigned int baud)
{
    const unsigned char code = mf_baud_code(baud);
    mf_reply reply;
    int ret = exchange(fd, CMD_SET_BAUD, &code, 1, &reply);
    if (ret == 0)
        QXLOG(ERROR, "The baudrate of Mifare Reader has been changed!\n");
    return ret;
}
