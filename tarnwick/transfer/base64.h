// Base64 as RFC 4648 section 4 defines it: the standard alphabet, "="
// padding, no line breaks of its own (the part text breaks the lines).
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

// In 64 bits: a part of up to 4 GiB needs more characters than a 32-bit
// size_t counts.
constexpr uint64_t base64Length(uint64_t bytes) { return (bytes + 2) / 3 * 4; }

// Appends the encoding of data[0 .. length) to out.
void appendBase64(const uint8_t* data, size_t length, std::string& out);

// Decodes length characters of text (a multiple of 4, padding only at the
// end, only alphabet characters) into out, which has room for
// length / 4 * 3 bytes. Returns the number of bytes written, or -1 when the
// text is not canonical base64 (also when the bits after the last byte are
// not zero, so that one byte string has exactly one text).
long long decodeBase64(const char16_t* text, size_t length, uint8_t* out);

}  // namespace tw
