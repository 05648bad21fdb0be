/* Histogram and contrast helpers of the liveness test. */
#include <stddef.h>
#include <string.h>

#include "quality/histogram.h"
#include "fpcap_error.h"

int ComputeHistogram(const uint8_t *img, int stride, int height,
                     int x, int y, int w, int h, int hist[256])
{
    if (img == NULL || hist == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || stride <= 0 || x > stride - w || y > height - h)
        return CORRECT_ERROR_INVALID;
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
        return CORRECT_ERROR_NO_BUFFER;
    long long weighted = 0, total = 0;
    for (int i = 0; i < 256; ++i) {
        weighted += (long long)i * hist[i];
        total += hist[i];
    }
    if (total <= 0) {
        *mean = 0.0f;
        return CORRECT_ERROR_INVALID;
    }
    *mean = (float)((double)weighted / (double)total);
    return 0;
}

int GetPeakFromHistogramWithFilter(const int hist[256], int from, int *peak)
{
    if (hist == NULL || peak == NULL)
        return CORRECT_ERROR_NO_BUFFER;
    if (from < 0 || from > 255)
        return CORRECT_ERROR_INVALID;
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
        return CORRECT_ERROR_NO_BUFFER;
    if (w <= 0 || h <= 0)
        return CORRECT_ERROR_INVALID;
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
        return CORRECT_ERROR_NO_BUFFER;
    if (w <= 0 || h <= 0 || !(coef > 0.0f))
        return CORRECT_ERROR_INVALID;
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
