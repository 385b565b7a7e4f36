#include "registry_path.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitRegistryPath, SplitsAtTheLastSeparatorAndTrimsAroundIt) {
    struct Case {
        const char* path;
        const char* key;
        const char* name;
    };
    const Case cases[] = {
        {"Software\\Quillon\\UseProxy", "Software\\Quillon", "UseProxy"},
        {"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Quillon",
         "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Quillon"},
        {"Software\\Microsoft\\Internet Explorer\\TypedURLs\\url7",
         "Software\\Microsoft\\Internet Explorer\\TypedURLs", "url7"},
        {"\\A\\B\\\\C", "A\\B", "C"},
        {"\\\\\\A\\\\\\B", "A", "B"},
        {"UseProxy", "", "UseProxy"},
        {"\\UseProxy", "", "UseProxy"},
        {"A\\", "A", ""},
        {"", "", ""},
        {"\\\\", "", ""},
    };
    for (const Case& c : cases) {
        RegistryPath split = SplitRegistryPath(c.path);
        EXPECT_EQ(split.keyPath, c.key) << c.path;
        EXPECT_EQ(split.valueName, c.name) << c.path;
    }
}

}  // namespace
