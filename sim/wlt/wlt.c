/* Development stand-in of the photo decoder library; format in qxwlt_format.h. */
#include "qxwlt_format.h"

#define EXPORT __attribute__((visibility("default")))

EXPORT int unpack(char* block, char* pixels, int flag);
EXPORT int _Z6unpackPcS_i(char* block, char* pixels, int flag);

/* Both entry points call this one directly: another library of the process
 * may export an "unpack" of its own, which a call through the exported name
 * would reach instead. */
static int decode_block(char* block, char* pixels, int flag)
{
    if (!block || !pixels || flag != QXWLT_FLAG)
        return -3;
    return qxwlt_decode((const unsigned char*)block, (unsigned char*)pixels);
}

int unpack(char* block, char* pixels, int flag) { return decode_block(block, pixels, flag); }

int _Z6unpackPcS_i(char* block, char* pixels, int flag) { return decode_block(block, pixels, flag); }
