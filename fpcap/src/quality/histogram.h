/* Grey-level histograms and block contrasts used by the liveness test. */
#ifndef QXFPCAP_HISTOGRAM_H
#define QXFPCAP_HISTOGRAM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Histogram of the w x h region at (x, y) of an image of the given stride
 * (= width) and height; the region must lie inside the image (-3 else). */
int ComputeHistogram(const uint8_t *img, int stride, int height,
                     int x, int y, int w, int h, int hist[256]);
/* Sum(i * h[i]) / Sum(h[i]); -3 for an empty histogram (mean 0). */
int ComputeAverageFromHistogram(const int hist[256], float *mean);
/* Index of the highest bin at or above `from` (the first one on ties). */
int GetPeakFromHistogramWithFilter(const int hist[256], int from, int *peak);
/* (Sum(ref * cur) >> 8) / w / h. */
int ComputeImageContrast(const uint8_t *ref, const uint8_t *cur, int w, int h, float *c);
/* As above, weighted by d = cur - other / coef where d >= 0; other pixels
 * do not contribute. */
int ComputeImageContrastEx(const uint8_t *ref, const uint8_t *cur, const uint8_t *other,
                           int w, int h, float *c, float coef);

#ifdef __cplusplus
}
#endif

#endif
