// Owning wrappers for the Win32 handles both programs use.
//
// One template does the work: it owns a value, closes it with a given
// function when it goes out of scope, cannot be copied, and treats one or
// two "invalid" values as empty. Destructors keep GetLastError intact, so a
// failure can be raised after the handle is gone and still be examined.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <utility>

namespace tw {

class last_error_preserver {
public:
    last_error_preserver() : saved_(::GetLastError()) {}
    ~last_error_preserver() { ::SetLastError(saved_); }
    last_error_preserver(const last_error_preserver&) = delete;
    last_error_preserver& operator=(const last_error_preserver&) = delete;

private:
    DWORD saved_;
};

template <class T, class Close, Close close, T empty1, T empty2 = empty1>
class unique_any {
public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    ~unique_any() { reset(); }

    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != empty1 && value_ != empty2; }

    T release() noexcept {
        T v = value_;
        value_ = empty1;
        return v;
    }
    void reset(T value = empty1) noexcept {
        if (*this) {
            last_error_preserver keep;
            close(value_);
        }
        value_ = value;
    }
    // For out-parameters: empties the wrapper and hands out its slot.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_ = empty1;
};

namespace detail {
inline void close_handle(HANDLE h) { ::CloseHandle(h); }
inline void find_close(HANDLE h) { ::FindClose(h); }
inline void global_free(HGLOBAL h) { ::GlobalFree(h); }
inline void reg_close(HKEY h) { ::RegCloseKey(h); }
}  // namespace detail

using unique_handle = unique_any<HANDLE, void (*)(HANDLE), detail::close_handle, nullptr>;
// CreateFile and FindFirstFile report failure as INVALID_HANDLE_VALUE; some
// callers also see 0, so both count as empty.
class unique_hfile : public unique_any<HANDLE, void (*)(HANDLE), detail::close_handle, nullptr> {
public:
    unique_hfile() noexcept = default;
    explicit unique_hfile(HANDLE h) noexcept
        : unique_any(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
};
class unique_hfind : public unique_any<HANDLE, void (*)(HANDLE), detail::find_close, nullptr> {
public:
    unique_hfind() noexcept = default;
    explicit unique_hfind(HANDLE h) noexcept
        : unique_any(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
};
using unique_hglobal = unique_any<HGLOBAL, void (*)(HGLOBAL), detail::global_free, nullptr>;
using unique_hkey = unique_any<HKEY, void (*)(HKEY), detail::reg_close, nullptr>;

// A GlobalLock held for the lifetime of the object.
class unique_hglobal_locked {
public:
    explicit unique_hglobal_locked(HGLOBAL h) noexcept
        : handle_(h), data_(h ? ::GlobalLock(h) : nullptr) {}
    ~unique_hglobal_locked() { unlock(); }
    unique_hglobal_locked(const unique_hglobal_locked&) = delete;
    unique_hglobal_locked& operator=(const unique_hglobal_locked&) = delete;

    void* get() const noexcept { return data_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }
    void unlock() noexcept {
        if (data_) {
            last_error_preserver keep;
            ::GlobalUnlock(handle_);
            data_ = nullptr;
        }
    }

private:
    HGLOBAL handle_;
    void* data_;
};

// The clipboard is a process-wide resource: whoever opens it must close it,
// on every path, or every other program on the desktop is locked out.
//
// Clipboard managers, clipboard history and remote-desktop redirection open
// the clipboard for a few milliseconds right after every change, so a busy
// clipboard is tried again for about a second before the open counts as
// failed.
class clipboard_session {
public:
    static constexpr int kOpenAttempts = 10;
    static constexpr DWORD kOpenPauseMs = 100;

    explicit clipboard_session(HWND owner = nullptr) noexcept : open_(openWithRetries(owner)) {}
    ~clipboard_session() { close(); }
    clipboard_session(const clipboard_session&) = delete;
    clipboard_session& operator=(const clipboard_session&) = delete;

    explicit operator bool() const noexcept { return open_; }
    void close() noexcept {
        if (open_) {
            last_error_preserver keep;
            ::CloseClipboard();
            open_ = false;
        }
    }

private:
    static bool openWithRetries(HWND owner) noexcept {
        for (int attempt = 1;; ++attempt) {
            if (::OpenClipboard(owner)) return true;
            if (attempt == kOpenAttempts) return false;
            ::Sleep(kOpenPauseMs);
        }
    }

    bool open_;
};

// A message-only window to open the clipboard with for reading it. Under
// Wine a clipboard opened without a window may be opened by a second
// program at the same time, which then takes it over: the first one's
// GetClipboardData fails half-way through its read. Opened with a window
// it is the reader's alone, as it always is on Windows, where the window
// changes nothing. Declared before the clipboard_session, so that it goes
// after the clipboard is closed.
class reader_window {
public:
    reader_window() noexcept
        : hwnd_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
    ~reader_window() {
        if (hwnd_) ::DestroyWindow(hwnd_);
    }
    reader_window(const reader_window&) = delete;
    reader_window& operator=(const reader_window&) = delete;

    HWND get() const noexcept { return hwnd_; }

private:
    HWND hwnd_;
};

// CoInitialize/CoUninitialize for the calling thread.
class com_apartment {
public:
    com_apartment() noexcept : hr_(::CoInitialize(nullptr)) {}
    ~com_apartment() {
        // CoUninitialize balances every call, S_FALSE included.
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;

private:
    HRESULT hr_;
};

template <class I>
class com_ptr {
public:
    com_ptr() noexcept = default;
    ~com_ptr() { reset(); }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;

    I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept {
        if (p_) {
            p_->Release();
            p_ = nullptr;
        }
    }
    I** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    I* p_ = nullptr;
};

template <class F>
class scope_exit {
public:
    explicit scope_exit(F f) noexcept : f_(std::move(f)) {}
    ~scope_exit() {
        if (armed_) f_();
    }
    void release() noexcept { armed_ = false; }
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;

private:
    F f_;
    bool armed_ = true;
};

}  // namespace tw
