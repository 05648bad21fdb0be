#include "base64.h"

#include <cstddef>

namespace base64 {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineLength = 76;
} // namespace

std::string encode(const unsigned char *bytes, int length)
{
    if (!bytes || length <= 0)
        return std::string();
    const std::size_t n = std::size_t(length);
    const std::size_t groups = n / 3;
    const std::size_t tail = n % 3;
    const std::size_t fullChars = groups * 4;
    const std::size_t breaks = fullChars / kLineLength;
    std::string text(fullChars + breaks * 2 + (tail ? 4 : 0), '\0');

    char *out = &text[0];
    int column = 0;
    const unsigned char *in = bytes;
    for (std::size_t g = 0; g < groups; ++g, in += 3) {
        const unsigned v = unsigned(in[0]) << 16 | unsigned(in[1]) << 8 | unsigned(in[2]);
        out[0] = kAlphabet[(v >> 18) & 63];
        out[1] = kAlphabet[(v >> 12) & 63];
        out[2] = kAlphabet[(v >> 6) & 63];
        out[3] = kAlphabet[v & 63];
        out += 4;
        column += 4;
        if (column == kLineLength) {
            out[0] = '\r';
            out[1] = '\n';
            out += 2;
            column = 0;
        }
    }
    if (tail == 1) {
        const unsigned v = unsigned(in[0]) << 16;
        out[0] = kAlphabet[(v >> 18) & 63];
        out[1] = kAlphabet[(v >> 12) & 63];
        out[2] = '=';
        out[3] = '=';
    } else if (tail == 2) {
        const unsigned v = unsigned(in[0]) << 16 | unsigned(in[1]) << 8;
        out[0] = kAlphabet[(v >> 18) & 63];
        out[1] = kAlphabet[(v >> 12) & 63];
        out[2] = kAlphabet[(v >> 6) & 63];
        out[3] = '=';
    }
    return text;
}

} // namespace base64
