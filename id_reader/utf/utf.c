#include "utf.h"

#include <stdint.h>
#include <stdio.h>

#define REPLACEMENT 0xFFFDu

static int is_high(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
static int is_low(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

static uint32_t unit_at(const unsigned char* p, size_t i) { return (uint32_t)p[2 * i] | (uint32_t)p[2 * i + 1] << 8; }

static size_t utf8_length(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

static void utf8_encode(uint32_t cp, unsigned char* out, size_t n)
{
    static const unsigned char lead[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (size_t i = n - 1; i > 0; i--) {
        out[i] = (unsigned char)(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = (unsigned char)(lead[n] | cp);
}

/* Decodes the code point at unit *i. 0 ok; otherwise a ConversionResult. */
static ConversionResult next_code_point(const unsigned char* src, size_t units, size_t* i, uint32_t* cp,
                                        ConversionFlags flags)
{
    uint32_t u = unit_at(src, *i);
    if (is_high(u)) {
        if (*i + 1 >= units)
            return sourceExhausted;
        uint32_t next = unit_at(src, *i + 1);
        if (next == 0)
            return sourceExhausted;
        if (is_low(next)) {
            *cp = ((u - 0xD800) << 10) + (next - 0xDC00) + 0x10000;
            *i += 2;
            return conversionOK;
        }
        if (flags == strictConversion)
            return sourceIllegal;
    } else if (is_low(u) && flags == strictConversion) {
        return sourceIllegal;
    }
    *cp = u;
    *i += 1;
    return conversionOK;
}

ConversionResult Utf16_To_Utf8(const unsigned char* source, size_t sourceBytes, unsigned char* target,
                               size_t targetSize, size_t* written, ConversionFlags flags)
{
    if (written)
        *written = 0;
    if (!source || !target) {
        printf("ERR, Utf16_To_Utf8: source=%p, targetStart=%p\n", (const void*)source, (void*)target);
        return conversionFailed;
    }
    size_t units = sourceBytes / 2, i = 0, out = 0;
    ConversionResult result = conversionOK;
    while (i < units && unit_at(source, i) != 0) {
        uint32_t cp;
        result = next_code_point(source, units, &i, &cp, flags);
        if (result != conversionOK)
            break;
        if (cp > 0x10FFFF)
            cp = REPLACEMENT;
        size_t n = utf8_length(cp);
        if (n > targetSize - out) {
            printf("=======================>>>");
            result = targetExhausted;
            break;
        }
        utf8_encode(cp, target + out, n);
        out += n;
    }
    if (written)
        *written = out;
    return result;
}

size_t utf_str_16_8(const unsigned char* source, size_t sourceBytes, char* out, size_t outSize)
{
    if (!out || outSize == 0)
        return 0;
    size_t n = 0;
    /* A lone surrogate ends the text: what came before it stays. */
    Utf16_To_Utf8(source, sourceBytes, (unsigned char*)out, outSize - 1, &n, strictConversion);
    out[n] = '\0';
    return n;
}
