#include "browser_cache_linux.h"

#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool AllHex(std::string_view s) {
    for (char c : s) {
        if (!IsHex(c)) {
            return false;
        }
    }
    return true;
}

bool IsFirefoxEntryName(std::string_view name) {
    return name.size() == 40 && AllHex(name);
}

bool IsChromiumEntryName(std::string_view name) {
    return name.size() == 18 && name.substr(16) == "_0" && AllHex(name.substr(0, 16));
}

// Every name a cache folder of the browser's holds: its entry files and, for
// Chromium's simple cache, their stream files, the index and its folder.
bool IsCacheFolderName(BrowserKind kind, std::string_view name, bool directory) {
    if (kind == BrowserKind::Firefox) {
        return !directory && IsFirefoxEntryName(name);
    }
    if (name == "index-dir") {
        return directory;
    }
    if (directory) {
        return false;
    }
    return name == "index" || (name.size() == 18 && name[16] == '_' &&
                                (name[17] == '0' || name[17] == '1' || name[17] == 's') &&
                                AllHex(name.substr(0, 16)));
}

std::uint32_t BigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

std::uint32_t LittleEndian32(const unsigned char* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

constexpr std::uint32_t kMaxKeyLength = 64 * 1024;

constexpr std::uint64_t kChromiumMagic = 0xfcfb6d1ba7725c30ULL;

std::uint64_t LittleEndian64(const unsigned char* p) {
    return LittleEndian32(p) | (std::uint64_t{LittleEndian32(p + 4)} << 32);
}

// Chromium's index file starts with the magic number of its entry files.
bool IsChromiumCacheIndex(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char head[8];
    return in.read(reinterpret_cast<char*>(head), sizeof head) &&
           LittleEndian64(head) == kChromiumMagic;
}

// Empties a cache folder in one rename when everything in it is the cache's
// own (for Chromium, behind an index file of its format): the files are then
// removed where the browser no longer looks. Firefox
// rebuilds its index (cache2/index) from the empty folder, Chromium its real
// index (index-dir) likewise; Chromium's index file, which marks the folder as
// a cache of its format, is put back. False, with nothing changed, when the
// folder holds anything else or cannot be moved.
bool EmptyCacheFolder(BrowserKind kind, const fs::path& folder) {
    std::error_code ec;
    fs::path trash = folder.parent_path() / ("." + folder.filename().string() + ".emptying");
    // What an interrupted run left.
    if (fs::symlink_status(trash, ec).type() == fs::file_type::directory) {
        fs::remove_all(trash, ec);
    }
    if (fs::symlink_status(folder, ec).type() != fs::file_type::directory) {
        return false;
    }
    std::size_t files = 0;
    for (fs::directory_iterator it(folder, ec), end; it != end; it.increment(ec)) {
        if (ec) {
            return false;
        }
        fs::file_type type = it->symlink_status(ec).type();
        bool directory = type == fs::file_type::directory;
        std::string name = it->path().filename().string();
        if ((!directory && type != fs::file_type::regular) ||
            !IsCacheFolderName(kind, name, directory)) {
            return false;
        }
        files += name.starts_with("index") ? 0 : 1;
    }
    if (ec) {
        return false;
    }
    if (files == 0) {
        return true;
    }
    if (kind == BrowserKind::Chromium && !IsChromiumCacheIndex(folder / "index")) {
        return false;
    }
    fs::perms perms = fs::status(folder, ec).permissions();
    fs::rename(folder, trash, ec);
    if (ec) {
        return false;
    }
    fs::create_directory(folder, ec);
    fs::permissions(folder, perms, ec);
    if (kind == BrowserKind::Chromium) {
        fs::rename(trash / "index", folder / "index", ec);
    } else {
        for (const char* index : {"index", "index.log"}) {
            fs::remove(folder.parent_path() / index, ec);
        }
    }
    fs::remove_all(trash, ec);
    return true;
}


// An entry's bytes, read where the format points: a cache entry may be many
// megabytes, of which only the key is wanted.
class EntryBytes {
public:
    virtual ~EntryBytes() = default;
    // 0 when the size cannot be known.
    virtual std::uint64_t Size() = 0;
    // False unless all `size` bytes at `offset` were there.
    virtual bool ReadAt(std::uint64_t offset, void* out, std::size_t size) = 0;
};

class FileEntryBytes final : public EntryBytes {
public:
    explicit FileEntryBytes(const fs::path& file) : m_file(file), m_in(file, std::ios::binary) {}
    std::uint64_t Size() override {
        std::error_code ec;
        std::uintmax_t size = fs::file_size(m_file, ec);
        return ec ? 0 : size;
    }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t size) override {
        m_in.clear();
        m_in.seekg(static_cast<std::streamoff>(offset));
        m_in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
        return m_in.gcount() == static_cast<std::streamsize>(size);
    }

private:
    const fs::path& m_file;
    std::ifstream m_in;
};

class MemoryEntryBytes final : public EntryBytes {
public:
    explicit MemoryEntryBytes(std::string_view bytes) : m_bytes(bytes) {}
    std::uint64_t Size() override { return m_bytes.size(); }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t size) override {
        if (offset > m_bytes.size() || size > m_bytes.size() - offset) {
            return false;
        }
        m_bytes.copy(static_cast<char*>(out), size, static_cast<std::size_t>(offset));
        return true;
    }

private:
    std::string_view m_bytes;
};

