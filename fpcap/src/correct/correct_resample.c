/* Resampling of a prepared raw frame through the map, and the queries on
 * the map's geometry. */
#include <stddef.h>

#include "correct/correct.h"
#include "fpcap_error.h"
#include "correct/correct_internal.h"

static int map_ready(const CorrectContext *ctx)
{
    return ctx->offsetMap != NULL && ctx->mapW == ctx->targetW && ctx->mapH == ctx->targetH &&
           ctx->mapW > 0;
}

int correct_output_window(const CorrectContext *ctx, int *x, int *y, int *w, int *h, int *stride)
{
    if (!map_ready(ctx))
        return CORRECT_ERROR_INVALID;
    const int outW = ctx->swap ? ctx->mapH : ctx->mapW;
    const int outH = ctx->swap ? ctx->mapW : ctx->mapH;
    *stride = outW;
    if (ctx->cutW > 0 && ctx->cutH > 0) {
        if (ctx->cutX + ctx->cutW > outW || ctx->cutY + ctx->cutH > outH)
            return CORRECT_ERROR_INVALID;
        *x = ctx->cutX;
        *y = ctx->cutY;
        *w = ctx->cutW;
        *h = ctx->cutH;
    } else {
        *x = *y = 0;
        *w = outW;
        *h = outH;
    }
    return 0;
}

int correct_input_size(const CorrectContext *ctx)
{
    if (ctx == NULL || ctx->valid != 1 || !map_ready(ctx))
        return 0;
    return ctx->inStride * ctx->inRows;
}

int correct_output_size(const CorrectContext *ctx, int *w, int *h)
{
    int x, y, ow = 0, oh = 0, stride;
    if (ctx == NULL || ctx->valid != 1)
        return CORRECT_ERROR_CONTEXT;
    const int rc = correct_output_window(ctx, &x, &y, &ow, &oh, &stride);
    if (w)
        *w = rc == 0 ? ow : 0;
    if (h)
        *h = rc == 0 ? oh : 0;
    return rc == 0 ? ow * oh : 0;
}

static void sample_nearest(const CorrectContext *ctx, const uint8_t *raw, uint8_t *out,
                           const int32_t *map, int n, uint8_t inv)
{
    (void)ctx;
    for (int i = 0; i < n; ++i)
        out[i] = (uint8_t)(raw[map[i]] ^ inv);
}

/* Both interpolations keep the intermediate sums at full fixed-point
 * precision and round once at the end: truncating after every stage
 * compounds to almost two grey levels of bias. */
static void sample_bilinear(const CorrectContext *ctx, const uint8_t *raw, uint8_t *out,
                            const int32_t *map, const uint8_t *fxs, const uint8_t *fys, int n,
                            uint8_t inv)
{
    const int stride = ctx->inStride;
    for (int i = 0; i < n; ++i) {
        const uint8_t *p = raw + map[i];
        const int fx = fxs[i], fy = fys[i];
        const int p00 = p[0], p01 = p[1], p10 = p[stride], p11 = p[stride + 1];
        const int top = p00 * 256 + (p01 - p00) * fx;    /* x 256 */
        const int bottom = p10 * 256 + (p11 - p10) * fx; /* x 256 */
        const int v = (top * 256 + (bottom - top) * fy + 32768) >> 16;
        out[i] = (uint8_t)(v ^ inv);
    }
}

/* Kernel weights for the 256 possible fractions, taken from the cubic table
 * at s = 1 + f, f, f - 1, f - 2 (index (s + 2) * 16384). */
typedef struct CubicWeights {
    int32_t w[256][4];
} CubicWeights;

static void cubic_weights(const int32_t *k, CubicWeights *cw)
{
    for (int f = 0; f < 256; ++f) {
        cw->w[f][0] = k[49152 + f * 64];
        cw->w[f][1] = k[32768 + f * 64];
        cw->w[f][2] = k[16384 + f * 64];
        cw->w[f][3] = k[f * 64];
    }
}

static void sample_bicubic(const CorrectContext *ctx, const CubicWeights *cw, const uint8_t *raw,
                           uint8_t *out, const int32_t *map, const uint8_t *fxs,
                           const uint8_t *fys, int n, uint8_t inv)
{
    const int stride = ctx->inStride;
    for (int i = 0; i < n; ++i) {
        const uint8_t *p = raw + map[i] - stride - 1;
        const int32_t *wx = cw->w[fxs[i]], *wy = cw->w[fys[i]];
        int sum = 0;
        for (int r = 0; r < 4; ++r, p += stride) {
            /* row x 8: kernel weights are x 65536 */
            const int row = (p[0] * wx[0] + p[1] * wx[1] + p[2] * wx[2] + p[3] * wx[3]) >> 13;
            sum += row * wy[r];
        }
        int v = (sum + 262144) >> 19; /* / 524288, rounded */
        v = v < 0 ? 0 : v > 255 ? 255 : v;
        out[i] = (uint8_t)(v ^ inv);
    }
}

int correct_image(CorrectContext *ctx, uint8_t *raw, uint8_t *out)
{
    if (ctx == NULL || ctx->valid != 1)
        return CORRECT_ERROR_CONTEXT;
    if (raw == NULL || out == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    int wx, wy, ww, wh, stride;
    if (correct_output_window(ctx, &wx, &wy, &ww, &wh, &stride) != 0)
        return CORRECT_ERROR_INVALID;
    const int rc = correct_prepare_input(ctx, raw, 0, 0);
    if (rc != 0)
        return rc;
    const uint8_t inv = ctx->invert ? 0xFF : 0x00;
    CubicWeights cw;
    if (ctx->qualityType == CORRECT_BICUBIC)
        cubic_weights(ctx->cubicTable, &cw);
    for (int y = 0; y < wh; ++y) {
        const size_t at = (size_t)(wy + y) * stride + wx;
        uint8_t *o = out + (size_t)y * ww;
        switch (ctx->qualityType) {
        case CORRECT_BILINEAR:
            sample_bilinear(ctx, raw, o, ctx->offsetMap + at, ctx->fracX + at, ctx->fracY + at,
                            ww, inv);
            break;
        case CORRECT_BICUBIC:
            sample_bicubic(ctx, &cw, raw, o, ctx->offsetMap + at, ctx->fracX + at, ctx->fracY + at,
                           ww, inv);
            break;
        default:
            sample_nearest(ctx, raw, o, ctx->offsetMap + at, ww, inv);
            break;
        }
    }
    return 0;
}

int correct_get_ori_offset(const CorrectContext *ctx, int x, int y, int *rx, int *ry)
{
    if (ctx == NULL || ctx->valid != 1)
        return CORRECT_ERROR_CONTEXT;
    if (rx == NULL || ry == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    if (!map_ready(ctx))
        return CORRECT_ERROR_INVALID;
    const int stride = ctx->swap ? ctx->mapH : ctx->mapW;
    const int rows = ctx->swap ? ctx->mapW : ctx->mapH;
    const int col = ctx->cutX + x, row = ctx->cutY + y;
    if (x < 0 || y < 0 || col >= stride || row >= rows)
        return CORRECT_ERROR_INVALID;
    const int32_t offset = ctx->offsetMap[(size_t)row * stride + col];
    *rx = offset % ctx->inStride;
    *ry = offset / ctx->inStride;
    return 0;
}
