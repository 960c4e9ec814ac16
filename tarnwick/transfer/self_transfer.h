// The /SELF command on the clipboard, and the /NEXT that follows it
// (Windows). The scripts themselves: self_script.h.
#pragma once

#include <cstdint>

#include "self_script.h"

namespace tw {

// Places script 1 of the running program's set, scripts of at most `chars`
// characters (0: one), and notes for /NEXT that a set was placed last.
bool placeSelf(uint64_t chars);
// True when /SELF placed the last thing that /NEXT continues.
bool selfSetPlacedLast();
// /NEXT after /SELF: number 0 places the next script, any other that script
// again. Runs inside runCommand.
bool placeNextScript(uint32_t number);
// Drops the note, once a text copy, a plain copy or /CLEAR has put
// something else in the set's place. Raises nothing.
void forgetSelfSet();

}  // namespace tw