// Firefox: the last 4 bytes give the metadata offset; there a hash (4 bytes)
// and one 2-byte hash per 256 KiB chunk of data precede the header of eight
// 32-bit fields, the 7th being the key length; the key follows, and the URL
// is what follows the ",:" that ends the key's tags.
std::string FirefoxEntryUrl(EntryBytes& entry) {
    const std::uint64_t size = entry.Size();
    unsigned char tail[4];
    if (size < 4 || !entry.ReadAt(size - 4, tail, 4)) {
        return {};
    }
    std::uint64_t metadata = BigEndian32(tail);
    std::uint64_t chunks = (metadata + 256 * 1024 - 1) / (256 * 1024);
    std::uint64_t header = metadata + 4 + 2 * chunks;
    unsigned char fields[32];
    if (header + sizeof fields > size || !entry.ReadAt(header, fields, sizeof fields)) {
        return {};
    }
    std::uint32_t keyLength = BigEndian32(fields + 24);
    if (keyLength == 0 || keyLength > kMaxKeyLength || header + 32 + keyLength > size) {
        return {};
    }
    std::string key(keyLength, '\0');
    if (!entry.ReadAt(header + 32, key.data(), keyLength)) {
        return {};
    }
    std::size_t tags = key.find(",:");
    if (tags != std::string::npos) {
        return key.substr(tags + 2);
    }
    std::size_t colon = key.find(':');
    return colon == std::string::npos ? std::string() : key.substr(colon + 1);
}

// Chromium's simple cache: magic (8 bytes, little-endian), version, key
// length, key hash, padding; then the key "1/0/_dk_<site> <site> <url>".
std::string ChromiumEntryUrl(EntryBytes& entry) {
    unsigned char head[24];
    if (!entry.ReadAt(0, head, sizeof head)) {
        return {};
    }
    std::uint32_t keyLength = LittleEndian32(head + 12);
    if (LittleEndian64(head) != kChromiumMagic || keyLength == 0 || keyLength > kMaxKeyLength) {
        return {};
    }
    std::string key(keyLength, '\0');
    if (!entry.ReadAt(sizeof head, key.data(), keyLength)) {
        return {};
    }
    std::size_t space = key.rfind(' ');
    return space == std::string::npos ? key : key.substr(space + 1);
}

}  // namespace

std::string FirefoxCacheEntryUrl(const fs::path& file) {
    FileEntryBytes entry(file);
    return FirefoxEntryUrl(entry);
}

std::string ChromiumCacheEntryUrl(const fs::path& file) {
    FileEntryBytes entry(file);
    return ChromiumEntryUrl(entry);
}

std::string FirefoxCacheEntryUrlOfBytes(std::string_view entry) {
    MemoryEntryBytes bytes(entry);
    return FirefoxEntryUrl(bytes);
}

std::string ChromiumCacheEntryUrlOfBytes(std::string_view entry) {
    MemoryEntryBytes bytes(entry);
    return ChromiumEntryUrl(bytes);
}

struct CacheFolderWalk::State {
    BrowserKind kind;
    fs::path folder;
    fs::directory_iterator it;
    bool open = false;
    bool started = false;
    fs::path currentFile;
    std::string name;
    UrlCacheEntry entry;
};

CacheFolderWalk::CacheFolderWalk(BrowserKind kind, fs::path folder)
    : m_state(std::make_unique<State>()) {
    m_state->kind = kind;
    m_state->folder = std::move(folder);
}

CacheFolderWalk::~CacheFolderWalk() = default;

const UrlCacheEntry* CacheFolderWalk::Next() {
    State& s = *m_state;
    s.currentFile.clear();
    std::error_code ec;
    if (!s.started) {
        s.started = true;
        s.it = fs::directory_iterator(s.folder, ec);
        s.open = !ec;
    }
    while (s.open && s.it != fs::directory_iterator()) {
        fs::path file = s.it->path();
        bool regular = s.it->is_regular_file(ec) && !s.it->is_symlink(ec);
        s.it.increment(ec);
        if (ec) {
            s.open = false;
        }
        std::string leaf = file.filename().string();
        if (!regular) {
            continue;
        }
        std::string url;
        if (s.kind == BrowserKind::Firefox) {
            if (!IsFirefoxEntryName(leaf)) {
                continue;
            }
            url = FirefoxCacheEntryUrl(file);
        } else {
            // The magic number is checked: only real entry files are deleted.
            if (!IsChromiumEntryName(leaf) || (url = ChromiumCacheEntryUrl(file)).empty()) {
                continue;
            }
        }
        s.currentFile = std::move(file);
        s.name = url.empty() ? s.currentFile.string() : std::move(url);
        s.entry.sourceUrlName = s.name;
        s.entry.type = 0;
        return &s.entry;
    }
    s.open = false;
    return nullptr;
}

bool CacheFolderWalk::DeleteCurrent() {
    State& s = *m_state;
    if (s.currentFile.empty()) {
        return false;
    }
    std::error_code ec;
    bool removed = fs::remove(s.currentFile, ec);
    if (s.kind == BrowserKind::Chromium && removed) {
        std::string stem = s.currentFile.string();
        stem.resize(stem.size() - 1);
        fs::remove(stem + "1", ec);
        fs::remove(stem + "s", ec);
    }
    s.currentFile.clear();
    return removed;
}

std::size_t CacheFolderWalk::DeleteAll(const std::stop_token& stop, std::uint32_t skipTypes) {
    // Entries of a cache folder are content: type 0.
    if (!m_state->started && !stop.stop_requested() &&
        EmptyCacheFolder(m_state->kind, m_state->folder)) {
        m_state->started = true;
        return 0;
    }
    return IUrlCacheWalk::DeleteAll(stop, skipTypes);
}
