/* One logger for the whole library: line heads, levels, file or terminal. */
#include "logPrintf.h"

#include "qxident.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static const char LogLevelText[8][10] = {"", "", "VERBOSE", "DEBUG", "INFO", "WARN", "ERROR", "ASSERT"};

static struct {
    char filepath[QX_LOG_PATH_MAX];
    unsigned int maxfilelen; /* recorded, no rotation is done */
    unsigned int loglevel;
    int logtype;
} logseting = {"", 4096, INFO, LOG_TERMINE};

static struct {
    char logtime[20];
    char filepath[QX_LOG_PATH_MAX];
    FILE* fp;
} log_work;

static int level_is_valid(int level) { return level >= VERBOSE && level <= ASSERT; }

void QXID_SetLogType(int logType, char* logFilePath)
{
    QXLOG(VERBOSE, "===>QXID_SetLogType\n");
    const char* path = (logFilePath && logFilePath[0]) ? logFilePath : QX_LOG_DEFAULT_FILE;
    size_t len = strlen(path);
    if (len >= sizeof logseting.filepath) {
        QXLOG(ERROR, "log file path too long (%zu bytes)\n", len);
        return;
    }
    logseting.logtype = logType;
    memcpy(logseting.filepath, path, len + 1);
}

void QXID_SetLogLevel(int logLevel)
{
    QXLOG(VERBOSE, "===>QXID_SetLogLevel\n");
    if (level_is_valid(logLevel))
        logseting.loglevel = (unsigned int)logLevel;
}

static int line_is_wanted(int logLevel)
{
    if (logseting.loglevel > (unsigned int)logLevel)
        return 0;
    if (logseting.loglevel == ASSERT)
        return 0;
    return level_is_valid(logLevel);
}

/* Opens the log file of the working record; 0 when it cannot be opened. */
static int open_log_file(const char* mode)
{
    memcpy(log_work.filepath, logseting.filepath, sizeof log_work.filepath);
    if (!log_work.fp)
        log_work.fp = fopen(log_work.filepath, mode);
    return log_work.fp != NULL;
}

static void close_log_file(void)
{
    if (log_work.fp) {
        fflush(log_work.fp);
        fclose(log_work.fp);
        log_work.fp = NULL;
    }
}

void QXLogPrintf(int logLevel, int line, const char* tag, const char* fmt, ...)
{
    if (!line_is_wanted(logLevel))
        return;
    memset(&log_work, 0, sizeof log_work);
    time_t now = time(NULL);
    struct tm tm_now;
    localtime_r(&now, &tm_now);
    strftime(log_work.logtime, sizeof log_work.logtime, "%Y-%m-%d %H:%M:%S", &tm_now);

    FILE* out = stdout;
    if (logseting.logtype == LOG_FILE) {
        if (!open_log_file("a+")) {
            perror("Open Log File Fail!");
            return;
        }
        out = log_work.fp;
    }
    fprintf(out, "[%d]<%s> [%s][%s]: ", line, tag ? tag : "", log_work.logtime, LogLevelText[logLevel]);
    va_list ap;
    va_start(ap, fmt);
    vfprintf(out, fmt, ap);
    va_end(ap);
    if (out == stdout)
        fflush(stdout);
    else
        close_log_file();
}

/* One dump line: offset, 16 hex columns, two blanks, printable characters. */
static void format_dump_line(char* text, const unsigned char* bytes, int count, int offset)
{
    int pos = sprintf(text, "%06x: ", offset);
    for (int i = 0; i < 16; i++)
        pos += i < count ? sprintf(text + pos, "%02x ", bytes[i]) : sprintf(text + pos, "   ");
    pos += sprintf(text + pos, "  ");
    for (int i = 0; i < count; i++)
        text[pos++] = (bytes[i] >= 0x21 && bytes[i] <= 0x7E) ? (char)bytes[i] : '.';
    text[pos] = '\0';
}

void QXDump(const char* tag, const char* data, int size)
{
    if (logseting.loglevel > DEBUG)
        return;
    if (size < 0 || (!data && size > 0))
        return;
    FILE* out = stdout;
    if (logseting.logtype == LOG_FILE) {
        if (!open_log_file("a+b+"))
            return;
        out = log_work.fp;
    }
    if (tag)
        fprintf(out, "%s:%d\n", tag, size);
    const unsigned char* bytes = (const unsigned char*)data;
    char text[96];
    for (int offset = 0; offset < size; offset += 16) {
        int count = size - offset < 16 ? size - offset : 16;
        format_dump_line(text, bytes + offset, count, offset);
        fprintf(out, "%s\n", text);
    }
    if (out == stdout)
        fflush(stdout);
    else
        close_log_file();
}
