/*
 * Geometry correction of raw sensor frames.
 *
 * The camera sees the finger window as a distorted quadrilateral inside a
 * larger 8-bit frame. A per-pixel map (target pixel -> raw offset plus
 * sub-pixel fractions) is rebuilt whenever a parameter changes; each frame is
 * then resampled through it with nearest, bilinear or bicubic sampling.
 *
 * Results (correct_error in fpcap_error.h): 0 success, -1 missing/invalid
 * context, -2 out of memory, -3 invalid parameter (or nothing to build yet),
 * -4 missing buffer.
 */
#ifndef QXFPCAP_CORRECT_H
#define QXFPCAP_CORRECT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    CORRECT_NEAREST = 0,
    CORRECT_BILINEAR = 1,
    CORRECT_BICUBIC = 2
};

/* Value written into the 5 x 5 top-left block of the input; unmapped output
 * pixels sample it, so they come out as this background grey. */
#define CORRECT_BACKGROUND 10
#define CORRECT_CUBIC_TABLE_SIZE 65536

typedef struct CorrectContext {
    uint32_t valid;
    int qualityType;
    int linear;
    int frameX, frameY, frameW, frameH;
    int originW, originH;
    int grid[8]; /* x0 y0 x1 y1 x2 y2 x3 y3: TL, TR, BL, BR */
    int targetW, targetH;
    int cutX, cutY, cutW, cutH;
    int leftAngle, rightAngle, topAngle, bottomAngle;
    int arc[4];
    int uniform, filterMode, invert, swap, flipA, flipB;
    uint8_t *toneTable;          /* 256 entries */
    const uint8_t *darkRef;      /* not owned */
    const uint8_t *brightRef;    /* not owned */
    int32_t *offsetMap;          /* targetW * targetH entries */
    uint8_t *fracX, *fracY;      /* fractions * 256 */
    int32_t *cubicTable;         /* CORRECT_CUBIC_TABLE_SIZE entries */
    /* Geometry the current map was built for (0 when there is none). */
    int mapW, mapH;              /* target size of the map */
    int inStride, inRows;        /* raw buffer the offsets index */
    uint8_t *scratch;            /* copy of the input for the pre-filters */
    int scratchSize;
} CorrectContext;

int correct_init(CorrectContext **ctx);
int correct_free(CorrectContext *ctx);

int correct_quality(CorrectContext *ctx, int type);
int correct_linear(CorrectContext *ctx, int v);
int correct_perspective(CorrectContext *ctx, int left, int top, int right, int bottom);
int correct_arc(CorrectContext *ctx, int a, int b, int c, int d);
int correct_cut_in(CorrectContext *ctx, int x, int y, int w, int h);
int correct_size_origin(CorrectContext *ctx, int w, int h);
int correct_grid(CorrectContext *ctx, int x0, int y0, int x1, int y1,
                 int x2, int y2, int x3, int y3);
int correct_size_target(CorrectContext *ctx, int w, int h);
int correct_cut_out(CorrectContext *ctx, int x, int y, int w, int h);
int correct_option(CorrectContext *ctx, int uniform, int filterMode, int invert,
                   int swap, int flipA, int flipB);
/* Flat-field references; each must cover the whole input (correct_input_size). */
int correct_uniform(CorrectContext *ctx, const uint8_t *dark, const uint8_t *bright);

/* Size in bytes of the raw input correct_image expects (originW x originH,
 * or the frame size when the origin window lies in a larger frame), and of
 * the output window it writes. Both 0 while no map is built. */
int correct_input_size(const CorrectContext *ctx);
int correct_output_size(const CorrectContext *ctx, int *w, int *h);

/* raw is modified in place (corner block, flat-field, tone, pre-filter). */
int correct_image(CorrectContext *ctx, uint8_t *raw, uint8_t *out);
int correct_image_to_rgb(CorrectContext *ctx, uint8_t *raw,
                         uint8_t *plane1, uint8_t *plane2, uint8_t *plane3);

/* Raw column/row sampled for output pixel (x, y) of the output window. */
int correct_get_ori_offset(const CorrectContext *ctx, int x, int y, int *rx, int *ry);

/* Rebuilds the map from the current parameters (setters call it). */
int correct_update(CorrectContext *ctx);

#ifdef __cplusplus
}
#endif

#endif
