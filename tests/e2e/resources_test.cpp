// What Windows sees of Tarnwick.exe without running it: the icon group the
// shortcuts show and the version resource Explorer's property sheet reads.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness.h"

namespace e2e {
namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconDir {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

TEST(Resources, IconGroup101IsOne32x32Image24Bits) {
    HMODULE m = LoadLibraryExA(tarnwickExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    ASSERT_NE(r, nullptr);
    const auto* dir = static_cast<const GroupIconDir*>(LockResource(LoadResource(m, r)));
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir->type, 1);
    ASSERT_EQ(dir->count, 1);
    EXPECT_EQ(dir->entries[0].width, 32);
    EXPECT_EQ(dir->entries[0].height, 32);
    EXPECT_EQ(dir->entries[0].bitCount, 24);
    HRSRC image = FindResourceA(m, MAKEINTRESOURCEA(dir->entries[0].id), MAKEINTRESOURCEA(3) /* RT_ICON */);
    ASSERT_NE(image, nullptr);
    const auto* bmp = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(m, image)));
    EXPECT_EQ(bmp->biWidth, 32);
    EXPECT_EQ(bmp->biHeight, 64);  // colour and mask
    EXPECT_EQ(bmp->biBitCount, 24);
    FreeLibrary(m);
}

TEST(Resources, VersionResource) {
    std::string exe = tarnwickExe();
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, &data[0]));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(&data[0], "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000002u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

    struct Translation {
        WORD language, codePage;
    }* translations = nullptr;
    ASSERT_TRUE(VerQueryValueA(&data[0], "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &len));
    ASSERT_EQ(len, sizeof(Translation));
    EXPECT_EQ(translations[0].language, 0x0409);
    EXPECT_EQ(translations[0].codePage, 1200);

    struct Row {
        const char* name;
        const char* value;
    } const rows[] = {
        {"FileDescription", "Tarnwick"}, {"FileVersion", "2.0.0.2"},
        {"InternalName", "Tarnwick"},    {"OriginalFilename", "Tarnwick.exe"},
        {"ProductName", "Tarnwick"},     {"ProductVersion", "2.0.0.2"},
        {"Comments", ""},                {"LegalTrademarks", ""},
        {"PrivateBuild", ""},            {"SpecialBuild", ""},
    };
    for (const Row& row : rows) {
        char* value = nullptr;
        UINT n = 0;
        std::string key = std::string("\\StringFileInfo\\040904b0\\") + row.name;
        ASSERT_TRUE(VerQueryValueA(&data[0], key.c_str(), reinterpret_cast<void**>(&value), &n)) << row.name;
        EXPECT_EQ(std::string(value), row.value) << row.name;
    }
}

}  // namespace
}  // namespace e2e
