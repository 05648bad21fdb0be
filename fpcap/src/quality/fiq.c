/* Quality scores: deviation along short lines around the stripe reference
 * point, and patch deviations taken through the correction map. */
#include <math.h>
#include <stddef.h>

#include "quality/fiq.h"
#include "fpcap_error.h"

int ComputeFingerImageScore(const uint8_t *img, int width, int height,
                            int x, int y, int length, int horizontal, int maxDev)
{
    if (img == NULL || x < 0 || y < 0 || length <= 0)
        return 0;
    x &= ~1;
    y &= ~1;
    length &= ~1;
    if (horizontal) {
        if (length > width - x || y >= height)
            return 0;
    } else if (length > height - y || x >= width) {
        return 0;
    }
    const int count = length / 2;
    if (count < 2)
        return 0;
    const size_t step = horizontal ? 2 : (size_t)width * 2;
    const uint8_t *p = img + (size_t)y * width + x;
    int sum = 0;
    for (int i = 0; i < count; ++i)
        sum += p[i * step];
    const int mean = sum / count;
    int sq = 0;
    for (int i = 0; i < count; ++i) {
        const int d = p[i * step] - mean;
        sq += d * d;
    }
    const float dev = sqrtf((float)sq / (float)(count - 1));
    const int score = (int)dev;
    return score < maxDev ? score : maxDev;
}

static int score_lines(const AntiFakeContext *ctx, const AntiFakeLine *lines,
                       const uint8_t *raw, int width, int height)
{
    int sum = 0;
    for (int i = 0; i < 4; ++i)
        sum += ComputeFingerImageScore(raw, width, height, ctx->refX + lines[i].dx,
                                       ctx->refY + lines[i].dy, lines[i].length,
                                       lines[i].horizontal, Max_Dev);
    return sum;
}

int ComputeMainFIQ(const AntiFakeContext *ctx, const uint8_t *raw, int width, int height)
{
    if (ctx == NULL || ctx->magic != ANTIFAKE_MAGIC || raw == NULL || width <= 0 || height <= 0)
        return 0;
    const int inner = score_lines(ctx, ctx->innerLines, raw, width, height);
    const int outer = score_lines(ctx, ctx->outerLines, raw, width, height);
    const int total = (int)(inner * Coef_Inner) + (int)(outer * Coef_Outer);
    return total > 8 * Max_Dev ? 8 * Max_Dev : total;
}

int ComputeArrayStd(const uint8_t *data, int n, float *std)
{
    if (data == NULL || std == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    if (n < 2) {
        *std = 0.0f;
        return CORRECT_ERROR_INVALID;
    }
    long long sum = 0;
    for (int i = 0; i < n; ++i)
        sum += data[i];
    const int mean = (int)(sum / n);
    long long sq = 0;
    for (int i = 0; i < n; ++i) {
        const int d = data[i] - mean;
        sq += d * d;
    }
    *std = sqrtf((float)sq / (float)(n - 1));
    return 0;
}

enum {
    PATCH_LONG = 40,
    PATCH_SHORT = 20,
    PATCH_SAMPLES = PATCH_LONG * PATCH_SHORT,
    PATCH_MIN_SHORT = 4 /* fewer rows than this say nothing about texture */
};

/* Reads a cols x rows patch at (x, y) in target coordinates from the raw frame. */
static int read_patch(const CorrectContext *correction, const uint8_t *raw, int originW,
                      int originH, int x, int y, int cols, int rows, uint8_t *samples)
{
    int n = 0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            int rx, ry;
            if (correct_get_ori_offset(correction, x + c, y + r, &rx, &ry) != 0)
                return CORRECT_ERROR_INVALID;
            if (rx < 0 || ry < 0 || rx >= originW || ry >= originH)
                return CORRECT_ERROR_INVALID;
            samples[n++] = raw[(size_t)ry * originW + rx];
        }
    }
    return 0;
}

/* Four patches (left, right, top, bottom) of long x short samples, long
 * running across the image for the side patches and down it for the others. */
static int measure_patches(const CorrectContext *correction, const uint8_t *raw, int originW,
                           int originH, int targetW, int targetH, int longSide, int shortSide,
                           int out[4])
{
    const int halfLong = longSide / 2, halfShort = shortSide / 2;
    const int px[4] = {targetW / 4 - halfLong, (targetW / 4) * 3 - halfLong,
                       targetW / 2 - halfShort, targetW / 2 - halfShort};
    const int py[4] = {targetH / 2 - halfShort, targetH / 2 - halfShort,
                       targetH / 4 - halfLong, (targetH / 4) * 3 - halfLong};
    const int cols[4] = {longSide, longSide, shortSide, shortSide};
    const int rows[4] = {shortSide, shortSide, longSide, longSide};
    uint8_t samples[PATCH_SAMPLES];
    const int n = longSide * shortSide;
    int total = 0;
    for (int i = 0; i < 4; ++i)
        out[i] = 0;
    for (int i = 0; i < 4; ++i) {
        if (read_patch(correction, raw, originW, originH, px[i], py[i], cols[i], rows[i],
                       samples) != 0) {
            for (int j = 0; j < 4; ++j)
                out[j] = 0;
            return CORRECT_ERROR_INVALID;
        }
        float dev = 0.0f;
        ComputeArrayStd(samples, n, &dev);
        out[i] = (int)dev;
        total += out[i];
    }
    return total;
}

int ComputeMainFIQEx(const CorrectContext *correction, const uint8_t *raw,
                     int originW, int originH, int targetW, int targetH, int out[4])
{
    if (correction == NULL || correction->valid != 1)
        return CORRECT_ERROR_CONTEXT;
    if (raw == NULL || out == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    return measure_patches(correction, raw, originW, originH, targetW, targetH, PATCH_LONG,
                           PATCH_SHORT, out);
}

int PatchDeviationsFit(int targetW, int targetH)
{
    const int side = targetW < targetH ? targetW : targetH;
    return PATCH_SHORT * side / (2 * PATCH_LONG) >= PATCH_MIN_SHORT;
}

int ComputePatchDeviations(const CorrectContext *correction, const uint8_t *raw,
                           int originW, int originH, int targetW, int targetH, int out[4])
{
    if (correction == NULL || correction->valid != 1)
        return CORRECT_ERROR_CONTEXT;
    if (raw == NULL || out == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    const int fullSize = 2 * PATCH_LONG; /* the patches fit from 80 x 80 up */
    if (targetW >= fullSize && targetH >= fullSize)
        return ComputeMainFIQEx(correction, raw, originW, originH, targetW, targetH, out);
    /* Smaller images: the same layout shrunk with the image's shorter side. */
    const int side = targetW < targetH ? targetW : targetH;
    const int longSide = PATCH_LONG * side / fullSize;
    const int shortSide = PATCH_SHORT * side / fullSize;
    for (int i = 0; i < 4; ++i)
        out[i] = 0;
    if (!PatchDeviationsFit(targetW, targetH))
        return CORRECT_ERROR_INVALID;
    return measure_patches(correction, raw, originW, originH, targetW, targetH, longSide,
                           shortSide, out);
}
