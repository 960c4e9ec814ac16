// The benchmark's floor and probe under Wine; a development aid, not part of
// the product.
//
//   bench_floor rebuild SRC DST
//       Rebuilds the tree SRC inside the folder DST with the calls a paste
//       makes for each entry, reading each file from SRC instead of
//       inflating it from the clipboard, and writes the same progress lines
//       (one WriteFile each). What a plain program pays under Wine to make
//       the same tree: the floor a paste is measured against. Prints to
//       standard error how long reading the sources and rebuilding took.
//   bench_floor read SRC
//       Reads every file beneath SRC the way a copy does (open, measure,
//       one read of the whole file, its time, close), on one thread, and
//       prints to standard error how long that took: the read floor of a
//       copy.
//   bench_floor place BYTES
//       Fills a block of BYTES bytes in fresh memory and hands it to the
//       clipboard under a format of its own, as a copy hands over its block,
//       and prints to standard error how long each took: what a plain
//       program pays under Wine to place a block of that size (Wine copies
//       it into the wineserver).
//   bench_floor block [FILE]
//       Prints the length of the Tarnwick block on the clipboard and the
//       total of its stored bytes; with FILE, also writes the block there
//       (and the exact names beside it, when there are any, to FILE.names),
//       so that two copies can be compared byte for byte.
#include <windows.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

LARGE_INTEGER frequency;

double seconds(const LARGE_INTEGER& from) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return double(now.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

struct Clock {
    double reading = 0, rebuilding = 0;
};

void line(const std::string& text) {
    std::string out = text + "\r\n";
    DWORD written;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), out.data(), DWORD(out.size()), &written, nullptr);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "bench_floor: %s failed (error %lu)\n", what.c_str(), ::GetLastError());
    std::exit(1);
}

constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

void setAttributes(const std::string& path, DWORD attributes) {
    DWORD bits = attributes & kKeptAttributes;
    ::SetFileAttributesA(path.c_str(), bits ? bits : FILE_ATTRIBUTE_NORMAL);
}

// A paste's folder: the line, then create (or find) it and set its
// attributes.
void rebuildFolder(const std::string& path, DWORD attributes) {
    line(path + ">");
    if (!::PathIsDirectoryA(path.c_str()) && !::CreateDirectoryA(path.c_str(), nullptr)) fail("CreateDirectory " + path);
    setAttributes(path, attributes);
}

// A paste's file, its content read from the source instead of inflated.
void rebuildFile(const std::string& source, const std::string& path, DWORD attributes, std::vector<char>& buffer,
                 Clock& clock) {
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    HANDLE in = ::CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) fail("open " + source);
    LARGE_INTEGER size;
    FILETIME lastWrite;
    if (!::GetFileSizeEx(in, &size) || !::GetFileTime(in, nullptr, nullptr, &lastWrite)) fail("query " + source);
    if (buffer.size() < size_t(size.QuadPart)) buffer.resize(size_t(size.QuadPart));
    DWORD got = 0;
    if (size.QuadPart && (!::ReadFile(in, buffer.data(), DWORD(size.QuadPart), &got, nullptr) || got != size.QuadPart))
        fail("read " + source);
    ::CloseHandle(in);
    clock.reading += seconds(start);

    ::QueryPerformanceCounter(&start);
    line(path);
    if (::PathFileExistsA(path.c_str())) ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE out = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) fail("create " + path);
    DWORD written = 0;
    if (got && (!::WriteFile(out, buffer.data(), got, &written, nullptr) || written != got)) fail("write " + path);
    ::CloseHandle(out);
    HANDLE timed = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (timed != INVALID_HANDLE_VALUE) {
        ::SetFileTime(timed, nullptr, nullptr, &lastWrite);
        ::CloseHandle(timed);
    }
    setAttributes(path, attributes);
    clock.rebuilding += seconds(start);
}

