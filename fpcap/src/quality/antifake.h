/*
 * Liveness test: a frame under the normal light (reference, mode 1) and one
 * under the anti-fake light (test, mode 0) are compared in three blocks
 * A, B, C beside the stripe reference point, each resampled from the raw
 * Bayer mosaic into three planes (see correct_image_to_rgb).
 *
 * Per block: cX = (Sum(ref3 * cur3) >> 8) / w / h, where ref3 is plane 3 of
 * the reference frame and cur3 plane 3 of the test frame; block C uses
 * cur3 - cur1 / 6 (only where that is >= 0) in place of cur3.
 * Verdict bits (start from all set): bit 4 cleared unless cC / cA <= D1,
 * bit 3 cleared unless D2 <= cB / cA <= D4. So -1 = live, -17 first test
 * failed, -9 second failed, -25 both.
 */
#ifndef QXFPCAP_ANTIFAKE_H
#define QXFPCAP_ANTIFAKE_H

#include <stdint.h>

#include "correct/correct.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ANTIFAKE_MAGIC 0x12121212u
#define ANTIFAKE_FRAME_W 1600
#define ANTIFAKE_FRAME_H 1200
#define ANTIFAKE_BUFFER_SIZE 160000

/* Stripe reference point fallback when the EEPROM value is out of range. */
#define ANTIFAKE_REF_MIN 300
#define ANTIFAKE_REF_MAX 1200
#define ANTIFAKE_REF_DEFAULT_X 674
#define ANTIFAKE_REF_DEFAULT_Y 468

#define Max_Dev 50
#define Coef_Inner 1.0
#define Coef_Outer 1.0

#define Fake_Block_Angle 10.0
#define Fake_Block_A_Offset_X 16
#define Fake_Block_A_Offset_Y (-75)
#define Fake_Block_A_Size_W 100
#define Fake_Block_A_Size_H 75
#define Fake_Block_B_Offset_X 16
#define Fake_Block_B_Offset_Y 20
#define Fake_Block_B_Size_W 100
#define Fake_Block_B_Size_H 50
#define Fake_Block_C_Offset_X 16
#define Fake_Block_C_Offset_Y 90
#define Fake_Block_C_Size_W 100
#define Fake_Block_C_Size_H 75
#define Fake_Block_Filter 80
#define Fake_Block_Ratio 55

#define Fake_Coef_D1 6.0
#define Fake_Coef_D3 6.0

#define Fake_Ratio_D1_Level_1 0.14
#define Fake_Ratio_D1_Level_2 0.14
#define Fake_Ratio_D1_Level_3 0.14
#define Fake_Ratio_D2_Level_1 0.08
#define Fake_Ratio_D2_Level_2 0.08
#define Fake_Ratio_D2_Level_3 0.08
#define Fake_Ratio_D3_Level_1 15.0
#define Fake_Ratio_D3_Level_2 15.0
#define Fake_Ratio_D3_Level_3 15.0
#define Fake_Ratio_D4_Level_1 10.0
#define Fake_Ratio_D4_Level_2 10.0
#define Fake_Ratio_D4_Level_3 10.0
#define Fake_Ratio_C1_Level_1 0.75
#define Fake_Ratio_C1_Level_2 0.85
#define Fake_Ratio_C1_Level_3 0.9
#define Fake_Ratio_C2_Level_1 4.0
#define Fake_Ratio_C2_Level_2 3.8
#define Fake_Ratio_C2_Level_3 3.5
#define Fake_Ratio_R1_Level_1 0
#define Fake_Ratio_R1_Level_2 1
#define Fake_Ratio_R1_Level_3 2

enum { ANTIFAKE_BLOCK_A = 0, ANTIFAKE_BLOCK_B = 1, ANTIFAKE_BLOCK_C = 2, ANTIFAKE_BLOCKS = 3 };

/* A measuring line: start relative to the reference point, length, direction. */
typedef struct AntiFakeLine {
    int dx, dy;
    int length;
    int horizontal;
} AntiFakeLine;

typedef struct AntiFakeBlock {
    int x, y, w, h;              /* unrotated rectangle in raw coordinates */
    int corners[8];              /* rotated corners, grid order TL TR BL BR */
    CorrectContext *correction;  /* nearest, origin 1600 x 1200 */
    int refPeak;                 /* plane-3 histogram peak of the reference */
    float refMean3, refMean1;    /* reference plane-3 / plane-1 means */
    float curMean3, curMean1;    /* test plane means */
    float contrast;              /* cA, cB, cC */
    float ratioMean3, ratioMean1; /* test / reference plane means */
} AntiFakeBlock;

typedef struct AntiFakeContext {
    uint32_t magic;
    int refX, refY;
    AntiFakeLine innerLines[4];
    AntiFakeLine outerLines[4];
    AntiFakeBlock blocks[ANTIFAKE_BLOCKS];
    uint8_t *refImage[ANTIFAKE_BLOCKS]; /* plane 3 of the reference frame */
    uint8_t *plane[3];                  /* work planes 1..3 */
    int hasReference;
    float D1, D2, D3, D4, C1, C2;
    int R1;
} AntiFakeContext;

AntiFakeContext *AntiFake_Init(int refX, int refY);
/* mode 1: reference frame, mode 0: test frame. 1 accepted, 0 refused.
 * The block contexts use no flat-field, tone or filter, so raw is read only. */
int AntiFake_SetImage(AntiFakeContext *ctx, uint8_t *raw, int width, int height, int mode);
/* 1 with the verdict bits in *status, or 0 with *status = 0 (bad context or
 * level outside 0..2). */
int AntiFake_GetStatus(AntiFakeContext *ctx, uint32_t *status, int level);
void AntiFake_Free(AntiFakeContext *ctx);

/* Thresholds of a level 0..2 into the context; -3 for other levels. */
int LoadParameter(AntiFakeContext *ctx, int level);

/* Corners (TL, TR, BL, BR as x, y pairs) of the rectangle (x, y, w, h)
 * rotated by -angleDeg degrees about (x, y). */
void ComputeRotatingCoordinate(int x, int y, int w, int h, double angleDeg, int corners[8]);

#ifdef __cplusplus
}
#endif

#endif
