#include "wide.h"

#include <windows.h>

#include <cstring>

namespace tw {

namespace {

bool plainAscii(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return true;
}

bool plainAscii(const wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] >= 0x80) return false;
    return true;
}

// Every ANSI code page holds ASCII as ASCII, so most text needs no call.
template <class To, class From>
To copyAscii(const From* text, size_t length) {
    To out(length, 0);
    for (size_t i = 0; i < length; ++i) out[i] = typename To::value_type(text[i]);
    return out;
}

// Best-fit flags are refused for UTF-8, which a system may use as its ANSI
// code page; there a character either converts exactly or the round trip
// below catches it.
DWORD noBestFit() { return ::GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS; }

}  // namespace

std::wstring widen(const char* text, size_t length) {
    if (plainAscii(text, length)) return copyAscii<std::wstring>(text, length);
    int units = ::MultiByteToWideChar(CP_ACP, 0, text, int(length), nullptr, 0);
    std::wstring out(size_t(units > 0 ? units : 0), L'\0');
    if (units > 0) ::MultiByteToWideChar(CP_ACP, 0, text, int(length), &out[0], units);
    return out;
}

std::wstring widen(const char* text) { return widen(text, std::strlen(text)); }

bool toAnsiExact(const wchar_t* text, size_t length, std::string& bytes) {
    if (plainAscii(text, length)) {
        bytes = copyAscii<std::string>(text, length);
        return true;
    }
    const DWORD flags = noBestFit();
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = flags ? &usedDefault : nullptr;
    int size = ::WideCharToMultiByte(CP_ACP, flags, text, int(length), nullptr, 0, nullptr, usedDefaultOut);
    if (size <= 0 || usedDefault) return false;
    std::string out(size_t(size), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, text, int(length), &out[0], size, nullptr, usedDefaultOut);
    if (usedDefault) return false;
    // Back again, to the same units: anything else was not held exactly.
    int units = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, out.data(), size, nullptr, 0);
    if (units != int(length)) return false;
    std::wstring back(length, L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, out.data(), size, &back[0], units);
    if (back.compare(0, length, text, length) != 0) return false;
    bytes = std::move(out);
    return true;
}

std::string toAnsiShown(const wchar_t* text, size_t length) {
    if (plainAscii(text, length)) return copyAscii<std::string>(text, length);
    const DWORD flags = noBestFit();
    const char* fallback = flags ? "?" : nullptr;
    int size = ::WideCharToMultiByte(CP_ACP, flags, text, int(length), nullptr, 0, fallback, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    if (size > 0) ::WideCharToMultiByte(CP_ACP, flags, text, int(length), &out[0], size, fallback, nullptr);
    return out;
}

std::wstring fsPath(const std::wstring& path) {
    // CreateDirectory takes the least: MAX_PATH less room for an 8.3 name.
    constexpr size_t kShortEnough = MAX_PATH - 12;
    if (path.size() < kShortEnough) return path;
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    DWORD got = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (got == 0 || got >= size) return path;
    full.resize(got);
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace tw
