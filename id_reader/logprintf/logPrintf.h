/*
 * Library logger. Every module logs through QXLOG(level, fmt, ...), which
 * passes its own source line and file name as tag, and dumps frames with
 * QXDump(tag, data, size) (written only at levels VERBOSE and DEBUG).
 * Settings change only through QXID_SetLogType / QXID_SetLogLevel.
 */
#ifndef QX_LOGPRINTF_H
#define QX_LOGPRINTF_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum { VERBOSE = 2, DEBUG = 3, INFO = 4, WARN = 5, ERROR = 6, ASSERT = 7 } LOGLEVEL;

#define QX_LOG_PATH_MAX 512
#define QX_LOG_DEFAULT_FILE "qxidreader.log"

void QXLogPrintf(int logLevel, int line, const char* tag, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
void QXDump(const char* tag, const char* data, int size);

#ifdef __FILE_NAME__
#define QXLOG_TAG __FILE_NAME__
#else
#define QXLOG_TAG __FILE__
#endif

#define QXLOG(level, ...) QXLogPrintf((level), __LINE__, QXLOG_TAG, __VA_ARGS__)

#ifdef __cplusplus
}
#endif

#endif
