/* Liveness context: reference point, measuring lines, the three test blocks
 * with their correction contexts, and the verdict. */
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "quality/antifake.h"
#include "fpcap_error.h"
#include "quality/histogram.h"

static const AntiFakeLine Vector_Inner_Row_1 = {-140, 0, 135, 1};
static const AntiFakeLine Vector_Inner_Row_2 = {115, 110, 115, 1};
static const AntiFakeLine Vector_Inner_Col_1 = {60, -75, 85, 0};
static const AntiFakeLine Vector_Inner_Col_2 = {60, 95, 85, 0};
static const AntiFakeLine Vector_Outer_Row_1 = {-295, -75, 155, 1};
static const AntiFakeLine Vector_Outer_Row_2 = {235, 180, 110, 1};
static const AntiFakeLine Vector_Outer_Col_1 = {60, -140, 70, 0};
static const AntiFakeLine Vector_Outer_Col_2 = {60, 180, 70, 0};

static int valid_context(const AntiFakeContext *ctx)
{
    return ctx != NULL && ctx->magic == ANTIFAKE_MAGIC;
}

static int reference_coordinate(int v, int fallback)
{
    return v < ANTIFAKE_REF_MIN || v > ANTIFAKE_REF_MAX ? fallback : v;
}

void ComputeRotatingCoordinate(int x, int y, int w, int h, double angleDeg, int corners[8])
{
    const double theta = -angleDeg * 3.14159265358979323846 / 180.0;
    const double c = cos(theta), s = sin(theta);
    corners[0] = x;
    corners[1] = y;
    corners[2] = x + (int)(w * c);
    corners[3] = y + (int)(-w * s);
    corners[4] = x + (int)(h * s);
    corners[5] = y + (int)(h * c);
    corners[6] = x + (int)(w * c + h * s);
    corners[7] = y + (int)(h * c - w * s);
}

