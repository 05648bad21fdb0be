/* Helpers shared by the correction sources; not part of the module's API. */
#ifndef QXFPCAP_CORRECT_INTERNAL_H
#define QXFPCAP_CORRECT_INTERNAL_H

#include "correct/correct.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Raw input layout: the origin window alone, or a larger frame holding it. */
typedef struct CorrectInput {
    int stride, rows;   /* buffer width and height */
    int shiftX, shiftY; /* origin window position inside the buffer */
} CorrectInput;

void correct_input_layout(const CorrectContext *ctx, CorrectInput *in);
void correct_release_tables(CorrectContext *ctx);
/* Output window of correct_image: position in the map and size. */
int correct_output_window(const CorrectContext *ctx, int *x, int *y, int *w, int *h, int *stride);
/* Flat-field, corner block, tone table and pre-filter on the raw input. */
int correct_prepare_input(CorrectContext *ctx, uint8_t *raw, int brightOffset, int rgbFilters);

#ifdef __cplusplus
}
#endif

#endif
