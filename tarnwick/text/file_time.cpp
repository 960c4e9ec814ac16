#include "file_time.h"

#include "../../common/handles.h"

namespace tw {

std::string formatFileTime(const FILETIME& time) {
    // A time that cannot be converted (from a forged block, beyond the
    // calendar's range) has neither date nor time of day: it is treated as
    // both formattings failing, never formatted from fields never filled.
    FILETIME local;
    SYSTEMTIME st;
    bool converted = ::FileTimeToLocalFileTime(&time, &local) && ::FileTimeToSystemTime(&local, &st);

    char text[128] = {};
    int n = converted ? ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, text, 127) : 0;
    int at = 0;
    if (n > 0) {
        text[n - 1] = ' ';
        at = n;
    }
    // With no room left for the time the date stands alone, without the
    // blank that would have led into it.
    if (!converted || 127 - at <= 1 ||
        ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, text + at, 127 - at) == 0) {
        text[at > 0 ? at - 1 : 0] = '\0';
    }
    return text;
}

bool getFileTimeAndSize(const char* path, FILETIME* lastWriteTime, uint32_t* size) {
    int units = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (units <= 0) return false;
    std::wstring wide(size_t(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], units);
    return getFileTimeAndSize(wide.c_str(), lastWriteTime, size);
}

bool getFileTimeAndSize(const wchar_t* path, FILETIME* lastWriteTime, uint32_t* size) {
    unique_hfile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    bool ok = true;
    if (lastWriteTime && !::GetFileTime(file.get(), nullptr, nullptr, lastWriteTime)) ok = false;
    if (ok && size) {
        DWORD low = ::GetFileSize(file.get(), nullptr);
        *size = low;
        ok = low != INVALID_FILE_SIZE;
    }
    return ok;
}

}  // namespace tw
