// Reading the lines that parts and acknowledgements are made of: ASCII
// fields in a fixed order, taken only as a writer makes them. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// A strict reader of one line's fields. A field that is not there whole
// returns false; callers stop at the first one.
class LineReader {
public:
    LineReader(const char16_t* at, size_t length) : at_(at), end_(at + length) {}
    bool done() const { return at_ == end_; }

    bool literal(const char* text) {
        const char16_t* p = at_;
        for (; *text; ++text, ++p)
            if (p == end_ || *p != char16_t(static_cast<unsigned char>(*text))) return false;
        at_ = p;
        return true;
    }
    // Decimal without leading zeros, at most 0xFFFFFFFF.
    bool number(uint32_t& value) {
        uint64_t v = 0;
        const char16_t* p = at_;
        while (p != end_ && *p >= '0' && *p <= '9' && p - at_ < 10) v = v * 10 + uint64_t(*p++ - '0');
        const size_t digits = size_t(p - at_);
        if (!digits || (digits > 1 && *at_ == '0') || v > 0xFFFFFFFF) return false;
        if (p != end_ && *p >= '0' && *p <= '9') return false;
        value = uint32_t(v);
        at_ = p;
        return true;
    }
    // "0" or "1".
    bool flag(bool& value) {
        if (at_ == end_ || (*at_ != '0' && *at_ != '1')) return false;
        value = *at_++ == '1';
        return true;
    }
    // Exactly `digits` upper-case hexadecimal digits.
    bool hex(unsigned digits, uint64_t& value) {
        if (size_t(end_ - at_) < digits) return false;
        uint64_t v = 0;
        for (unsigned i = 0; i < digits; ++i) {
            const char16_t c = at_[i];
            if (c >= '0' && c <= '9') v = v << 4 | uint64_t(c - '0');
            else if (c >= 'A' && c <= 'F') v = v << 4 | uint64_t(c - 'A' + 10);
            else return false;
        }
        at_ += digits;
        value = v;
        return true;
    }
    bool hex32(uint32_t& value) {
        uint64_t v;
        if (!hex(8, v)) return false;
        value = uint32_t(v);
        return true;
    }

private:
    const char16_t* at_;
    const char16_t* end_;
};

// What a text channel may leave at the end of a line besides its line
// feed: a CR and blanks. Forgiven there, and nowhere else.
inline bool lineEndBlank(char16_t c) { return c == ' ' || c == '\t' || c == '\r'; }

// The end of the line from start to stop without those.
inline const char16_t* withoutLineEndBlanks(const char16_t* start, const char16_t* stop) {
    while (stop != start && lineEndBlank(stop[-1])) --stop;
    return stop;
}

}  // namespace tw
