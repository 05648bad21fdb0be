/*
 * libqxfp stand-in: fingerprint template extraction, enrolment, matching and
 * an in-memory template database, for development and tests on the sensor
 * simulator. A station with the vendor's algorithm library uses that one.
 *
 * Plain C interface. Templates are byte arrays of at most QXFP_MAX_TEMPLATE
 * bytes; images are 8-bit grey, width x height bytes, row-major, ridges dark.
 * Results: lengths, counts and scores are >= 0; failures are negative:
 *   -1 null or unknown handle
 *   -2 invalid argument (null buffer, size or id out of range, unknown code)
 *   -3 output buffer too small for the template
 *   -4 not a template of this library (bad header, length or checksum)
 *   -5 no usable fingerprint in the image (too few minutiae)
 *   -6 id already in the database
 *   -7 id not in the database
 *   -8 out of memory
 *   -9 the impressions given for one enrolment are not of one finger
 */
#ifndef QXFP_H
#define QXFP_H

#ifdef __cplusplus
extern "C" {
#endif

#define QXFP_MAX_TEMPLATE 2048
#define QXFP_THRESHOLD 50

/* VERIDO_SET_PARAMETER codes. */
#define QXFP_PARAM_THRESHOLD 1 /* acceptance score for identify, 1..100 (default 50) */

#define QXFP_ERR_HANDLE (-1)
#define QXFP_ERR_ARGUMENT (-2)
#define QXFP_ERR_CAPACITY (-3)
#define QXFP_ERR_TEMPLATE (-4)
#define QXFP_ERR_NO_FINGER (-5)
#define QXFP_ERR_DUPLICATE (-6)
#define QXFP_ERR_NOT_FOUND (-7)
#define QXFP_ERR_MEMORY (-8)
#define QXFP_ERR_MISMATCH (-9)

/* A handle for images of width x height (16..2048 each); the first and last
 * arguments are reserved (0). Null on invalid sizes. */
void *VERIDO_INIT_SIMPLE(int reserved, int width, int height, int flags);
/* Releases the handle and its database; 0, or -1 for an unknown handle. */
int VERIDO_CLOSE(void *handle);

/* Template of an image of the handle's size into a QXFP_MAX_TEMPLATE buffer;
 * returns its length. */
int VERIDO_EXTRACT(void *handle, unsigned char *image, unsigned char *templ, int flags);
/* Template of an image of any size (32..2048 pixels each side) into a buffer
 * of `capacity` bytes; -3 without writing when the template does not fit. */
int VERIDO_EXTRACT_GRAYSCALEDATA(void *handle, unsigned char *image, int width, int height,
                                 unsigned char *templ, int capacity, int flags);
/* Quality 0..100 of the image last extracted (0 before any extraction). */
int pVERIDO_GETLASTQUALITY(void *handle);

/* Enrolment template from `count` (1..3) impressions of one finger into a
 * QXFP_MAX_TEMPLATE buffer; returns its length, or -9 when an impression
 * does not match the ones before it. */
int VERIDO_GENTEMPLATE(void *handle, unsigned char **templates, int count, unsigned char *out);
/* Similarity 0..100 of two templates (either kind); 50 and above: same finger. */
int VERIDO_VERIFY(void *handle, unsigned char *a, unsigned char *b);
/* Length of a template, or -4 when the bytes are not one. */
int VERIDO_TEMPLATELEN(unsigned char *templ);

int VERIDO_DB_CLEAR(void *handle);
/* Adds a template under id (> 0); returns 1, or an error. */
int VERIDO_DB_ADD(void *handle, int id, int length, unsigned char *templ);
/* Removes id; returns 1, or -7 when it is not present. */
int VERIDO_DB_DEL(void *handle, int id);
int VERIDO_DB_COUNT(void *handle);
/* Best match of templ in the database: 1 with id and score when the score
 * reaches the threshold; 0 with id 0 and the best score otherwise. */
int VERIDO_IDENTIFYTEMP(void *handle, unsigned char *templ, int *id, int *score);

int VERIDO_SET_PARAMETER(void *handle, int code, int value);

#ifdef __cplusplus
}
#endif

#endif
