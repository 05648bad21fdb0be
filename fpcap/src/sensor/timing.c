#define _POSIX_C_SOURCE 200809L
#include "sensor/device.h"

#include <errno.h>
#include <stddef.h>
#include <sys/time.h>
#include <time.h>

static uint32_t system_tick_ms(void *context)
{
    (void)context;
    struct timeval tv;
    gettimeofday(&tv, NULL);
    return (uint32_t)((uint64_t)tv.tv_sec * 1000u + (uint64_t)tv.tv_usec / 1000u);
}

static void system_sleep_ms(void *context, int ms)
{
    (void)context;
    if (ms <= 0)
        return;
    struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

static const fpcap_tick_source system_source = {system_tick_ms, system_sleep_ms, NULL};
static fpcap_tick_source current_source = {system_tick_ms, system_sleep_ms, NULL};

void fpcap_set_tick_source(const fpcap_tick_source *source)
{
    current_source = (source && source->tick_ms && source->sleep_ms) ? *source : system_source;
}

uint32_t tick_ms(void)
{
    return current_source.tick_ms(current_source.context);
}

void sleep_ms(int ms)
{
    current_source.sleep_ms(current_source.context, ms);
}
