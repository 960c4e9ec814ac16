#include "paste.h"

#include "../frontend/frontend.h"

namespace tw {

bool pasteFromClipboard(const char* /*destination*/, bool /*force*/) {
    return runCommand([] { throw "Pasting is not available in this build."; });
}

}  // namespace tw
