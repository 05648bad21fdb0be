#include "bytereader.h"
#include "qxident.h"

#include <string.h>

void qx_reader_init(qx_reader* r, const void* data, size_t size)
{
    r->data = (const unsigned char*)data;
    r->size = data ? size : 0;
    r->pos = 0;
    r->failed = 0;
}

size_t qx_reader_left(const qx_reader* r) { return r->failed ? 0 : r->size - r->pos; }

int qx_read_span(qx_reader* r, size_t n, const unsigned char** out)
{
    if (r->failed || n > r->size - r->pos) {
        r->failed = 1;
        return QXID_EFRAME;
    }
    if (out)
        *out = r->data + r->pos;
    r->pos += n;
    return 0;
}

int qx_skip(qx_reader* r, size_t n) { return qx_read_span(r, n, NULL); }

static int read_be(qx_reader* r, size_t n, unsigned* out)
{
    const unsigned char* p;
    if (qx_read_span(r, n, &p) != 0)
        return QXID_EFRAME;
    unsigned v = 0;
    for (size_t i = 0; i < n; i++)
        v = (v << 8) | p[i];
    *out = v;
    return 0;
}

int qx_read_u8(qx_reader* r, unsigned* out) { return read_be(r, 1, out); }
int qx_read_be16(qx_reader* r, unsigned* out) { return read_be(r, 2, out); }
int qx_read_be24(qx_reader* r, unsigned* out) { return read_be(r, 3, out); }

int qx_read_le32(qx_reader* r, uint32_t* out)
{
    const unsigned char* p;
    if (qx_read_span(r, 4, &p) != 0)
        return QXID_EFRAME;
    *out = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    return 0;
}

int qx_read_copy(qx_reader* r, size_t n, void* dst, size_t cap)
{
    const unsigned char* p;
    if (n > cap || qx_read_span(r, n, &p) != 0)
        return QXID_EFRAME;
    if (dst && n)
        memcpy(dst, p, n);
    return 0;
}
