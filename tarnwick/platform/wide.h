// Text at the platform's edge: the ANSI code page, UTF-16 and path forms.
//
// Inside the program names and paths are UTF-16 from the command line to
// the last file call. Narrow text appears only where the block's name
// fields or a redirected standard output ask for it, and every conversion
// to the code page goes through here: never with best fit, which would
// turn a fullwidth full stop or backslash into the ASCII one and so change
// what a name means.
#pragma once

#include <string>

namespace tw {

// ANSI text (the process's code page) as UTF-16.
std::wstring widen(const char* text, size_t length);
inline std::wstring widen(const std::string& text) { return widen(text.data(), text.size()); }
std::wstring widen(const char* text);

// True, with the bytes, when the text converts to the ANSI code page with
// no character replaced or approximated and converts back unchanged.
bool toAnsiExact(const wchar_t* text, size_t length, std::string& bytes);

// The text for a reader of ANSI bytes: '?' for each character the code
// page cannot hold.
std::string toAnsiShown(const wchar_t* text, size_t length);

// Both programs run on Windows, where wchar_t is UTF-16; the platform-free
// code spells it char16_t.
inline std::u16string toU16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
inline std::wstring fromU16(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

// The form of a path to hand to a file call: the path itself while it is
// short enough for every call, otherwise its absolute "\\?\" form, which
// has no length limit (and no normalisation, hence made absolute first).
// Output shows the path as it was given; only the call gets this form.
std::wstring fsPath(const std::wstring& path);

}  // namespace tw
