/* Fuzz target: bytes arriving from a Mifare module, through the reply reader
 * and every interpretation the card operations make of a reply. Output
 * buffers are allocated at exactly the size the public interface promises,
 * so any read or write past them is caught by the sanitizer. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "mifare.h"
#include "qxident.h"

typedef struct {
    const uint8_t* data;
    size_t size;
    size_t pos;
} memory_bytes;

static int memory_next(mf_byte_source* self, int max_empty_polls)
{
    memory_bytes* m = self->ctx;
    (void)max_empty_polls;
    return m->pos < m->size ? m->data[m->pos++] : -1;
}

static void interpret(const mf_reply* r)
{
    unsigned int uid = 0;
    for (int count = 0; count <= 4; count++) {
        size_t n = (size_t)count * MF_BLOCK_SIZE;
        unsigned char* buf = malloc(n ? n : 1);
        mf_take_blocks(r, count, buf, &uid);
        free(buf);
    }
    mf_take_uid(r, &uid);
    unsigned char* serial = malloc(QXID_MIFARE_SNR_MAX);
    mf_take_serial(r, serial, QXID_MIFARE_SNR_MAX);
    free(serial);
    unsigned char* sernum = malloc(MF_MODULE_SN_LEN);
    mf_reply_copy(r, 1, MF_MODULE_SN_LEN, sernum);
    free(sernum);
    mf_reply_le32(r, 1, &uid);
    mf_reply_result(r);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int quiet;
    if (!quiet) {
        QXID_SetLogLevel(QXID_LOG_ASSERT);
        quiet = 1;
    }
    memory_bytes m = {data, size, 0};
    mf_byte_source src = {memory_next, &m};
    unsigned char packet[MF_PACKET_SIZE];
    mf_reply reply;
    int status = mf_read_reply(&src, packet, &reply);
    if (status < 0)
        return 0;
    if (status > 255 || reply.len < 0 || reply.len > MF_MAX_N - 1 || reply.data != packet + 4)
        abort();
    interpret(&reply);
    return 0;
}
