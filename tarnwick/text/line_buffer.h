// Text on its way to standard output. Each line feed is stored as the
// carriage return and line feed that a text-mode C stream writes, so the
// bytes that reach standard output are exactly those of the C runtime's
// stdout, whoever writes them out. The console keeps its lines in UTF-16
// until it knows whether they go to a console or become ANSI bytes.
#pragma once

#include <cstddef>
#include <string>

namespace tw {

template <class Char>
class BasicLineBuffer {
public:
    void append(const Char* text, size_t length) {
        if (length == 0) return;
        const Char* end = text + length;
        for (const Char* p = text; p < end; ++p) {
            if (*p != Char('\n')) continue;
            text_.append(text, p);
            text_.push_back(Char('\r'));
            text_.push_back(Char('\n'));
            text = p + 1;
        }
        text_.append(text, end);
        lineOpen_ = end[-1] != Char('\n');
    }
    void append(const std::basic_string<Char>& text) { append(text.data(), text.size()); }

    const Char* data() const { return text_.data(); }
    size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    // The buffered text has been written out; the line state stays.
    void clear() { text_.clear(); }

    // True while everything appended so far does not end with a line feed.
    bool lineOpen() const { return lineOpen_; }
    // True when the last text appended ended a line.
    bool endsLine() const { return !text_.empty() && !lineOpen_; }

private:
    std::basic_string<Char> text_;
    bool lineOpen_ = false;
};

using LineBuffer = BasicLineBuffer<char>;

}  // namespace tw
