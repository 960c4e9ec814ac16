// Setup.exe as a file: a GUI program of its build's machine that needs nothing beyond the
// system, with the dialog templates, icon and version strings that the
// dialog code and the shell rely on.
#include <cstring>

#include "setup_support.h"

using namespace e2e;

namespace {

struct Module {
    HMODULE h = ::LoadLibraryExA(setupExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ~Module() {
        if (h) ::FreeLibrary(h);
    }
    const uint8_t* resource(LPCSTR type, int id, DWORD* size = nullptr) const {
        HRSRC r = ::FindResourceA(h, MAKEINTRESOURCEA(id), type);
        if (!r) return nullptr;
        if (size) *size = ::SizeofResource(h, r);
        return static_cast<const uint8_t*>(::LockResource(::LoadResource(h, r)));
    }
};

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; }

// A name or ordinal field of a dialog template.
std::string nameOrOrdinal(const uint8_t*& p) {
    if (u16(p) == 0xFFFF) {
        std::string r = "#" + std::to_string(u16(p + 2));
        p += 4;
        return r;
    }
    std::string r;
    for (; u16(p); p += 2) r += char(u16(p));
    p += 2;
    return r;
}

struct Item {
    DWORD style;
    int x, y, cx, cy, id;
    std::string cls, text;
};

struct Dialog {
    DWORD style;
    int cx, cy;
    std::string caption, font;
    int points;
    std::vector<Item> items;
};

Dialog parseDialog(const uint8_t* p) {
    Dialog d;
    const uint8_t* start = p;
    d.style = u32(p);
    int count = u16(p + 8);
    d.cx = int16_t(u16(p + 14));
    d.cy = int16_t(u16(p + 16));
    p += 18;
    nameOrOrdinal(p);  // menu
    nameOrOrdinal(p);  // class
    d.caption = nameOrOrdinal(p);
    if (d.style & DS_SETFONT) {
        d.points = u16(p);
        p += 2;
        d.font = nameOrOrdinal(p);
    }
    for (int i = 0; i < count; ++i) {
        p = start + ((p - start + 3) & ~3);
        Item it;
        it.style = u32(p);
        it.x = int16_t(u16(p + 8));
        it.y = int16_t(u16(p + 10));
        it.cx = int16_t(u16(p + 12));
        it.cy = int16_t(u16(p + 14));
        it.id = int16_t(u16(p + 16));
        p += 18;
        it.cls = nameOrOrdinal(p);
        it.text = nameOrOrdinal(p);
        p += 2 + u16(p);
        d.items.push_back(it);
    }
    return d;
}

constexpr const char* kButton = "#128";
constexpr const char* kEdit = "#129";
constexpr const char* kStatic = "#130";
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

}  // namespace

