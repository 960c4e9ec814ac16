// Where an open file or folder really is, links followed.
#pragma once

#include <windows.h>

#include <string>

namespace tw {

// The normalised final path of an open handle (GetFinalPathNameByHandleW,
// in its "\\?\" form). Empty where the system lacks the call (before
// Vista) or the call fails.
std::wstring finalPathOf(HANDLE file);

}  // namespace tw
