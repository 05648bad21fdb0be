/* Correction context: creation, release and the parameter setters. Each
 * setter validates first (leaving the context unchanged on -3), stores, and
 * rebuilds the map only when a value actually changed. */
#include <stdlib.h>
#include <string.h>

#include "correct/correct.h"
#include "fpcap_error.h"
#include "correct/correct_internal.h"

static int usable(const CorrectContext *ctx)
{
    return ctx != NULL && ctx->valid == 1;
}

int correct_init(CorrectContext **ctx)
{
    if (ctx == NULL)
        return CORRECT_ERROR_CONTEXT;
    if (*ctx != NULL) {
        correct_free(*ctx);
        *ctx = NULL;
    }
    CorrectContext *fresh = (CorrectContext *)calloc(1, sizeof(CorrectContext));
    if (fresh == NULL)
        return CORRECT_ERROR_NO_MEMORY;
    fresh->valid = 1;
    *ctx = fresh;
    return 0;
}

int correct_free(CorrectContext *ctx)
{
    if (ctx == NULL)
        return CORRECT_ERROR_CONTEXT;
    correct_release_tables(ctx);
    free(ctx->scratch);
    ctx->valid = 0;
    free(ctx);
    return 0;
}

int correct_quality(CorrectContext *ctx, int type)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (type < CORRECT_NEAREST || type > CORRECT_BICUBIC)
        return CORRECT_ERROR_INVALID;
    if (ctx->qualityType == type)
        return 0;
    ctx->qualityType = type;
    return correct_update(ctx);
}

int correct_linear(CorrectContext *ctx, int v)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (v < -64 || v >= 64)
        return CORRECT_ERROR_INVALID;
    if (ctx->linear == v)
        return 0;
    ctx->linear = v;
    return correct_update(ctx);
}

int correct_perspective(CorrectContext *ctx, int left, int top, int right, int bottom)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (ctx->leftAngle == left && ctx->topAngle == top && ctx->rightAngle == right &&
        ctx->bottomAngle == bottom)
        return 0;
    ctx->leftAngle = left;
    ctx->topAngle = top;
    ctx->rightAngle = right;
    ctx->bottomAngle = bottom;
    return correct_update(ctx);
}

int correct_arc(CorrectContext *ctx, int a, int b, int c, int d)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    /* Stored for completeness; the map does not use them. */
    ctx->arc[0] = a;
    ctx->arc[1] = b;
    ctx->arc[2] = c;
    ctx->arc[3] = d;
    return 0;
}

int correct_cut_in(CorrectContext *ctx, int x, int y, int w, int h)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x >= w || y >= h)
        return CORRECT_ERROR_INVALID;
    if (ctx->frameX == x && ctx->frameY == y && ctx->frameW == w && ctx->frameH == h)
        return 0;
    ctx->frameX = x;
    ctx->frameY = y;
    ctx->frameW = w;
    ctx->frameH = h;
    return correct_update(ctx);
}

int correct_size_origin(CorrectContext *ctx, int w, int h)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (w <= 0 || h <= 0)
        return CORRECT_ERROR_INVALID;
    if (ctx->frameW > 0 && ctx->frameH > 0 &&
        (w > ctx->frameW - ctx->frameX || h > ctx->frameH - ctx->frameY))
        return CORRECT_ERROR_INVALID;
    if (ctx->originW == w && ctx->originH == h)
        return 0;
    ctx->originW = w;
    ctx->originH = h;
    return correct_update(ctx);
}

int correct_grid(CorrectContext *ctx, int x0, int y0, int x1, int y1,
                 int x2, int y2, int x3, int y3)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    const int g[8] = {x0, y0, x1, y1, x2, y2, x3, y3};
    for (int i = 0; i < 8; ++i)
        if (g[i] < 0)
            return CORRECT_ERROR_INVALID;
    if (x1 > ctx->originW || x3 > ctx->originW || y2 > ctx->originH || y3 > ctx->originH)
        return CORRECT_ERROR_INVALID;
    if (memcmp(ctx->grid, g, sizeof g) == 0)
        return 0;
    memcpy(ctx->grid, g, sizeof g);
    return correct_update(ctx);
}

int correct_size_target(CorrectContext *ctx, int w, int h)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (w <= 0 || h <= 0)
        return CORRECT_ERROR_INVALID;
    if (ctx->targetW == w && ctx->targetH == h)
        return 0;
    ctx->targetW = w;
    ctx->targetH = h;
    return correct_update(ctx);
}

int correct_cut_out(CorrectContext *ctx, int x, int y, int w, int h)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x >= w || y >= h)
        return CORRECT_ERROR_INVALID;
    /* The window must fit the output as it is laid out now; correct_image
     * checks again in case the target changes afterwards. */
    if (ctx->targetW > 0 && ctx->targetH > 0) {
        const int outW = ctx->swap ? ctx->targetH : ctx->targetW;
        const int outH = ctx->swap ? ctx->targetW : ctx->targetH;
        if (x + w > outW || y + h > outH)
            return CORRECT_ERROR_INVALID;
    }
    ctx->cutX = x;
    ctx->cutY = y;
    ctx->cutW = w;
    ctx->cutH = h;
    return 0;
}

static int is_bit(int v)
{
    return v == 0 || v == 1;
}

int correct_option(CorrectContext *ctx, int uniform, int filterMode, int invert,
                   int swap, int flipA, int flipB)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (!is_bit(invert) || !is_bit(swap) || !is_bit(flipA) || !is_bit(flipB))
        return CORRECT_ERROR_INVALID;
    if (ctx->uniform == uniform && ctx->filterMode == filterMode && ctx->invert == invert &&
        ctx->swap == swap && ctx->flipA == flipA && ctx->flipB == flipB)
        return 0;
    ctx->uniform = uniform;
    ctx->filterMode = filterMode;
    ctx->invert = invert;
    ctx->swap = swap;
    ctx->flipA = flipA;
    ctx->flipB = flipB;
    return correct_update(ctx);
}

int correct_uniform(CorrectContext *ctx, const uint8_t *dark, const uint8_t *bright)
{
    if (!usable(ctx))
        return CORRECT_ERROR_CONTEXT;
    ctx->darkRef = dark;
    ctx->brightRef = bright;
    return 0;
}
