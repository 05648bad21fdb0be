#include "base64.h"

#include <cstddef>

namespace base64 {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineLength = 76;

// lineLength 0: no breaks at all.
std::string encodeLines(const unsigned char *bytes, int length, int lineLength)
{
    if (!bytes || length <= 0)
        return std::string();
    const std::size_t n = std::size_t(length);
    const std::size_t groups = n / 3;
    const std::size_t tail = n % 3;
    const std::size_t fullChars = groups * 4;
    const std::size_t breaks = lineLength > 0 ? fullChars / std::size_t(lineLength) : 0;
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
        if (column == lineLength) {
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

// Value of one alphabet character, -1 for anything else.
int sextet(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::string encode(const unsigned char *bytes, int length)
{
    return encodeLines(bytes, length, kLineLength);
}

std::string encodeUnbroken(const unsigned char *bytes, int length)
{
    return encodeLines(bytes, length, 0);
}

bool decode(const char *text, int length, std::vector<unsigned char> &out)
{
    out.clear();
    std::string compact;
    compact.reserve(length > 0 ? std::size_t(length) : 0);
    for (int i = 0; text && i < length; ++i)
        if (text[i] != '\r' && text[i] != '\n')
            compact.push_back(text[i]);
    if (compact.size() % 4 != 0)
        return false;
    std::size_t padding = 0;
    while (padding < 2 && padding < compact.size() && compact[compact.size() - 1 - padding] == '=')
        ++padding;
    const std::size_t dataChars = compact.size() - padding;
    std::vector<unsigned char> bytes;
    bytes.reserve(compact.size() / 4 * 3);
    unsigned bits = 0;
    int bitCount = 0;
    for (std::size_t i = 0; i < dataChars; ++i) {
        const int value = sextet(static_cast<unsigned char>(compact[i]));
        if (value < 0)
            return false; // includes '=' before the end
        bits = (bits << 6 | unsigned(value)) & 0xFFFFFFu;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.push_back(static_cast<unsigned char>(bits >> bitCount));
        }
    }
    out.swap(bytes);
    return true;
}

} // namespace base64