static int configure_block(AntiFakeBlock *block)
{
    const int *g = block->corners;
    if (correct_init(&block->correction) != 0)
        return CORRECT_ERROR_NO_MEMORY;
    CorrectContext *cc = block->correction;
    correct_quality(cc, CORRECT_NEAREST);
    correct_size_origin(cc, ANTIFAKE_FRAME_W, ANTIFAKE_FRAME_H);
    /* A reference point near the frame edge can put a corner outside; the
     * grid is then refused and the block samples background, so the test
     * simply fails rather than reading outside the frame. */
    correct_grid(cc, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
    const int rc = correct_size_target(cc, block->w, block->h);
    return rc == -2 ? CORRECT_ERROR_NO_MEMORY : 0;
}

static void place_block(AntiFakeBlock *block, int refX, int refY, int dx, int dy, int w, int h)
{
    block->x = refX + dx;
    block->y = refY + dy;
    block->w = w;
    block->h = h;
    ComputeRotatingCoordinate(block->x, block->y, w, h, Fake_Block_Angle, block->corners);
}

AntiFakeContext *AntiFake_Init(int refX, int refY)
{
    AntiFakeContext *ctx = (AntiFakeContext *)calloc(1, sizeof(AntiFakeContext));
    if (ctx == NULL)
        return NULL;
    ctx->magic = ANTIFAKE_MAGIC;
    ctx->refX = reference_coordinate(refX, ANTIFAKE_REF_DEFAULT_X);
    ctx->refY = reference_coordinate(refY, ANTIFAKE_REF_DEFAULT_Y);
    ctx->innerLines[0] = Vector_Inner_Row_1;
    ctx->innerLines[1] = Vector_Inner_Row_2;
    ctx->innerLines[2] = Vector_Inner_Col_1;
    ctx->innerLines[3] = Vector_Inner_Col_2;
    ctx->outerLines[0] = Vector_Outer_Row_1;
    ctx->outerLines[1] = Vector_Outer_Row_2;
    ctx->outerLines[2] = Vector_Outer_Col_1;
    ctx->outerLines[3] = Vector_Outer_Col_2;
    place_block(&ctx->blocks[ANTIFAKE_BLOCK_A], ctx->refX, ctx->refY, Fake_Block_A_Offset_X,
                Fake_Block_A_Offset_Y, Fake_Block_A_Size_W, Fake_Block_A_Size_H);
    place_block(&ctx->blocks[ANTIFAKE_BLOCK_B], ctx->refX, ctx->refY, Fake_Block_B_Offset_X,
                Fake_Block_B_Offset_Y, Fake_Block_B_Size_W, Fake_Block_B_Size_H);
    place_block(&ctx->blocks[ANTIFAKE_BLOCK_C], ctx->refX, ctx->refY, Fake_Block_C_Offset_X,
                Fake_Block_C_Offset_Y, Fake_Block_C_Size_W, Fake_Block_C_Size_H);
    int ok = 1;
    for (int k = 0; k < ANTIFAKE_BLOCKS && ok; ++k) {
        ok = configure_block(&ctx->blocks[k]) == 0;
        ctx->refImage[k] = (uint8_t *)calloc(1, ANTIFAKE_BUFFER_SIZE);
        ok = ok && ctx->refImage[k] != NULL;
    }
    for (int p = 0; p < 3 && ok; ++p) {
        ctx->plane[p] = (uint8_t *)calloc(1, ANTIFAKE_BUFFER_SIZE);
        ok = ctx->plane[p] != NULL;
    }
    if (!ok) {
        AntiFake_Free(ctx);
        return NULL;
    }
    LoadParameter(ctx, 0);
    return ctx;
}

void AntiFake_Free(AntiFakeContext *ctx)
{
    if (!valid_context(ctx))
        return;
    for (int k = 0; k < ANTIFAKE_BLOCKS; ++k) {
        if (ctx->blocks[k].correction)
            correct_free(ctx->blocks[k].correction);
        free(ctx->refImage[k]);
    }
    for (int p = 0; p < 3; ++p)
        free(ctx->plane[p]);
    ctx->magic = 0;
    free(ctx);
}

int LoadParameter(AntiFakeContext *ctx, int level)
{
    static const float D1[3] = {Fake_Ratio_D1_Level_1, Fake_Ratio_D1_Level_2, Fake_Ratio_D1_Level_3};
    static const float D2[3] = {Fake_Ratio_D2_Level_1, Fake_Ratio_D2_Level_2, Fake_Ratio_D2_Level_3};
    static const float D3[3] = {Fake_Ratio_D3_Level_1, Fake_Ratio_D3_Level_2, Fake_Ratio_D3_Level_3};
    static const float D4[3] = {Fake_Ratio_D4_Level_1, Fake_Ratio_D4_Level_2, Fake_Ratio_D4_Level_3};
    static const float C1[3] = {Fake_Ratio_C1_Level_1, Fake_Ratio_C1_Level_2, Fake_Ratio_C1_Level_3};
    static const float C2[3] = {Fake_Ratio_C2_Level_1, Fake_Ratio_C2_Level_2, Fake_Ratio_C2_Level_3};
    static const int R1[3] = {Fake_Ratio_R1_Level_1, Fake_Ratio_R1_Level_2, Fake_Ratio_R1_Level_3};
    if (!valid_context(ctx))
        return CORRECT_ERROR_CONTEXT;
    if (level < 0 || level > 2)
        return CORRECT_ERROR_INVALID;
    ctx->D1 = D1[level];
    ctx->D2 = D2[level];
    ctx->D3 = D3[level];
    ctx->D4 = D4[level];
    ctx->C1 = C1[level];
    ctx->C2 = C2[level];
    ctx->R1 = R1[level];
    return 0;
}

static float plane_mean(const uint8_t *plane, int w, int h, int hist[256])
{
    float mean = 0.0f;
    if (ComputeHistogram(plane, w, h, 0, 0, w, h, hist) == 0)
        ComputeAverageFromHistogram(hist, &mean);
    return mean;
}

static void keep_reference(AntiFakeContext *ctx, int k)
{
    AntiFakeBlock *b = &ctx->blocks[k];
    int hist[256];
    memcpy(ctx->refImage[k], ctx->plane[2], (size_t)b->w * b->h);
    b->refMean3 = plane_mean(ctx->plane[2], b->w, b->h, hist);
    GetPeakFromHistogramWithFilter(hist, Fake_Block_Filter, &b->refPeak);
    b->refMean1 = plane_mean(ctx->plane[0], b->w, b->h, hist);
}

static void measure_test(AntiFakeContext *ctx, int k)
{
    AntiFakeBlock *b = &ctx->blocks[k];
    int hist[256];
    b->curMean3 = plane_mean(ctx->plane[2], b->w, b->h, hist);
    b->curMean1 = plane_mean(ctx->plane[0], b->w, b->h, hist);
    if (k == ANTIFAKE_BLOCK_C)
        ComputeImageContrastEx(ctx->refImage[k], ctx->plane[2], ctx->plane[0], b->w, b->h,
                               &b->contrast, (float)Fake_Coef_D1);
    else
        ComputeImageContrast(ctx->refImage[k], ctx->plane[2], b->w, b->h, &b->contrast);
    /* Kept for diagnosis only; the verdict uses the contrasts. */
    b->ratioMean3 = b->refMean3 > 0.0f ? b->curMean3 / b->refMean3 : 0.0f;
    b->ratioMean1 = b->refMean1 > 0.0f ? b->curMean1 / b->refMean1 : 0.0f;
}

int AntiFake_SetImage(AntiFakeContext *ctx, uint8_t *raw, int width, int height, int mode)
{
    if (!valid_context(ctx) || raw == NULL || width != ANTIFAKE_FRAME_W ||
        height != ANTIFAKE_FRAME_H || (mode != 0 && mode != 1))
        return 0;
    for (int k = 0; k < ANTIFAKE_BLOCKS; ++k) {
        if (correct_image_to_rgb(ctx->blocks[k].correction, raw, ctx->plane[0], ctx->plane[1],
                                 ctx->plane[2]) != 0)
            return 0;
        if (mode == 1)
            keep_reference(ctx, k);
        else
            measure_test(ctx, k);
    }
    if (mode == 1)
        ctx->hasReference = 1;
    return 1;
}

int AntiFake_GetStatus(AntiFakeContext *ctx, uint32_t *status, int level)
{
    if (status == NULL)
        return 0;
    *status = 0;
    if (!valid_context(ctx) || LoadParameter(ctx, level) != 0)
        return 0;
    const float cA = ctx->blocks[ANTIFAKE_BLOCK_A].contrast;
    const float cB = ctx->blocks[ANTIFAKE_BLOCK_B].contrast;
    const float cC = ctx->blocks[ANTIFAKE_BLOCK_C].contrast;
    uint32_t bits = 0xFFFFFFFFu;
    /* Without any signal in block A neither ratio means anything: both fail. */
    const int haveA = cA > 0.0f;
    if (!(haveA && cC / cA <= ctx->D1))
        bits &= ~(1u << 4);
    if (!(haveA && cB / cA >= ctx->D2 && cB / cA <= ctx->D4))
        bits &= ~(1u << 3);
    *status = bits;
    return 1;
}
