// Checks on the names that a clipboard block carries.
//
// A block may come from any program, so a name is only used when it is one
// plain path component: joined to the destination with a backslash, it must
// name an entry inside that folder and nothing else (no parent folder, no
// drive, no stream, no device). The check walks the name character by
// character with the caller's lead-byte test, so that in a double-byte code
// page the second byte of a character (which may equal '\\') is not taken
// for a character of its own. Platform-free: the Windows glue passes
// IsDBCSLeadByte, tests pass their own.
//
// The same rules hold for names in UTF-16 (the exact names that travel
// beside a block), unit by unit.
#pragma once

#include <cstddef>

namespace tw {

// The most UTF-16 units in one path component on Windows.
constexpr size_t kMaxNameUnits = 255;

using LeadBytePredicate = bool (*)(unsigned char byte);

// For single-byte code pages: no byte starts a double-byte character.
inline bool noLeadBytes(unsigned char) { return false; }

// True when the NUL-terminated name is one safe path component.
bool isSafeName(const char* name, LeadBytePredicate isLeadByte);

// True when the text's last character (not merely its last byte, which may
// be the second half of a double-byte character) is a backslash.
bool endsWithBackslash(const char* text, LeadBytePredicate isLeadByte);

// True when the first length bytes name a device (CON, nul.txt, COM1 .log,
// LPT followed by a superscript digit...), whatever follows the first dot.
bool isReservedDeviceName(const char* name, size_t length);

// The rules of isSafeName for a name of 1 to 255 UTF-16 units: no control
// character, none of \ / : < > " | ? *, not dots only, no trailing dot or
// blank, no device. Lone surrogates pass: Windows allows them in names.
bool isSafeWideName(const char16_t* name, size_t units);

}  // namespace tw
