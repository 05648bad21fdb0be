/* UTF-16LE to UTF-8 conversion of the card's text fields. */
#ifndef QX_UTF_H
#define QX_UTF_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    conversionOK = 0,
    sourceExhausted = 1,
    targetExhausted = 2,
    sourceIllegal = 3,
    conversionFailed = 4
} ConversionResult;

typedef enum { strictConversion = 0, lenientConversion = 1 } ConversionFlags;

/* Converts UTF-16LE bytes (at most sourceBytes, stopping at a 0 unit) into at
 * most targetSize bytes of UTF-8, without terminator; *written receives the
 * byte count. A character that would pass targetSize is not written. */
ConversionResult Utf16_To_Utf8(const unsigned char* source, size_t sourceBytes, unsigned char* target,
                               size_t targetSize, size_t* written, ConversionFlags flags);

/* Trimmed field conversion: stops at a 0 unit or at a lone surrogate and
 * always terminates the output (outSize >= 1). Returns the bytes written. */
size_t utf_str_16_8(const unsigned char* source, size_t sourceBytes, char* out, size_t outSize);

#ifdef __cplusplus
}
#endif

#endif