TEST(SetupResources, InstallationDialog) {
    Module m;
    ASSERT_TRUE(m.h);
    const uint8_t* t = m.resource(RT_DIALOG, 101);
    ASSERT_TRUE(t);
    Dialog d = parseDialog(t);
    EXPECT_EQ(d.style & ~DS_SETFONT,
              DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME));
    EXPECT_EQ(d.cx, 262);
    EXPECT_EQ(d.cy, 231);
    EXPECT_EQ(d.caption, "Tarnwick Setup");
    EXPECT_EQ(d.font, "MS Sans Serif");
    EXPECT_EQ(d.points, 8);
    const Item expected[] = {
        {kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX, 10, 10, 240, 20, -1, kStatic, "Tarnwick"},
        {kChild | WS_GROUP | SS_LEFT, 10, 45, 55, 10, -1, kStatic, "Installation &Path"},
        {kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 55, 200, 15, 1000, kEdit, ""},
        {kChild | WS_TABSTOP | BS_PUSHBUTTON, 215, 55, 40, 15, 1001, kButton, "&Browse..."},
        {kChild | WS_GROUP | SS_LEFT, 10, 85, 60, 10, -1, kStatic, "Shell Integration:-"},
        {kChild | WS_GROUP | SS_LEFT, 15, 100, 30, 10, -1, kStatic, "Copying"},
        {kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 20, 115, 210, 10, 1002, kButton,
         "\"Tarnwick\" shortcut in &Send To menu"},
        {kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 20, 130, 210, 10, 1003, kButton,
         "Icon in &Quick Launch toolbar (drag files onto it to copy)"},
        {kChild | WS_GROUP | SS_LEFT, 15, 150, 30, 8, -1, kStatic, "Pasting"},
        {kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 20, 165, 220, 10, 1004, kButton,
         "\"Paste from Tarnwick\" verb in folder &context menu"},
        {kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 20, 180, 220, 10, 1005, kButton,
         "\"Tarnwick Target\" in &New menu (for pasting inside a folder)"},
        {kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 65, 210, 50, 14, IDOK, kButton, "OK"},
        {kChild | WS_TABSTOP | BS_PUSHBUTTON, 150, 210, 50, 14, IDCANCEL, kButton, "Cancel"},
        // Whom it installs for: added last, under the title: every
        // other control keeps its place and order.
        {kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, 10, 31, 110, 10, 1008, kButton, "Install for &all users"},
        {kChild | BS_AUTORADIOBUTTON, 125, 31, 110, 10, 1009, kButton, "Install just for &me"},
    };
    ASSERT_EQ(d.items.size(), std::size(expected));
    for (size_t i = 0; i < d.items.size(); ++i) {
        const Item& a = d.items[i];
        const Item& e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " " + e.text);
        EXPECT_EQ(a.id, e.id);
        EXPECT_EQ(a.cls, e.cls);
        EXPECT_EQ(a.text, e.text);
        EXPECT_EQ(a.style, e.style);
        EXPECT_EQ(a.x, e.x);
        EXPECT_EQ(a.y, e.y);
        EXPECT_EQ(a.cx, e.cx);
        EXPECT_EQ(a.cy, e.cy);
    }
}

TEST(SetupResources, MaintenanceDialog) {
    Module m;
    const uint8_t* t = m.resource(RT_DIALOG, 106);
    ASSERT_TRUE(t);
    Dialog d = parseDialog(t);
    EXPECT_EQ(d.style & ~DS_SETFONT, DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_EQ(d.cx, 102);
    EXPECT_EQ(d.cy, 81);
    EXPECT_EQ(d.caption, "Tarnwick Setup");
    EXPECT_EQ(d.font, "MS Sans Serif");
    EXPECT_EQ(d.points, 8);
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.items[0].id, 1006);
    EXPECT_EQ(d.items[0].text, "Customize...");
    EXPECT_EQ(d.items[0].style, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON);
    EXPECT_EQ((std::vector<int>{d.items[0].x, d.items[0].y, d.items[0].cx, d.items[0].cy}),
              (std::vector<int>{15, 15, 69, 20}));
    EXPECT_EQ(d.items[1].id, 1007);
    EXPECT_EQ(d.items[1].text, "Uninstall");
    EXPECT_EQ(d.items[1].style, kChild | WS_TABSTOP | BS_PUSHBUTTON);
    EXPECT_EQ((std::vector<int>{d.items[1].x, d.items[1].y, d.items[1].cx, d.items[1].cy}),
              (std::vector<int>{15, 45, 70, 20}));
}

TEST(SetupResources, IconIsOne32By32ImageOf24Bits) {
    Module m;
    const uint8_t* group = m.resource(RT_GROUP_ICON, 103);
    ASSERT_TRUE(group);
    ASSERT_EQ(u16(group + 4), 1u) << "one image";
    const uint8_t* entry = group + 6;
    EXPECT_EQ(entry[0], 32);
    EXPECT_EQ(entry[1], 32);
    EXPECT_EQ(u16(entry + 6), 24u);
    const uint8_t* image = m.resource(RT_ICON, u16(entry + 12));
    ASSERT_TRUE(image);
    EXPECT_EQ(u16(image + 14), 24u) << "bits per pixel of the image itself";
}

