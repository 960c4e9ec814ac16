#include "final_path.h"

namespace tw {

namespace {

// Looked up at run time: systems before Vista lack it.
using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
FinalPathFn finalPathFunction() {
    static const FinalPathFn fn = reinterpret_cast<FinalPathFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    return fn;
}

}  // namespace

std::wstring finalPathOf(HANDLE file) {
    const FinalPathFn finalPath = finalPathFunction();
    std::wstring path(MAX_PATH, L'\0');
    // Too small a buffer brings the size needed; a second try with that
    // much fails only if the path grew in between.
    for (int attempt = 0; finalPath && attempt < 2; ++attempt) {
        const DWORD n = finalPath(file, &path[0], DWORD(path.size()), 0 /* FILE_NAME_NORMALIZED */);
        if (n == 0) break;
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.assign(n + 1, L'\0');
    }
    return {};
}

}  // namespace tw