// Depth first, in the order the directory search reports, as a copy walks.
void rebuildTree(const std::string& source, const std::string& target, std::vector<char>& buffer, Clock& clock) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((source + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) fail("search " + source);
    do {
        std::string name = found.cFileName;
        if (name.find_first_not_of('.') == std::string::npos) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            LARGE_INTEGER start;
            ::QueryPerformanceCounter(&start);
            rebuildFolder(target + "\\" + name, found.dwFileAttributes);
            clock.rebuilding += seconds(start);
            rebuildTree(source + "\\" + name, target + "\\" + name, buffer, clock);
        } else {
            rebuildFile(source + "\\" + name, target + "\\" + name, found.dwFileAttributes, buffer, clock);
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

int rebuild(const std::string& source, const std::string& destination) {
    std::string root = source.substr(source.find_last_of('\\') + 1);
    std::vector<char> buffer;
    Clock clock;
    line("Reading clipboard...");
    line("");
    rebuildFolder(destination + "\\" + root, ::GetFileAttributesA(source.c_str()));
    rebuildTree(source, destination + "\\" + root, buffer, clock);
    line("");
    line("Done.");
    std::fprintf(stderr, "bench_floor: reading sources %.2f s, rebuilding %.2f s\n", clock.reading, clock.rebuilding);
    return 0;
}

// Depth first, as a copy walks; each file read whole into one buffer.
void readTree(const std::string& source, std::vector<char>& buffer, uint64_t& bytes) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((source + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) fail("search " + source);
    do {
        std::string name = found.cFileName, path = source + "\\" + name;
        if (name.find_first_not_of('.') == std::string::npos) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            readTree(path, buffer, bytes);
            continue;
        }
        HANDLE in = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (in == INVALID_HANDLE_VALUE) fail("open " + path);
        LARGE_INTEGER size;
        FILETIME lastWrite;
        if (!::GetFileSizeEx(in, &size)) fail("query " + path);
        if (buffer.size() < size_t(size.QuadPart)) buffer.resize(size_t(size.QuadPart));
        DWORD got = 0;
        if (size.QuadPart && (!::ReadFile(in, buffer.data(), DWORD(size.QuadPart), &got, nullptr) || got != size.QuadPart))
            fail("read " + path);
        if (!::GetFileTime(in, nullptr, nullptr, &lastWrite)) fail("query " + path);
        ::CloseHandle(in);
        bytes += got;
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

int read(const std::string& source) {
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    std::vector<char> buffer;
    uint64_t bytes = 0;
    readTree(source, buffer, bytes);
    std::fprintf(stderr, "bench_floor: read %llu bytes in %.2f s\n", static_cast<unsigned long long>(bytes),
                 seconds(start));
    return 0;
}

void save(const std::string& file, const void* data, size_t length) {
    HANDLE out = ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (out == INVALID_HANDLE_VALUE || !::WriteFile(out, data, DWORD(length), &written, nullptr) || written != length)
        fail("write " + file);
    ::CloseHandle(out);
}

uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

int block(const char* file) {
    UINT tree = ::RegisterClipboardFormatA("Tarnwick_2"), single = ::RegisterClipboardFormatA("Tarnwick_1");
    if (!::OpenClipboard(nullptr)) fail("OpenClipboard");
    bool isTree = true;
    HANDLE data = ::GetClipboardData(tree);
    if (!data) {
        data = ::GetClipboardData(single);
        isTree = false;
    }
    if (!data) fail("no Tarnwick block on the clipboard");
    SIZE_T length = ::GlobalSize(data);
    const auto* p = static_cast<const uint8_t*>(::GlobalLock(data));
    if (!p || length < (isTree ? 16u : 292u)) fail("GlobalLock");
    uint64_t stored = isTree ? length - u32(p) - u32(p + 12) : length - 292;
    if (file) save(file, p, length);
    ::GlobalUnlock(data);
    if (HANDLE names = file ? ::GetClipboardData(::RegisterClipboardFormatA("Tarnwick_Names")) : nullptr) {
        if (const void* q = ::GlobalLock(names)) {
            save(std::string(file) + ".names", q, ::GlobalSize(names));
            ::GlobalUnlock(names);
        }
    }
    ::CloseClipboard();
    std::printf("%llu %llu\n", static_cast<unsigned long long>(length), static_cast<unsigned long long>(stored));
    return 0;
}

int place(const char* bytesText) {
    const unsigned long long bytes = std::strtoull(bytesText, nullptr, 10);
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, SIZE_T(bytes));
    void* view = memory ? ::GlobalLock(memory) : nullptr;
    if (!view) fail("GlobalAlloc");
    std::memset(view, 0x5A, size_t(bytes));
    ::GlobalUnlock(memory);
    const double filling = seconds(start);
    ::QueryPerformanceCounter(&start);
    if (!::OpenClipboard(nullptr)) fail("OpenClipboard");
    ::EmptyClipboard();
    if (!::SetClipboardData(::RegisterClipboardFormatA("Tarnwick bench floor"), memory)) fail("SetClipboardData");
    ::CloseClipboard();
    std::fprintf(stderr, "bench_floor: filled %llu bytes in %.2f s, handed them to the clipboard in %.2f s\n", bytes,
                 filling, seconds(start));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ::QueryPerformanceFrequency(&frequency);
    if (argc == 4 && std::strcmp(argv[1], "rebuild") == 0) return rebuild(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "read") == 0) return read(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "place") == 0) return place(argv[2]);
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "block") == 0) return block(argc == 3 ? argv[2] : nullptr);
    std::fprintf(stderr,
                 "usage: bench_floor rebuild SRC DST | bench_floor read SRC | bench_floor place BYTES | "
                 "bench_floor block [FILE]\n");
    return 2;
}
