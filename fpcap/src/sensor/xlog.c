#include "sensor/xlog.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static int g_level = 7;
static int g_type = XLOG_TYPE_STDOUT;
static char g_path[XLOG_PATH_MAX];

void XLogConfigure(int level, int type, const char *path)
{
    g_level = level;
    g_type = type;
    if (path == NULL) {
        g_path[0] = '\0';
    } else {
        strncpy(g_path, path, sizeof g_path - 1);
        g_path[sizeof g_path - 1] = '\0';
    }
}

static void write_entry(FILE *out, const char *tag, const char *format, va_list args)
{
    fprintf(out, "TAG[%s],", tag);
    vfprintf(out, format, args);
    fflush(out);
}

void XLogPrintf(int level, const char *tag, const char *format, ...)
{
    if (level < g_level || format == NULL)
        return;
    if (tag == NULL)
        tag = "VXT41M";
    va_list args;
    va_start(args, format);
    if (g_type == XLOG_TYPE_STDOUT) {
        write_entry(stdout, tag, format, args);
    } else if (g_type == XLOG_TYPE_FILE && g_path[0] != '\0') {
        FILE *file = fopen(g_path, "a");
        if (file != NULL) {
            write_entry(file, tag, format, args);
            fclose(file);
        }
    }
    va_end(args);
}
