// Runs under Wine against its real URL cache, history object and registry.
#include "url_cache_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cleaning_steps.h"
#include "registry_store_win32.h"
#include "registry_typed_addresses.h"

namespace {

// Every entry name of a raw walk, with a buffer large enough for any.
std::set<std::string> Names(const char* pattern) {
    std::set<std::string> names;
    std::vector<std::byte> buffer(256 * 1024);
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size());
    HANDLE find = FindFirstUrlCacheEntryA(pattern, info, &size);
    if (find == nullptr) {
        return names;
    }
    do {
        names.insert(info->lpszSourceUrlName);
        size = static_cast<DWORD>(buffer.size());
    } while (FindNextUrlCacheEntryA(find, info, &size));
    FindCloseUrlCache(find);
    return names;
}

void AddContent(const std::string& url, DWORD type, const std::string& headers = "") {
    char file[MAX_PATH] = {};
    ASSERT_TRUE(CreateUrlCacheEntryA(url.c_str(), 0, "htm", file, 0)) << url;
    HANDLE h = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "<html></html>", 13, &written, nullptr);
    CloseHandle(h);
    FILETIME none{};
    ASSERT_TRUE(CommitUrlCacheEntryA(url.c_str(), file, none, none, type,
                                     headers.empty() ? nullptr : (BYTE*)headers.data(),
                                     static_cast<DWORD>(headers.size()), "htm", nullptr))
        << url;
}

void AddMarker(const std::string& url, DWORD type) {
    FILETIME none{};
    ASSERT_TRUE(
        CommitUrlCacheEntryA(url.c_str(), nullptr, none, none, type, nullptr, 0, nullptr, nullptr))
        << url;
}

class UrlCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        FullSweep(stores);
        ASSERT_TRUE(Names(nullptr).empty());
        // A header block this long makes the entry record pass 4096 bytes.
        big = "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(9000, 'p') + "\r\n\r\n";
        AddContent("http://127.0.0.1/page.htm", NORMAL_CACHE_ENTRY);
        AddContent("http://127.0.0.1/big.htm", NORMAL_CACHE_ENTRY, big);
        AddContent("http://127.0.0.1/after-big.htm", NORMAL_CACHE_ENTRY);
        // Content entries that carry the cookie or the history bit.
        AddMarker("http://127.0.0.1/cookie-typed", NORMAL_CACHE_ENTRY | COOKIE_CACHE_ENTRY);
        AddMarker("http://127.0.0.1/history-typed", NORMAL_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY);
        AddMarker("Cookie:user@127.0.0.1/", COOKIE_CACHE_ENTRY);
        AddMarker("Cookie:user@localhost/path", COOKIE_CACHE_ENTRY);
        AddMarker("Visited: user@http://127.0.0.1/page.htm", URLHISTORY_CACHE_ENTRY);
    }
    void TearDown() override { FullSweep(stores); }

    WinInetUrlCache cache;
    UrlHistoryStore history;
    Win32RegistryStore registry;
    RegistryTypedAddresses typed{registry};
    TraceStores stores{cache, history, typed};
    std::string big;
};

TEST_F(UrlCacheTest, BufferGrowsToTheLargestEntryAndTheWalkGoesOn) {
    UrlCacheEnumerator walk;
    std::set<std::string> seen;
    for (auto* e = walk.First(nullptr); e != nullptr; e = walk.Next()) {
        seen.insert(e->lpszSourceUrlName);
        EXPECT_GE(walk.BufferSize(), UrlCacheEnumerator::kFirstSize);
        if (std::string(e->lpszSourceUrlName) == "http://127.0.0.1/big.htm") {
            EXPECT_GT(walk.BufferSize(), UrlCacheEnumerator::kFirstSize);
            EXPECT_EQ(e->dwHeaderInfoSize, big.size());
        }
    }
    EXPECT_EQ(seen, Names(nullptr));
    EXPECT_EQ(seen.size(), 8u);
    EXPECT_GT(walk.BufferSize(), big.size());
}

