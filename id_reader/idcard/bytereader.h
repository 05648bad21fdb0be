/*
 * Bounds-checked reader over bytes that came from a device. Every length or
 * field taken from a reply goes through it: a read past the end fails (and
 * sticks: once failed, every later read fails too) instead of reaching
 * memory that was never received.
 */
#ifndef QX_BYTEREADER_H
#define QX_BYTEREADER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    const unsigned char* data;
    size_t size;
    size_t pos;
    int failed;
} qx_reader;

void qx_reader_init(qx_reader* r, const void* data, size_t size);
size_t qx_reader_left(const qx_reader* r);
/* Each returns 0 on success, -1 (and leaves *out alone) past the end. */
int qx_read_u8(qx_reader* r, unsigned* out);
int qx_read_be16(qx_reader* r, unsigned* out);
int qx_read_be24(qx_reader* r, unsigned* out);
int qx_read_le32(qx_reader* r, uint32_t* out);
/* Points *out at the next n bytes and moves past them. */
int qx_read_span(qx_reader* r, size_t n, const unsigned char** out);
/* Copies the next n bytes into dst of capacity cap; fails when n > cap. */
int qx_read_copy(qx_reader* r, size_t n, void* dst, size_t cap);
int qx_skip(qx_reader* r, size_t n);

#ifdef __cplusplus
}
#endif

#endif
