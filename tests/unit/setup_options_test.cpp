// Setup's option bits and registry texts, without Windows.
#include <gtest/gtest.h>

#include "setup/options.h"

using setup::expandRegistryFormat;
using setup::IntegrationOptions;
using setup::optionsFromBits;
using setup::optionsToBits;

TEST(SetupOptions, BitsRoundTripAndHighBitsAreIgnored) {
    for (uint32_t bits = 0; bits < 16; ++bits) EXPECT_EQ(optionsToBits(optionsFromBits(bits)), bits);
    IntegrationOptions o = optionsFromBits(0xFFFFFFF2u);
    EXPECT_FALSE(o.sendTo);
    EXPECT_TRUE(o.quickLaunch);
    EXPECT_FALSE(o.folderVerb);
    EXPECT_FALSE(o.newMenu);
    EXPECT_EQ(optionsToBits(o), 2u);
}

TEST(SetupOptions, RegistryTexts) {
    struct Row {
        const char* format;
        const char* path;
        const char* expected;
    } const rows[] = {
        {"\"%s\" /PASTE \"%%1\"", "C:\\Program Files\\Tarnwick\\Tarnwick.exe",
         "\"C:\\Program Files\\Tarnwick\\Tarnwick.exe\" /PASTE \"%1\""},
        {"Paste from Tarnwick", "C:\\ignored", "Paste from Tarnwick"},
        {"\"%s\"", "D:\\Tools\\Tarnwick\\Setup.exe", "\"D:\\Tools\\Tarnwick\\Setup.exe\""},
        // A "%" inside the path is the path's own, not a format.
        {"\"%s\" /PASTE \"%%1\"", "C:\\100%s\\%%d\\T.exe", "\"C:\\100%s\\%%d\\T.exe\" /PASTE \"%1\""},
        {"50% off %d", "x", "50% off %d"},
        {"trailing %", "x", "trailing %"},
    };
    for (const Row& r : rows) EXPECT_EQ(expandRegistryFormat(r.format, r.path), r.expected) << r.format;
}
