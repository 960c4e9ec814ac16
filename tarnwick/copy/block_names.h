// The names that records carry in the block.
//
// A record's name field is ANSI text. A name the writer's code page holds
// exactly goes in as it is; any other gets a substitute that every copy of
// the program, old or new, pastes as a valid name: never a separator, a
// dots-only name or a device, never the name of a sibling. The exact name
// then travels in the side format (archive/names_block.h). Platform-free:
// the Windows glue passes its conversion, tests pass their own.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tw {

// The platform's exact conversion of UTF-16 text to the ANSI code page: true
// with the bytes when it converts without any substitution or best fit and
// converts back unchanged; false otherwise. Called for whole names and for
// single characters (one unit, or a surrogate pair).
using AnsiConverter = std::function<bool(const char16_t* units, size_t count, std::string& bytes)>;

// One record name per sibling (the entries of one folder, or the top-level
// paths), same order. A name keeps its exact conversion when it has one that
// fits the name field (263 bytes). Otherwise it gets a substitute: each
// character that converts exactly as its bytes, '_' for each one that does
// not or that converts to a control character or one of \ / : < > " | ? *;
// a leading '_' for a dots-only or device name; '_' for a trailing dot or
// blank; "~2", "~3"... before the extension until no sibling's record name
// equals it (ASCII letters compared without case); the stem (then the
// extension) shortened, whole characters at a time, to fit the field.
std::vector<std::string> assignRecordNames(const std::vector<std::u16string>& siblings, const AnsiConverter& convert);

// No unit at or above 0x80: such a record needs no side entry.
bool isPlainAscii(const std::u16string& name);

}  // namespace tw
