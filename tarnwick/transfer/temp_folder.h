// The folder in the user's temp folder where text copies wait between runs:
// the payload that /NEXT sends from, and the parts a paste has received.
//
// Anything in it may have been put there by another program. Nothing here
// follows a link (a junction, a symbolic link, a Linux symlink under Wine):
// a link where a file or folder of ours belongs is removed, never what it
// points at, or, where it cannot be removed alone, left and never entered.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "../../common/handles.h"

namespace tw {

extern const char* const kErrorKeeping;  // the temp folder refused a write

// "%TEMP%\Tarnwick\", created when missing. Raises kErrorKeeping when it
// cannot be.
std::wstring transferFolder();

// True for attributes of a reparse point (a junction or a link).
inline bool isLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
// The attributes of the entry at the path itself, a link's own rather than
// its target's; INVALID_FILE_ATTRIBUTES when there is none.
DWORD ownAttributes(const std::wstring& path);
// Removes a link at the path, the link itself and never its target. True
// when no link is left there (there was none, or it is gone).
bool removeLink(const std::wstring& path);
// Deletes a file, or the link in its place (never what the link points at).
void removeFile(const std::wstring& path);

struct ByteRange {
    const uint8_t* data;
    size_t length;
};
// Writes the pieces one after the other to a new file beside the path, of a
// name no other writer uses, and then puts it in the path's place, so that
// a reader never finds half a file. Raises kErrorKeeping.
void writeFileAtomically(const std::wstring& path, std::initializer_list<ByteRange> pieces);

// Deletes the new files that writers of the path left behind when they were
// stopped before putting them in place. A file still being written is open
// without delete sharing and stays.
void removeLeftovers(const std::wstring& path);

// Reads a whole file of at most `limit` bytes; false when it is missing,
// unreadable, longer, or a link.
bool readSmallFile(const std::wstring& path, size_t limit, std::string& content);

// Holds a lock file open without sharing, so that one process at a time
// changes what lies beside it; waits for a holder to let go. Raises
// kErrorKeeping when the lock cannot be had within a minute.
class FolderLock {
public:
    explicit FolderLock(const std::wstring& path);

private:
    unique_hfile file_;
};

}  // namespace tw
