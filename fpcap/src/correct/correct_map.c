/* Map rebuild: tone table, perspective profiles, target -> raw lookup with
 * flips, swap, clamping and Bayer parity, and the cubic kernel table. */
#include <math.h>
#include <stdint.h>
#include <stdlib.h>

#include "correct/correct.h"
#include "fpcap_error.h"
#include "correct/correct_internal.h"

/* Largest map or input we accept; far above any sensor, and keeps every
 * offset and byte count inside an int. */
#define CORRECT_MAX_PIXELS (1 << 26)
#define SNAP_EPSILON 1e-9

void correct_input_layout(const CorrectContext *ctx, CorrectInput *in)
{
    const int framed = ctx->frameW > 0 && ctx->frameH > 0 && ctx->originW < ctx->frameW &&
                       ctx->originH < ctx->frameH;
    in->stride = framed ? ctx->frameW : ctx->originW;
    in->rows = framed ? ctx->frameH : ctx->originH;
    in->shiftX = framed ? ctx->frameX : 0;
    in->shiftY = framed ? ctx->frameY : 0;
}

void correct_release_tables(CorrectContext *ctx)
{
    free(ctx->offsetMap);
    free(ctx->fracX);
    free(ctx->fracY);
    free(ctx->cubicTable);
    free(ctx->toneTable);
    ctx->offsetMap = NULL;
    ctx->fracX = ctx->fracY = NULL;
    ctx->cubicTable = NULL;
    ctx->toneTable = NULL;
    ctx->mapW = ctx->mapH = 0;
    ctx->inStride = ctx->inRows = 0;
}

static void build_tone_table(uint8_t *table, int linear)
{
    for (int i = 0; i < 256; ++i) {
        double v = i + sin(i * 3.14 / 255.0) * linear;
        int t = (int)v;
        table[i] = (uint8_t)(t < 0 ? 0 : t > 255 ? 255 : t);
    }
}

static void build_cubic_table(int32_t *table)
{
    for (int i = 0; i < CORRECT_CUBIC_TABLE_SIZE; ++i) {
        const double s = -2.0 + i / 16384.0;
        const double a = fabs(s);
        double w = 0.0;
        if (a <= 1.0)
            w = 1.25 * a * a * a - 2.25 * a * a + 1.0;
        else if (a <= 2.0)
            w = -0.75 * a * a * a + 3.75 * a * a - 6.0 * a + 3.0;
        table[i] = (int32_t)(w * 65536.0);
    }
}

/* Position along an edge seen in perspective; alpha = half the angle. */
static void build_profile(double *profile, int n, int angle)
{
    const float pi = 3.1415927f;
    const float alpha = (float)angle * 0.5f;
    const float scale = sinf((45.0f - alpha) * pi / 180.0f) / 0.7071067966408575f;
    for (int i = 0; i < n; ++i) {
        if (angle == 0) {
            /* The formula reduces to t; keep it exact so that an upright
             * grid maps target pixels onto whole raw pixels. */
            profile[i] = n > 1 ? (double)i / (n - 1) : 0.0;
            continue;
        }
        const float t = n > 1 ? (float)i / (float)(n - 1) : 0.0f;
        const float at = atanf(t);
        profile[i] = sinf(at) / sinf((90.0f - alpha - at * 180.0f / pi) * pi / 180.0f) * scale;
    }
}

static int32_t clamp_offset(int64_t v, int32_t lo, int32_t hi)
{
    return v < lo ? lo : v > hi ? hi : (int32_t)v;
}

typedef struct MapBuild {
    CorrectInput in;
    int32_t lo, hi;
    int bayer;
} MapBuild;

static void store_point(CorrectContext *ctx, const MapBuild *mb, int pos, double X, double Y)
{
    const double maxX = (double)mb->in.shiftX + ctx->originW + 1.0;
    const double maxY = (double)mb->in.shiftY + ctx->originH + 1.0;
    /* NaN/inf from extreme angles, negatives and points past the origin
     * window all fall back to the background point. */
    if (!(X >= mb->in.shiftX && X < maxX && Y >= mb->in.shiftY && Y < maxY)) {
        X = 1.5;
        Y = 1.5;
    }
    /* A point a rounding error below a whole pixel belongs to that pixel. */
    X += SNAP_EPSILON;
    Y += SNAP_EPSILON;
    int X0 = (int)X;
    const int Y0 = (int)Y;
    const uint8_t fx = (uint8_t)(int)((X - X0) * 256.0);
    const uint8_t fy = (uint8_t)(int)((Y - Y0) * 256.0);
    if (mb->bayer)
        X0 = (X0 & ~1) | (Y0 & 1);
    ctx->offsetMap[pos] = clamp_offset((int64_t)Y0 * mb->in.stride + X0, mb->lo, mb->hi);
    ctx->fracX[pos] = fx;
    ctx->fracY[pos] = fy;
}

