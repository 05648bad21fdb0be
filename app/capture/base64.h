#pragma once

#include <string>

namespace base64 {

// RFC 4648 Base64 with CR LF after every 76 characters of output, counted
// over full three-byte groups only (so a text ending exactly on a line
// boundary ends with CR LF, and a final partial group never gets one).
std::string encode(const unsigned char *bytes, int length);

} // namespace base64
