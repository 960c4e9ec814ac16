// Text on its way to standard output. Each line feed is stored as the
// carriage return and line feed that a text-mode C stream writes, so the
// bytes that reach standard output are exactly those of the C runtime's
// stdout, whoever writes them out.
#pragma once

#include <cstddef>
#include <string>

namespace tw {

class LineBuffer {
public:
    void append(const char* text, size_t length);
    void append(const std::string& text) { append(text.data(), text.size()); }

    const char* data() const { return text_.data(); }
    size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    // The buffered text has been written out; the line state stays.
    void clear() { text_.clear(); }

    // True while everything appended so far does not end with a line feed.
    bool lineOpen() const { return lineOpen_; }
    // True when the last text appended ended a line.
    bool endsLine() const { return !text_.empty() && !lineOpen_; }

private:
    std::string text_;
    bool lineOpen_ = false;
};

}  // namespace tw
