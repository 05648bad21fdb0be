#pragma once

#include <string>
#include <vector>

namespace base64 {

// RFC 4648 Base64 with CR LF after every 76 characters of output, counted
// over full three-byte groups only (so a text ending exactly on a line
// boundary ends with CR LF, and a final partial group never gets one).
std::string encode(const unsigned char *bytes, int length);

// The same alphabet and padding on one line, without any break.
std::string encodeUnbroken(const unsigned char *bytes, int length);

// Decodes padded RFC 4648 Base64; CR and LF are skipped. False, with `out`
// emptied, on any other character outside the alphabet, misplaced padding
// or a length that is not a whole number of four-character groups.
bool decode(const char *text, int length, std::vector<unsigned char> &out);

} // namespace base64
