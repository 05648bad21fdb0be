/* Serial transport: termios set-up and the request/reply exchange. */
#include "uart.h"
#include "qxident.h"

#include "logPrintf.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

int g_uart_baud = 115200;

static struct termios serial_termios_save;

static const struct {
    int rate;
    speed_t speed;
} speeds[] = {
    {2400, B2400},     {4800, B4800},     {9600, B9600},   {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {0, 0},
};

static int lookup_speed(int rate, speed_t* speed)
{
    for (int i = 0; speeds[i].rate != 0; i++) {
        if (speeds[i].rate == rate) {
            *speed = speeds[i].speed;
            return 0;
        }
    }
    return QXID_EFRAME;
}

/* Raises DTR; a line without modem control (a pseudo-terminal) is fine. */
static void raise_dtr(int fd)
{
    int bits = TIOCM_DTR;
    (void)ioctl(fd, TIOCMBIS, &bits);
}

static int serial_init(int fd, int baudrate)
{
    raise_dtr(fd);
    if (tcgetattr(fd, &serial_termios_save) != 0) {
        int err = errno;
        printf("tcgetattr: %s(%d)\n.", strerror(err), err);
        return QXID_EFRAME;
    }
    struct termios t = serial_termios_save;
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cflag &= ~(tcflag_t)PARENB;
    t.c_iflag &= IGNPAR;
    t.c_cflag &= ~(tcflag_t)CSIZE;
    t.c_cflag |= CS8;
    t.c_cflag &= ~(tcflag_t)CSTOPB;
    t.c_cflag &= ~(tcflag_t)CRTSCTS;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    speed_t speed;
    if (lookup_speed(baudrate, &speed) == 0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    tcflush(fd, TCIOFLUSH);
    if (tcsetattr(fd, TCSAFLUSH, &t) != 0) {
        fprintf(stderr, "tcsetattr err : %d.\n", errno);
        return QXID_EFRAME;
    }
    return 0;
}

int serial_open(const char* dev, int baudrate)
{
    QXLOG(VERBOSE, "\n");
    int fd = open(dev, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        QXLOG(ERROR, "open %s fail,open ret=%d\n", dev, fd);
        return fd;
    }
    int ret = serial_init(fd, baudrate);
    if (ret != 0) {
        QXLOG(ERROR, "serial_init failed,ret=%d\n", ret);
        close(fd);
        return QXID_EFRAME;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        QXLOG(ERROR, "set interface nonblock err\n");
        serial_close(fd);
        return QXID_EFRAME;
    }
    tcflush(fd, TCIOFLUSH);
    return fd;
}

int serial_close(int fd)
{
    if (fd < 0)
        return QXID_EFRAME;
    tcsetattr(fd, TCSAFLUSH, &serial_termios_save);
    close(fd);
    return 0;
}

int serial_flush_input(int fd)
{
    tcflush(fd, TCIFLUSH);
    return 0;
}

int serial_flush_output(int fd) { return 0; }

int serial_poll(int fd)
{
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) < 0 || waiting < 0)
        return 0;
    return waiting;
}

int serial_read(int fd)
{
    unsigned char byte;
#if QXID_ALT_BUILD
    if (read(fd, &byte, 1) != 1)
        return QXID_EFRAME;
    return byte;
#else
    for (;;) {
        ssize_t n = read(fd, &byte, 1);
        if (n == 1) {
            QXDump("serial read", (const char*)&byte, 1);
            return byte;
        }
        if (n < 0 && errno == EINTR) {
            QXLOG(WARN, "serial read:  readLen=%d and erron==EINTR=%d\n", (int)n, errno);
            continue;
        }
        return QXID_EFRAME;
    }
#endif
}

int UART_Send(int fd, char* send_buf, int data_len)
{
    ssize_t n = write(fd, send_buf, (size_t)data_len);
    if (n > 0)
        QXDump("-serial write", send_buf, (int)n);
    if (n != data_len) {
        QXLOG(ERROR, "try to send %d but only %d sended!\n", data_len, (int)n);
        tcflush(fd, TCOFLUSH);
        return 0;
    }
    return data_len;
}

static int write_all(int fd, const char* buf, int len)
{
    int done = 0;
    while (done < len) {
        ssize_t n = write(fd, buf + done, (size_t)(len - done));
        if (n < 0 && errno == EINTR) {
            QXLOG(VERBOSE, "serial write write len=%d and erron==EINTR=%d\n", (int)n, errno);
            continue;
        }
        if (n <= 0)
            return n < 0 ? QXID_EFRAME : done;
        done += (int)n;
    }
    return done;
}

/* 1 readable, 0 timed out, -1 failed. */
static int wait_readable(int fd, int timeout_ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int ret;
    do {
        ret = select(fd + 1, &readable, NULL, NULL, &tv);
    } while (ret < 0 && errno == EINTR);
    if (ret < 0) {
#if QXID_ALT_BUILD
        QXLOG(ERROR, "select failed");
#else
        QXLOG(ERROR, "selct failed ret=%d\n", ret);
#endif
        return QXID_EFRAME;
    }
    if (ret == 0) {
#if QXID_ALT_BUILD
        QXLOG(ERROR, "select is zero,timeout\n");
#else
        QXLOG(ERROR, "timeout=%d,select is zero,timeout\n", timeout_ms / 1000);
#endif
        return 0;
    }
    return 1;
}

/* Bytes of the reply frame once its header is in (preamble, a two-byte
 * length, then that many bytes more); 0 while the header is incomplete. */
static int frame_size(const char* rec_buf, int got)
{
    if (got < 7)
        return 0;
    return 7 + (((unsigned char)rec_buf[5] << 8) | (unsigned char)rec_buf[6]);
}

/* Reads until the frame is complete or the buffer full. A slow line, or a
 * busy station, brings the reply in pieces with pauses between them: a pause
 * is waited out for up to timeout_ms, not taken for the reply's end. */
static int read_reply(int fd, char* rec_buf, int retsize, int timeout_ms)
{
    int got = 0;
    while (got < retsize) {
        ssize_t n = read(fd, rec_buf + got, (size_t)(retsize - got));
        if (n < 0 && errno == EINTR) {
            QXLOG(VERBOSE, "serial read: read len=%d and erron==EINTR=%d\n", (int)n, errno);
            continue;
        }
        if (n > 0) {
            got += (int)n;
            int whole = frame_size(rec_buf, got);
            if (whole > 0 && got >= whole)
                break;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            break;
        if (wait_readable(fd, timeout_ms) != 1)
            break;
    }
    QXDump("serial read", rec_buf, got);
    return got;
}

int run_command(int fd, char* cmd_buf, int cmd_len, char* rec_buf, int retsize, int timeout)
{
    /* Bytes left over from an earlier reply (one that came too late or was
     * longer than asked for) must not be taken for this command's reply. */
    if (rec_buf)
        tcflush(fd, TCIFLUSH);
    int written = write_all(fd, cmd_buf, cmd_len);
    if (written < 0)
        return QXID_EFRAME;
    QXDump("serial write", cmd_buf, written);
    if (written < cmd_len)
        return QXID_EFRAME;
    if (!rec_buf || retsize <= 0)
        return 0;
    if (wait_readable(fd, timeout) != 1)
        return QXID_EFRAME;
    return read_reply(fd, rec_buf, retsize, timeout);
}