TEST_F(UrlCacheTest, EachStepDeletesWhatItsPatternAndTestSelect) {
    DeleteCookies(stores);
    EXPECT_TRUE(Names("Cookie:").empty());
    EXPECT_EQ(Names("Visited:").size(), 1u);

    DeleteHistoryEntries(stores);
    EXPECT_TRUE(Names("Visited:").empty());

    AddMarker("Cookie:user@127.0.0.1/", COOKIE_CACHE_ENTRY);
    DeleteTemporaryFiles(stores);
    // Content entries with either bit stay, and so does the cookie.
    EXPECT_EQ(Names(nullptr),
              (std::set<std::string>{"http://127.0.0.1/cookie-typed",
                                     "http://127.0.0.1/history-typed", "Cookie:user@127.0.0.1/"}));

    FullSweep(stores);
    EXPECT_TRUE(Names(nullptr).empty());
}

TEST_F(UrlCacheTest, AnEntryInUseStaysAndTheWalkGoesOn) {
    // A reader holds the first content entry, as the browser holds a file it
    // is showing.
    std::vector<std::byte> buffer(64 * 1024);
    DWORD size = static_cast<DWORD>(buffer.size());
    ASSERT_TRUE(RetrieveUrlCacheEntryFileA(
        "http://127.0.0.1/page.htm", reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()),
        &size, 0));

    DeleteTemporaryFiles(stores);

    std::set<std::string> left = Names(nullptr);
    EXPECT_TRUE(left.contains("http://127.0.0.1/page.htm"));
    EXPECT_FALSE(left.contains("http://127.0.0.1/big.htm"));
    EXPECT_FALSE(left.contains("http://127.0.0.1/after-big.htm"));
    UnlockUrlCacheEntryFileA("http://127.0.0.1/page.htm", 0);
}

TEST(UrlCacheEmptyTest, StepsOnAnEmptyCacheEndQuietly) {
    WinInetUrlCache cache;
    UrlHistoryStore history;
    Win32RegistryStore registry;
    RegistryTypedAddresses typed{registry};
    TraceStores stores{cache, history, typed};
    FullSweep(stores);
    UrlCacheEnumerator walk;
    EXPECT_EQ(walk.First(nullptr), nullptr);
    EXPECT_EQ(walk.Next(), nullptr);
    EXPECT_EQ(walk.BufferSize(), UrlCacheEnumerator::kFirstSize);
    DeleteCookies(stores);
    DeleteHistoryEntries(stores);
    DeleteTemporaryFiles(stores);
}

TEST(UrlHistoryStoreTest, LeavesTheThreadsComAsItFoundIt) {
    // A thread of the multithreaded apartment: the single-threaded
    // initialisation is refused, and must not be undone.
    std::thread([] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        UrlHistoryStore().Clear();
        UrlHistoryStore().Clear();
        // Still initialised: a second initialisation only counts up.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
    }).join();
    // A thread without COM: initialised and undone around the call.
    std::thread([] {
        UrlHistoryStore().Clear();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
}

TEST(TypedUrlsRegistryTest, BlanksTheRealTypedUrlValues) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\TypedURLs", 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    const char address[] = "http://127.0.0.1/typed";
    RegSetValueExA(key, "url2", 0, REG_SZ, reinterpret_cast<const BYTE*>(address), sizeof address);
    RegSetValueExA(key, "url26", 0, REG_SZ, reinterpret_cast<const BYTE*>(address), sizeof address);
    RegDeleteValueA(key, "url1");

    Win32RegistryStore registry;
    RegistryTypedAddresses(registry).Blank();

    char text[64] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "url2", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 1u);
    size = sizeof text;
    ASSERT_EQ(RegQueryValueExA(key, "url26", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, address);
    EXPECT_EQ(RegQueryValueExA(key, "url1", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    RegDeleteValueA(key, "url2");
    RegDeleteValueA(key, "url26");
    RegCloseKey(key);
}

}  // namespace
