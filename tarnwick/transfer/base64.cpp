#include "base64.h"

namespace tw {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a base64 character, or -1.
int valueOf(char16_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

void appendBase64(const uint8_t* data, size_t length, std::string& out) {
    size_t at = out.size();
    // Called a line at a time: the length fits in size_t.
    out.resize(at + size_t(base64Length(length)));
    char* o = &out[at];
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (i < length) {
        uint32_t v = uint32_t(data[i]) << 16 | (i + 1 < length ? uint32_t(data[i + 1]) << 8 : 0);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = i + 1 < length ? kAlphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
}

long long decodeBase64(const char16_t* text, size_t length, uint8_t* out) {
    if (length % 4) return -1;
    uint8_t* o = out;
    for (size_t i = 0; i < length; i += 4) {
        const bool last = i + 4 == length;
        int a = valueOf(text[i]), b = valueOf(text[i + 1]);
        if (a < 0 || b < 0) return -1;
        if (last && text[i + 2] == '=') {
            // One byte; the four bits left over must be zero.
            if (text[i + 3] != '=' || (b & 15)) return -1;
            *o++ = uint8_t(a << 2 | b >> 4);
            break;
        }
        int c = valueOf(text[i + 2]);
        if (c < 0) return -1;
        if (last && text[i + 3] == '=') {
            if (c & 3) return -1;
            *o++ = uint8_t(a << 2 | b >> 4);
            *o++ = uint8_t(b << 4 | c >> 2);
            break;
        }
        int d = valueOf(text[i + 3]);
        if (d < 0) return -1;
        *o++ = uint8_t(a << 2 | b >> 4);
        *o++ = uint8_t(b << 4 | c >> 2);
        *o++ = uint8_t(c << 6 | d);
    }
    return o - out;
}

}  // namespace tw
