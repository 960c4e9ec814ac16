// The folder in the user's temp folder where text copies wait between runs:
// the payload that /NEXT sends from, and the parts a paste has received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace tw {

extern const char* const kErrorKeeping;  // the temp folder refused a write

// "%TEMP%\Tarnwick\", created when missing. Raises kErrorKeeping when it
// cannot be.
std::wstring transferFolder();

struct ByteRange {
    const uint8_t* data;
    size_t length;
};
// Writes the pieces one after the other to a new file beside the path and
// then puts it in the path's place, so that a reader never finds half a
// file. Raises kErrorKeeping.
void writeFileAtomically(const std::wstring& path, std::initializer_list<ByteRange> pieces);

// Reads a whole file of at most `limit` bytes; false when it is missing,
// unreadable or longer.
bool readSmallFile(const std::wstring& path, size_t limit, std::string& content);

}  // namespace tw
