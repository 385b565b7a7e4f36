#include "cache_entry_files_linux.h"

#include <cstdint>
#include <fstream>

namespace privacytest {

namespace {

void WriteBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

void WriteFirefoxCacheEntry(const fs::path& folder, const std::string& hexName,
                            const std::string& url) {
    std::string data = "<html>cached</html>";
    std::string key = "a,:" + url;
    std::string file = data;
    auto be32 = [&file](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            file.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
    };
    be32(0);                       // metadata hash
    file.append(2, '\0');          // one chunk hash
    be32(3);                       // version
    for (int i = 0; i < 5; ++i) {  // fetch count ... expiration
        be32(0);
    }
    be32(static_cast<std::uint32_t>(key.size()));
    be32(0);  // flags
    file += key;
    file.push_back('\0');
    be32(static_cast<std::uint32_t>(data.size()));
    WriteBytes(folder / hexName, file);
}

void WriteChromiumCacheIndex(const fs::path& folder) {
    // Magic number, version, two reserved words.
    std::string index{"\x30\x5c\x72\xa7\x1b\x6d\xfb\xfc\x09\0\0\0", 12};
    WriteBytes(folder / "index", index + std::string(8, '\0'));
    WriteBytes(folder / "index-dir" / "the-real-index", "entries");
}

void WriteChromiumCacheEntry(const fs::path& folder, const std::string& hexName,
                             const std::string& url) {
    // The key names the top frame and the frame site before the URL.
    std::string key = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 " + url;
    std::string file;
    auto le32 = [&file](std::uint32_t v) {
        for (int shift = 0; shift <= 24; shift += 8) {
            file.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
    };
    le32(0xa7725c30);
    le32(0xfcfb6d1b);
    le32(5);
    le32(static_cast<std::uint32_t>(key.size()));
    le32(0);
    le32(0);
    file += key + "body";
    WriteBytes(folder / (hexName + "_0"), file);
    WriteBytes(folder / (hexName + "_1"), "stream1");
    WriteBytes(folder / (hexName + "_s"), "sparse");
}

}  // namespace privacytest