static void fill_map(CorrectContext *ctx, const MapBuild *mb, const double *left,
                     const double *right, const double *top, const double *bottom)
{
    const int W = ctx->targetW, H = ctx->targetH;
    const double sx = mb->in.shiftX, sy = mb->in.shiftY;
    const double x0 = ctx->grid[0] + sx, y0 = ctx->grid[1] + sy;
    const double x1 = ctx->grid[2] + sx, y1 = ctx->grid[3] + sy;
    const double x2 = ctx->grid[4] + sx, y2 = ctx->grid[5] + sy;
    const double x3 = ctx->grid[6] + sx, y3 = ctx->grid[7] + sy;
    const int swap = ctx->swap;
    const int revRows = (!swap && ctx->flipB) || (swap && !ctx->flipA);
    const int revCols = (!swap && ctx->flipA) || (swap && ctx->flipB);
    for (int y = 0; y < H; ++y) {
        const double fl = left[y], fr = right[y];
        const double lx = x0 + (x2 - x0) * fl, ly = y0 + (y2 - y0) * fl;
        const double rx = x1 + (x3 - x1) * fr, ry = y1 + (y3 - y1) * fr;
        const double v = H > 1 ? (double)y / (H - 1) : 0.0;
        const int ty = revRows ? H - 1 - y : y;
        for (int x = 0; x < W; ++x) {
            const double u = top[x] + (bottom[x] - top[x]) * v;
            const double X = lx + (rx - lx) * u;
            const double Y = ly + (ry - ly) * u;
            const int tx = revCols ? W - 1 - x : x;
            const int pos = swap ? tx * H + ty : ty * W + tx;
            store_point(ctx, mb, pos, X, Y);
        }
    }
}

/* Offsets are clamped so that the whole sampling neighbourhood of every map
 * entry stays inside the raw buffer, whatever the grid says. */
static int offset_bounds(const CorrectInput *in, int quality, int32_t *lo, int32_t *hi)
{
    const int64_t n = (int64_t)in->stride * in->rows;
    int64_t l = 0, h = n - 1;
    if (quality == CORRECT_BILINEAR) {
        h = n - 1 - (in->stride + 1);
    } else if (quality == CORRECT_BICUBIC) {
        l = in->stride + 1;
        h = n - 1 - 2 * ((int64_t)in->stride + 1);
    }
    if (h < l)
        return CORRECT_ERROR_INVALID;
    *lo = (int32_t)l;
    *hi = (int32_t)h;
    return 0;
}

static int allocate_tables(CorrectContext *ctx, int pixels)
{
    ctx->offsetMap = (int32_t *)malloc(sizeof(int32_t) * (size_t)pixels);
    ctx->fracX = (uint8_t *)malloc((size_t)pixels);
    ctx->fracY = (uint8_t *)malloc((size_t)pixels);
    ctx->cubicTable = (int32_t *)malloc(sizeof(int32_t) * CORRECT_CUBIC_TABLE_SIZE);
    ctx->toneTable = (uint8_t *)malloc(256);
    if (!ctx->offsetMap || !ctx->fracX || !ctx->fracY || !ctx->cubicTable || !ctx->toneTable) {
        correct_release_tables(ctx);
        return CORRECT_ERROR_NO_MEMORY;
    }
    return 0;
}

int correct_update(CorrectContext *ctx)
{
    if (ctx == NULL || ctx->valid != 1)
        return CORRECT_ERROR_CONTEXT;
    if (ctx->targetW < 1 || ctx->targetH < 1 || ctx->originW < 1 || ctx->originH < 1)
        return CORRECT_ERROR_INVALID;
    const int64_t pixels = (int64_t)ctx->targetW * ctx->targetH;
    MapBuild mb;
    correct_input_layout(ctx, &mb.in);
    if (pixels > CORRECT_MAX_PIXELS || (int64_t)mb.in.stride * mb.in.rows > CORRECT_MAX_PIXELS)
        return CORRECT_ERROR_INVALID;
    if (offset_bounds(&mb.in, ctx->qualityType, &mb.lo, &mb.hi) != 0)
        return CORRECT_ERROR_INVALID;
    mb.bayer = ctx->filterMode == 3;

    correct_release_tables(ctx);
    if (allocate_tables(ctx, (int)pixels) != 0)
        return CORRECT_ERROR_NO_MEMORY;
    double *profiles = (double *)malloc(sizeof(double) * 2 * ((size_t)ctx->targetW + ctx->targetH));
    if (profiles == NULL) {
        correct_release_tables(ctx);
        return CORRECT_ERROR_NO_MEMORY;
    }
    double *left = profiles, *right = left + ctx->targetH;
    double *top = right + ctx->targetH, *bottom = top + ctx->targetW;
    build_tone_table(ctx->toneTable, ctx->linear);
    build_profile(left, ctx->targetH, ctx->leftAngle);
    build_profile(right, ctx->targetH, ctx->rightAngle);
    build_profile(top, ctx->targetW, ctx->topAngle);
    build_profile(bottom, ctx->targetW, ctx->bottomAngle);
    fill_map(ctx, &mb, left, right, top, bottom);
    free(profiles);
    build_cubic_table(ctx->cubicTable);

    ctx->mapW = ctx->targetW;
    ctx->mapH = ctx->targetH;
    ctx->inStride = mb.in.stride;
    ctx->inRows = mb.in.rows;
    return 0;
}
