/* Histogram and contrast helpers of the liveness test. */
#include <stddef.h>
#include <string.h>

#include "quality/histogram.h"

int ComputeHistogram(const uint8_t *img, int stride, int height,
                     int x, int y, int w, int h, int hist[256])
{
    if (img == NULL || hist == NULL)
        return -4;
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || stride <= 0 || x > stride - w || y > height - h)
        return -3;
    memset(hist, 0, sizeof(int) * 256);
    for (int r = 0; r < h; ++r) {
        const uint8_t *p = img + (size_t)(y + r) * stride + x;
        for (int c = 0; c < w; ++c)
            ++hist[p[c]];
    }
    return 0;
}

int ComputeAverageFromHistogram(const int hist[256], float *mean)
{
    if (hist == NULL || mean == NULL)
        return -4;
    long long weighted = 0, total = 0;
    for (int i = 0; i < 256; ++i) {
        weighted += (long long)i * hist[i];
        total += hist[i];
    }
    if (total <= 0) {
        *mean = 0.0f;
        return -3;
    }
    *mean = (float)((double)weighted / (double)total);
    return 0;
}

int GetPeakFromHistogramWithFilter(const int hist[256], int from, int *peak)
{
    if (hist == NULL || peak == NULL)
        return -4;
    if (from < 0 || from > 255)
        return -3;
    int best = from;
    for (int i = from + 1; i < 256; ++i)
        if (hist[i] > hist[best])
            best = i;
    *peak = best;
    return 0;
}

int ComputeImageContrast(const uint8_t *ref, const uint8_t *cur, int w, int h, float *c)
{
    if (ref == NULL || cur == NULL || c == NULL)
        return -4;
    if (w <= 0 || h <= 0)
        return -3;
    long long sum = 0;
    const int n = w * h;
    for (int i = 0; i < n; ++i)
        sum += ref[i] * cur[i];
    *c = (float)((double)(sum >> 8) / w / h);
    return 0;
}

int ComputeImageContrastEx(const uint8_t *ref, const uint8_t *cur, const uint8_t *other,
                           int w, int h, float *c, float coef)
{
    if (ref == NULL || cur == NULL || other == NULL || c == NULL)
        return -4;
    if (w <= 0 || h <= 0 || !(coef > 0.0f))
        return -3;
    double sum = 0.0;
    const int n = w * h;
    for (int i = 0; i < n; ++i) {
        const float d = (float)cur[i] - (float)other[i] / coef;
        if (d >= 0.0f)
            sum += ref[i] * (double)d;
    }
    *c = (float)((double)((long long)sum >> 8) / w / h);
    return 0;
}
