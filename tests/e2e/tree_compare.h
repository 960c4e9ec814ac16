// Two folder trees compared entry by entry: names, bytes, last-write times
// and the attribute bits a paste restores.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

inline std::vector<std::string> sortedNames(const std::string& folder) {
    std::vector<std::string> names = listDir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// Walks both folders side by side; returns how many entries it compared.
inline size_t expectSameTree(const std::string& source, const std::string& pasted) {
    const std::vector<std::string> names = sortedNames(source);
    EXPECT_EQ(sortedNames(pasted), names) << source;
    size_t compared = 0;
    for (const std::string& name : names) {
        const std::string a = source + "\\" + name, b = pasted + "\\" + name;
        SCOPED_TRACE(b);
        ++compared;
        if (isDir(a)) {
            EXPECT_TRUE(isDir(b));
            EXPECT_EQ(attributes(b) & 0x27, attributes(a) & 0x27);
            compared += expectSameTree(a, b);
        } else {
            EXPECT_TRUE(exists(b) && !isDir(b));
            if (!exists(b) || isDir(b)) continue;
            EXPECT_TRUE(readFile(a) == readFile(b)) << "content differs";
            EXPECT_EQ(lastWriteTime(b), lastWriteTime(a));
            EXPECT_EQ(attributes(b) & 0x27, attributes(a) & 0x27);
        }
    }
    return compared;
}

}  // namespace e2e
