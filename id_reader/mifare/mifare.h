/*
 * Serial Mifare reader module: frames, the reply reader and the card
 * operations behind the public QXID_Mifare_* functions.
 *
 * Request:  AA 00 N cmd data[N-1] BCC BB   (BCC = XOR of station..data)
 * Reply:    AA 00 N status data[N-1] BCC BB, N in 1..124
 *
 * Operations return 0 on success, the module's error code for status 1, any
 * other status as received, -2 for a bad address, a protected trailer or a
 * framing/checksum/time-out failure, -5 for a null buffer.
 * Internal to the library: nothing here is exported.
 */
#ifndef QX_MIFARE_H
#define QX_MIFARE_H

#ifdef __cplusplus
extern "C" {
#endif

#define MF_HIDDEN __attribute__((visibility("hidden")))

#define MF_STX 0xAA
#define MF_ETX 0xBB
#define MF_PACKET_SIZE 256
#define MF_MAX_N 124
#define MF_FAIL (-2)
#define MF_ENULL (-5)
#define MF_BLOCK_SIZE 16
#define MF_BLOCK_COUNT 64
#define MF_SERIAL_MAX 16       /* room a card serial-number buffer must have */
#define MF_MODULE_SN_LEN 8

/* Empty polls (2 us apart) allowed before the first reply byte / between bytes. */
#define MF_FIRST_BYTE_POLLS 60000
#define MF_NEXT_BYTE_POLLS 100000

/* Where reply bytes come from: next() returns one byte (0..255), or -1 when
 * none arrived within max_empty_polls polls. */
typedef struct mf_byte_source {
    int (*next)(struct mf_byte_source* self, int max_empty_polls);
    void* ctx;
} mf_byte_source;

/* A received reply: the status byte and the N-1 data bytes that followed it.
 * Every read of the data goes through the bounds-checked helpers below. */
typedef struct {
    int status;
    const unsigned char* data;
    int len;
} mf_reply;

/* Copy count bytes from data offset at; MF_FAIL if the reply holds fewer. */
MF_HIDDEN int mf_reply_copy(const mf_reply* r, int at, int count, unsigned char* dst);
/* The same, into dst of capacity bytes; MF_FAIL when count exceeds it. */
MF_HIDDEN int mf_reply_copy_max(const mf_reply* r, int at, int count, unsigned char* dst, int capacity);
/* Little-endian 32-bit value at data offset at; MF_FAIL if out of range. */
MF_HIDDEN int mf_reply_le32(const mf_reply* r, int at, unsigned int* out);
/* The result an operation reports for a reply: 0, the module error code for
 * status 1 (MF_FAIL if it carries none), or the status as received. */
MF_HIDDEN int mf_reply_result(const mf_reply* r);

/* Interpreting successful replies (pure; used by the operations and the fuzzer). */
MF_HIDDEN int mf_take_blocks(const mf_reply* r, int count, unsigned char* buf, unsigned int* uid);
MF_HIDDEN int mf_take_uid(const mf_reply* r, unsigned int* uid);
MF_HIDDEN int mf_take_serial(const mf_reply* r, unsigned char* serial, int capacity);

/* Reads one reply frame from src into packet (MF_PACKET_SIZE bytes); returns
 * the status byte (0..255) and fills *reply, or MF_FAIL. */
MF_HIDDEN int mf_read_reply(mf_byte_source* src, unsigned char* packet, mf_reply* reply);

/* Frame exchange on a serial descriptor, through the library-wide packet buffer. */
MF_HIDDEN int SendCommand(int fd, unsigned char cmd, const unsigned char* data, int datalen);
MF_HIDDEN int GetReply(int fd, mf_reply* reply);

/* Card operations (serial descriptor fd). */
MF_HIDDEN int Mifare_REQA(int fd, unsigned char mode);
MF_HIDDEN int Mifare_AnticollA(int fd, unsigned int* card_number);
MF_HIDDEN int Mifare_SelectA(int fd, unsigned int uid);
MF_HIDDEN int Mifare_HaltA(int fd);
MF_HIDDEN int Mifare_Read(int fd, unsigned char addr, unsigned char blocks, const unsigned char* key,
                          unsigned char auth, unsigned char mode, unsigned char* buf, unsigned int* uid);
MF_HIDDEN int Mifare_Write(int fd, unsigned char addr, unsigned char blocks, const unsigned char* key,
                           unsigned char auth, unsigned char mode, const unsigned char* buf,
                           unsigned int* uid, int protect);
MF_HIDDEN int Mifare_Get_SNR(int fd, unsigned char mode, unsigned char halt, unsigned char* serial);
MF_HIDDEN int Mifare_Get_SNR_SFZ(int fd, unsigned char mode, unsigned char halt, unsigned char* serial);
MF_HIDDEN int Mifare_GetSerNum(int fd, unsigned char* sernum);
MF_HIDDEN int Mifare_SetSerNum(int fd, const unsigned char* sernum);
MF_HIDDEN int Mifare_SetBaudRate(int fd, unsigned int baud);

/* Block range helpers. */
MF_HIDDEN int mf_clip_count(int addr, int count);
MF_HIDDEN int mf_touches_trailer(int addr, int count);
MF_HIDDEN unsigned char mf_baud_code(unsigned int baud);

#ifdef __cplusplus
}
#endif

#endif
