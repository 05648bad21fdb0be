/* A decoder library that reports a failed decode with 0 (1 for success), as
 * some decoders do; the same stand-in format otherwise. */
#include "qxwlt_format.h"

#define EXPORT __attribute__((visibility("default")))

EXPORT int unpack(char* block, char* pixels, int flag);

int unpack(char* block, char* pixels, int flag)
{
    if (!block || !pixels || flag != QXWLT_FLAG)
        return 0;
    return qxwlt_decode((const unsigned char*)block, (unsigned char*)pixels) == 1 ? 1 : 0;
}
