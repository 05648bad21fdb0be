/*
 * Serial line primitives on termios (8N1, raw, no flow control).
 * A port is its file descriptor; closing any port restores the terminal
 * setting found on the most recently opened one. On a pseudo-terminal the
 * modem-control lines are absent; opening carries on without them.
 */
#ifndef QX_UART_H
#define QX_UART_H

#ifdef __cplusplus
extern "C" {
#endif

/* Rate used for every open. */
extern int g_uart_baud;

/* Returns the descriptor (>= 0) or a negative value. */
int serial_open(const char* dev, int baudrate);
/* 0, or -1 for a negative descriptor. */
int serial_close(int fd);
/* Writes cmd_buf, then waits up to timeout ms for a reply and reads until
 * retsize bytes are in or the line stays quiet for 10 ms. Returns the reply
 * bytes read, 0 when rec_buf is null, -1 on failure. */
int run_command(int fd, char* cmd_buf, int cmd_len, char* rec_buf, int retsize, int timeout);
int serial_flush_input(int fd);   /* discards unread input, returns 0 */
int serial_flush_output(int fd);  /* does nothing, returns 0 */
int serial_poll(int fd);          /* bytes waiting (never negative) */
int serial_read(int fd);          /* one byte 0..255, or -1 */
/* One write of the whole buffer: data_len when all went out, else 0. */
int UART_Send(int fd, char* send_buf, int data_len);

#ifdef __cplusplus
}
#endif

#endif