TEST(SetupResources, VersionStrings) {
    HMODULE version = ::LoadLibraryA("version.dll");
    ASSERT_TRUE(version);
    using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    auto size = reinterpret_cast<SizeFn>(reinterpret_cast<void*>(::GetProcAddress(version, "GetFileVersionInfoSizeA")));
    auto info = reinterpret_cast<InfoFn>(reinterpret_cast<void*>(::GetProcAddress(version, "GetFileVersionInfoA")));
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(::GetProcAddress(version, "VerQueryValueA")));
    ASSERT_TRUE(size && info && query);
    DWORD n = size(setupExe().c_str(), nullptr);
    ASSERT_GT(n, 0u);
    std::vector<char> data(n);
    ASSERT_TRUE(info(setupExe().c_str(), 0, n, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(data.data(), "\\", reinterpret_cast<LPVOID*>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000004u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000002u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(query(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<LPVOID*>(&translation), &length));
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    const std::pair<const char*, const char*> strings[] = {
        {"FileDescription", "Tarnwick Setup"}, {"FileVersion", "2.0.0.4"},
        {"InternalName", "Tarnwick-Setup"},    {"OriginalFilename", "Setup.exe"},
        {"ProductName", "Tarnwick"},           {"ProductVersion", "2.0.0.2"},
        {"Comments", ""},                      {"LegalTrademarks", ""},
        {"PrivateBuild", ""},                  {"SpecialBuild", ""},
    };
    for (const auto& [name, value] : strings) {
        char* text = nullptr;
        std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(query(data.data(), path.c_str(), reinterpret_cast<LPVOID*>(&text), &length)) << name;
        EXPECT_EQ(std::string(text ? text : ""), value) << name;
    }
    ::FreeLibrary(version);
}

// PE32 (PE32+ for x64), GUI subsystem, and imports from system libraries
// only: no zlib, no C++ runtime or thread library of the compiler.
TEST(SetupResources, GuiProgramThatNeedsOnlyTheSystem) {
    std::string file = readFile(setupExe());
    auto at = [&](size_t offset) { return reinterpret_cast<const uint8_t*>(file.data()) + offset; };
    uint32_t pe = u32(at(0x3C));
    ASSERT_EQ(std::memcmp(at(pe), "PE\0\0", 4), 0);
    const uint8_t* optional = at(pe + 24);
    EXPECT_EQ(u16(optional), binIs64Bit() ? 0x20Bu : 0x10Bu) << "PE32 or PE32+";
    EXPECT_EQ(u16(at(pe + 4)), binIs64Bit() ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(u16(optional + 68), IMAGE_SUBSYSTEM_WINDOWS_GUI);

    unsigned sections = u16(at(pe + 6));
    const uint8_t* table = optional + u16(at(pe + 20));
    auto fileOffset = [&](uint32_t rva) -> size_t {
        for (unsigned i = 0; i < sections; ++i) {
            const uint8_t* s = table + 40 * i;
            uint32_t va = u32(s + 12), raw = u32(s + 16), pointer = u32(s + 20);
            if (rva >= va && rva < va + raw) return pointer + (rva - va);
        }
        return 0;
    };
    // The data directories follow the 64-bit image base of PE32+.
    uint32_t imports = u32(optional + (u16(optional) == 0x20B ? 112 : 96) + 8);
    ASSERT_NE(imports, 0u);
    std::vector<std::string> dlls;
    for (size_t d = fileOffset(imports); u32(at(d + 12)); d += 20) {
        std::string name = reinterpret_cast<const char*>(at(fileOffset(u32(at(d + 12)))));
        for (auto& c : name) c = char(::tolower(static_cast<unsigned char>(c)));
        dlls.push_back(name);
    }
    const std::vector<std::string> system = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
                                             "oleaut32.dll", "shell32.dll",  "shlwapi.dll", "user32.dll"};
    for (const auto& dll : dlls)
        EXPECT_NE(std::find(system.begin(), system.end(), dll), system.end()) << dll << " is not a system library";
}
