#include "command.h"

#include "console.h"
#include "wide.h"

namespace tw {

int messageBox(const char* text, UINT type) { return messageBox(widen(text), type); }

int messageBox(const std::wstring& text, UINT type) {
    console().flush();
    return ::MessageBoxW(nullptr, text.c_str(), L"Tarnwick", type);
}

}  // namespace tw
