/* Preparation of the raw input before resampling: flat-field step, the
 * background corner, tone curve and the optional pre-filters. */
#include <stdlib.h>
#include <string.h>

#include "correct/correct.h"
#include "fpcap_error.h"
#include "correct/correct_internal.h"

#define FLAT_WHITE 245

static uint8_t saturate(int v)
{
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

static void flat_field(const CorrectContext *ctx, uint8_t *raw, int n, int brightOffset)
{
    const uint8_t *dark = ctx->darkRef, *bright = ctx->brightRef;
    if (dark && bright) {
        for (int i = 0; i < n; ++i) {
            const int d = dark[i], b = bright[i];
            raw[i] = d < b ? saturate((raw[i] - d) * 235 / (b - d)) : 0;
        }
    } else if (dark) {
        /* A dark pixel at or above the white level leaves no range to stretch
         * (245 would divide by zero, 246..254 turn the scale upside down). */
        for (int i = 0; i < n; ++i) {
            const int d = dark[i];
            raw[i] = d >= FLAT_WHITE ? 0 : saturate((raw[i] - d) * 235 / (FLAT_WHITE - d));
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const int b = bright[i];
            raw[i] = b == 0 ? 0 : saturate(raw[i] * FLAT_WHITE / b + brightOffset);
        }
    }
}

static void apply_tone(const uint8_t *table, uint8_t *raw, int n)
{
    for (int i = 0; i < n; ++i)
        raw[i] = table[raw[i]];
}

/* 3 x 3 smoothing, weights 1 2 1 / 2 4 2 / 1 2 1 (sum 16). */
static void smooth(uint8_t *raw, const uint8_t *src, int w, int h)
{
    for (int y = 1; y < h - 1; ++y) {
        const uint8_t *a = src + (size_t)(y - 1) * w, *b = a + w, *c = b + w;
        uint8_t *o = raw + (size_t)y * w;
        for (int x = 1; x < w - 1; ++x) {
            const int s = a[x - 1] + 2 * a[x] + a[x + 1] + 2 * b[x - 1] + 4 * b[x] +
                          2 * b[x + 1] + c[x - 1] + 2 * c[x] + c[x + 1];
            o[x] = (uint8_t)(s >> 4);
        }
    }
}

/* A pixel far (> 16) from the mean of its eight neighbours becomes that mean. */
static void clamp_outliers(uint8_t *raw, const uint8_t *src, int w, int h)
{
    for (int y = 1; y < h - 1; ++y) {
        const uint8_t *a = src + (size_t)(y - 1) * w, *b = a + w, *c = b + w;
        uint8_t *o = raw + (size_t)y * w;
        for (int x = 1; x < w - 1; ++x) {
            const int mean = (a[x - 1] + a[x] + a[x + 1] + b[x - 1] + b[x + 1] + c[x - 1] +
                              c[x] + c[x + 1]) >> 3;
            const int d = b[x] - mean;
            if (d > 16 || d < -16)
                o[x] = (uint8_t)mean;
        }
    }
}

static int prefilter(CorrectContext *ctx, uint8_t *raw, int w, int h, int mode)
{
    const int n = w * h;
    if (ctx->scratchSize < n) {
        uint8_t *grown = (uint8_t *)realloc(ctx->scratch, (size_t)n);
        if (grown == NULL)
            return CORRECT_ERROR_NO_MEMORY;
        ctx->scratch = grown;
        ctx->scratchSize = n;
    }
    memcpy(ctx->scratch, raw, (size_t)n);
    if (mode == 1)
        smooth(raw, ctx->scratch, w, h);
    else
        clamp_outliers(raw, ctx->scratch, w, h);
    return 0;
}

/* rgbFilters: the three-plane variant treats every non-zero mode other than
 * 1 as the outlier clamp and leaves the corner block alone. */
int correct_prepare_input(CorrectContext *ctx, uint8_t *raw, int brightOffset, int rgbFilters)
{
    const int w = ctx->inStride, h = ctx->inRows, n = w * h;
    if (ctx->uniform && (ctx->darkRef || ctx->brightRef))
        flat_field(ctx, raw, n, brightOffset);
    if (!rgbFilters) {
        const int cw = w < 5 ? w : 5, ch = h < 5 ? h : 5;
        for (int y = 0; y < ch; ++y)
            memset(raw + (size_t)y * w, CORRECT_BACKGROUND, (size_t)cw);
    }
    if (ctx->linear != 0)
        apply_tone(ctx->toneTable, raw, n);
    const int mode = ctx->filterMode;
    if (mode == 1 || mode == 2 || (rgbFilters && mode != 0))
        return prefilter(ctx, raw, w, h, mode == 1 ? 1 : 2);
    return 0;
}
