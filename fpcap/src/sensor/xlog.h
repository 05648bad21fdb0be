/* Plug-in logging: level filter, standard output or a log file. */
#ifndef QXFPCAP_XLOG_H
#define QXFPCAP_XLOG_H

#ifdef __cplusplus
extern "C" {
#endif

#define XLOG_TYPE_STDOUT 1
#define XLOG_TYPE_FILE 2
#define XLOG_PATH_MAX 512

/* Writes "TAG[tag]," and the message when level >= the current level. */
void XLogPrintf(int level, const char *tag, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
/* Process-wide settings (level 7, standard output, no file at load). */
void XLogConfigure(int level, int type, const char *path);

#ifdef __cplusplus
}
#endif

#endif
