/* Image quality scores of raw frames. */
#ifndef QXFPCAP_FIQ_H
#define QXFPCAP_FIQ_H

#include <stdint.h>

#include "correct/correct.h"
#include "quality/antifake.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Threshold of the capture quality gate. */
#define FIQ_ACCEPT 100

/* Deviation of every second pixel along a line, 0..maxDev; 0 for a line
 * that leaves the image. */
int ComputeFingerImageScore(const uint8_t *img, int width, int height,
                            int x, int y, int length, int horizontal, int maxDev);
/* Sum of the eight line scores around the context's reference point,
 * 0..400; 0 without a valid context or image. */
int ComputeMainFIQ(const AntiFakeContext *ctx, const uint8_t *raw, int width, int height);
/* Four 800-sample patch deviations (left, right, top, bottom) read from the
 * raw frame through the correction map; returns their sum, -1 without a
 * usable correction context, -3 when the patches do not fit the target or
 * the raw frame, -4 for missing buffers. */
int ComputeMainFIQEx(const CorrectContext *correction, const uint8_t *raw,
                     int originW, int originH, int targetW, int targetH, int out[4]);
/* The same four deviations for any image size: as ComputeMainFIQEx from
 * 80 x 80 up, below that on patches shrunk with the image (down to 8 x 4
 * samples). -3 when the image is too small to judge or a patch leaves the
 * raw frame, -1 / -4 as above. */
int ComputePatchDeviations(const CorrectContext *correction, const uint8_t *raw,
                           int originW, int originH, int targetW, int targetH, int out[4]);
/* Whether an image of this size is large enough for the patch deviations
 * (from 16 pixels on its shorter side). */
int PatchDeviationsFit(int targetW, int targetH);
/* Sample standard deviation with the mean truncated to an integer. */
int ComputeArrayStd(const uint8_t *data, int n, float *std);

#ifdef __cplusplus
}
#endif

#endif
