/* Three-plane variant on the raw Bayer mosaic: each output pixel reads the
 * even-aligned 2 x 2 cell at its map offset. */
#include <stddef.h>

#include "correct/correct.h"
#include "fpcap_error.h"
#include "correct/correct_internal.h"

int correct_image_to_rgb(CorrectContext *ctx, uint8_t *raw,
                         uint8_t *plane1, uint8_t *plane2, uint8_t *plane3)
{
    if (ctx == NULL || ctx->valid != 1)
        return CORRECT_ERROR_CONTEXT;
    if (raw == NULL || plane1 == NULL || plane2 == NULL || plane3 == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    int wx, wy, ww, wh, stride;
    if (correct_output_window(ctx, &wx, &wy, &ww, &wh, &stride) != 0)
        return CORRECT_ERROR_INVALID;
    const int rc = correct_prepare_input(ctx, raw, CORRECT_BACKGROUND, 1);
    if (rc != 0)
        return rc;
    if (ctx->qualityType != CORRECT_NEAREST)
        return 0;
    const int inW = ctx->inStride, inH = ctx->inRows;
    if (inW < 2 || inH < 2)
        return CORRECT_ERROR_INVALID;
    /* Last even cell origin that still has a full 2 x 2 cell. */
    const int maxCol = (inW - 2) & ~1, maxRow = (inH - 2) & ~1;
    const uint8_t inv = ctx->invert ? 0xFF : 0x00;
    for (int y = 0; y < wh; ++y) {
        const int32_t *map = ctx->offsetMap + (size_t)(wy + y) * stride + wx;
        const size_t o = (size_t)y * ww;
        for (int x = 0; x < ww; ++x) {
            int col = (map[x] % inW) & 0x7FE, row = (map[x] / inW) & 0x7FE;
            if (col > maxCol)
                col = maxCol;
            if (row > maxRow)
                row = maxRow;
            const uint8_t *cell = raw + (size_t)row * inW + col;
            plane1[o + x] = (uint8_t)(cell[1] ^ inv);
            plane2[o + x] = (uint8_t)(((cell[0] + cell[inW + 1]) >> 1) ^ inv);
            plane3[o + x] = (uint8_t)(cell[inW] ^ inv);
        }
    }
    return 0;
}
