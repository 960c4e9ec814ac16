// The console program's entry: the command line and the dispatch into the
// commands.
#pragma once

namespace tw {

// Runs the command that the process's command line (read as UTF-16) names;
// returns the exit code.
int dispatch();

}  // namespace tw
