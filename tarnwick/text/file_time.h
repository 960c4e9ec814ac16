// Date texts and file queries that need the platform.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tw {

// The user's long date, one blank, the user's time of day, in local time.
std::string formatFileTime(const FILETIME& time);

// Opens the path for reading (sharing read and write) and reads its
// last-write time and/or its length (low 32 bits). Either place may be null.
// False on any failure, and for a length of 0xFFFFFFFF.
bool getFileTimeAndSize(const char* path, FILETIME* lastWriteTime, uint32_t* size);
bool getFileTimeAndSize(const wchar_t* path, FILETIME* lastWriteTime, uint32_t* size);

inline FILETIME toFileTime(uint64_t v) {
    FILETIME t;
    t.dwLowDateTime = DWORD(v);
    t.dwHighDateTime = DWORD(v >> 32);
    return t;
}
inline uint64_t fromFileTime(const FILETIME& t) {
    return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

}  // namespace tw
