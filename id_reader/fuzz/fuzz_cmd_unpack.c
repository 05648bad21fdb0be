/* Reply frames of any shape through the frame decoder. */
#include "command.h"
#include "qxident.h"

#include <stddef.h>
#include <stdio.h>
#include <stdint.h>
#include <string.h>

int LLVMFuzzerInitialize(int* argc, char*** argv);
int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    QXID_SetLogLevel(QXID_LOG_ASSERT);
    if (!freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static char payload[QX_PAYLOAD_BUF];
    int len = 0;
    /* Exactly the bytes received: anything past them is out of bounds. */
    char* exact = (char*)(size ? __builtin_malloc(size) : NULL);
    if (exact)
        memcpy(exact, data, size);
    cmd_unpack_n(exact, (int)size, payload, QX_PAYLOAD_BUF, &len);
    cmd_unpack_n(exact, (int)size, NULL, 0, NULL);
    __builtin_free(exact);

    /* The fixed-size entry point over a zero-padded reply buffer. */
    static char reply[QX_REPLY_BUF];
    memset(reply, 0, sizeof reply);
    memcpy(reply, data, size < sizeof reply ? size : sizeof reply);
    cmd_unpack(reply, 0, payload, &len);
    return 0;
}
