/* SAM frames: building requests and checking replies. */
#ifndef QX_COMMAND_H
#define QX_COMMAND_H

#ifdef __cplusplus
extern "C" {
#endif

#define QX_REQUEST_BUF 3010
#define QX_REPLY_BUF 3011
#define QX_PAYLOAD_BUF 3000

#define QX_STATUS_OK 0x90
#define QX_STATUS_FOUND 0x9F

typedef struct {
    unsigned char Preamb1e[5];
    unsigned char len1;
    unsigned char len2;
    unsigned char cmd;
    unsigned char para;
    char* data;
    unsigned char check_sum;
} command_in;

typedef struct {
    unsigned char Preamb1e[5];
    unsigned char len1;
    unsigned char len2;
    unsigned char SW[3];
    char* data;
    unsigned char check_sum;
} command_out;

/* Writes the request into cmdbuf (datasize + 10 bytes) and returns its length. */
int cmd_pack(int command, int para, char* data, int datasize, char* cmdbuf);
void cmdtobuf(command_in cmd, char* cmdbuf, int datasize, int flag);
/* Checks a reply held in a QX_REPLY_BUF buffer; payload into a QX_PAYLOAD_BUF
 * buffer. Returns the status (0x90 or 0x9F) or -1. */
int cmd_unpack(char* cmdbuffer, char command, char* data, int* pdatalen);
/* The same with the number of bytes received and the payload capacity: a reply
 * whose length field claims more than either is refused before any copy. */
int cmd_unpack_n(const char* cmdbuffer, int received, char* data, int datacap, int* pdatalen);

#ifdef __cplusplus
}
#endif

#endif
