#include "line_buffer.h"

#include <cstring>

namespace tw {

void LineBuffer::append(const char* text, size_t length) {
    if (length == 0) return;
    const char* end = text + length;
    while (text < end) {
        const char* feed = static_cast<const char*>(std::memchr(text, '\n', size_t(end - text)));
        if (!feed) {
            text_.append(text, end);
            break;
        }
        text_.append(text, feed);
        text_.append("\r\n", 2);
        text = feed + 1;
    }
    lineOpen_ = end[-1] != '\n';
}

}  // namespace tw
