#include "reg_tool.h"

#include "ascii_text.h"
#include "dword_bytes.h"

#include <cstdint>
#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>
#include <string_view>

namespace {

constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kDone = "The operation completed successfully.";

struct KeyName {
    RegistryRoot root;
    std::string rootName;  // the long form, as query prints it
    std::string path;
};

std::optional<KeyName> ParseKey(std::string_view text) {
    struct Prefix {
        std::string_view shortName, longName;
        RegistryRoot root;
    };
    constexpr Prefix kPrefixes[] = {
        {"HKLM", "HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
        {"HKCU", "HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
    };
    std::string_view head = text.substr(0, text.find('\\'));
    for (const Prefix& p : kPrefixes) {
        if (!EqualNoCase(head, p.shortName) && !EqualNoCase(head, p.longName)) {
            continue;
        }
        std::string_view path = text.substr(head.size());
        while (!path.empty() && path.front() == '\\') {
            path.remove_prefix(1);
        }
        while (!path.empty() && path.back() == '\\') {
            path.remove_suffix(1);
        }
        // Empty key names between separators would name no key at all.
        if (path.find("\\\\") != std::string_view::npos) {
            return std::nullopt;
        }
        return KeyName{p.root, std::string(p.longName), std::string(path)};
    }
    return std::nullopt;
}

std::string FullName(const KeyName& key) {
    return key.path.empty() ? key.rootName : key.rootName + "\\" + key.path;
}

struct TypeName {
    std::string_view name;
    std::uint32_t type;
};
constexpr TypeName kTypes[] = {
    {"REG_SZ", kRegSz},
    {"REG_EXPAND_SZ", kRegExpandSz},
    {"REG_BINARY", kRegBinary},
    {"REG_DWORD", kRegDword},
};

std::optional<std::uint32_t> ParseType(std::string_view name) {
    for (const TypeName& t : kTypes) {
        if (EqualNoCase(name, t.name)) {
            return t.type;
        }
    }
    return std::nullopt;
}

std::string NameOfType(std::uint32_t type) {
    for (const TypeName& t : kTypes) {
        if (t.type == type) {
            return std::string(t.name);
        }
    }
    return "REG_UNKNOWN(" + std::to_string(type) + ")";
}

std::string Hex(std::string_view bytes) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string Display(const RegistryData& data) {
    if ((data.type == kRegSz || data.type == kRegExpandSz)) {
        return data.bytes.substr(0, data.bytes.find('\0'));
    }
    if (data.type == kRegDword && data.bytes.size() == 4) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%x", DwordFromBytes(data.bytes));
        return text;
    }
    return Hex(data.bytes);
}

// Decimal, or hexadecimal after 0x; nothing else, and nothing beyond 32 bits.
std::optional<std::uint32_t> ParseDword(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && AsciiLower(text[1]) == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t n = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') {
            digit = AsciiLower(c) - 'a' + 10;
        } else {
            return std::nullopt;
        }
        n = n * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (n > 0xffffffffu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(n);
}

std::optional<std::string> ParseBinary(std::string_view text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        auto nibble = [](char c) -> int {
            c = AsciiLower(c);
            if (c >= '0' && c <= '9') {
                return c - '0';
            }
            if (c >= 'a' && c <= 'f') {
                return c - 'a' + 10;
            }
            return -1;
        };
        const int hi = nibble(text[i]);
        const int lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        bytes += static_cast<char>(hi * 16 + lo);
    }
    return bytes;
}

struct Options {
    std::optional<std::string> name;
    std::optional<std::string> type;
    std::optional<std::string> data;
    bool force = false;
};

// Options may come in any order, with / or -, in any case.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::size_t first) {
    Options options;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() != 2 || (a[0] != '/' && a[0] != '-')) {
            return std::nullopt;
        }
        const char flag = AsciiLower(a[1]);
        if (flag == 'f') {
            if (options.force) {
                return std::nullopt;
            }
            options.force = true;
            continue;
        }
        std::optional<std::string>* slot = flag == 'v'   ? &options.name
                                           : flag == 't' ? &options.type
                                           : flag == 'd' ? &options.data
                                                         : nullptr;
        if (slot == nullptr || slot->has_value() || i + 1 >= args.size()) {
            return std::nullopt;
        }
        *slot = args[++i];
    }
    return options;
}

bool Confirmed(std::istream& in, std::ostream& out, const std::string& question) {
    out << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) {
        out << "\n";
        return false;
    }
    return EqualNoCase(answer, "y") || EqualNoCase(answer, "yes");
}

int Usage(std::ostream& err) {
    err << "ERROR: Invalid syntax.\n"
           "Usage:\n"
           "  quillon-reg query KEY [/v NAME]\n"
           "  quillon-reg add KEY /v NAME [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD|REG_BINARY]"
           " [/d DATA] [/f]\n"
           "  quillon-reg delete KEY /v NAME [/f]\n"
           "KEY: HKLM\\path or HKCU\\path (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER)\n";
    return 1;
}

int Query(const KeyName& key, const Options& options, SqliteRegistryStore& store, std::ostream& out,
          std::ostream& err) {
    auto values = store.Values(key.root, key.path);
    if (!values) {
        err << kNotFound << "\n";
        return 1;
    }
    std::string lines;
    for (const auto& value : *values) {
        if (options.name && !EqualNoCase(value.name, *options.name)) {
            continue;
        }
        lines += "    " + value.name + "    " + NameOfType(value.data.type) + "    " +
                 Display(value.data) + "\n";
    }
    if (options.name && lines.empty()) {
        err << kNotFound << "\n";
        return 1;
    }
    out << "\n" << FullName(key) << "\n" << lines;
    if (!options.name) {
        for (const std::string& subkey : store.Subkeys(key.root, key.path)) {
            out << "\n" << FullName(key) << "\\" << subkey;
        }
    }
    out << "\n";
    return 0;
}

bool ValueExists(SqliteRegistryStore& store, const KeyName& key, const std::string& name) {
    auto opened = store.OpenKey(key.root, key.path);
    return opened && opened->QueryValue(name).has_value();
}

int Add(const KeyName& key, const Options& options, SqliteRegistryStore& store, std::istream& in,
        std::ostream& out, std::ostream& err) {
    const std::optional<std::uint32_t> type = ParseType(options.type.value_or("REG_SZ"));
    if (!type) {
        err << "ERROR: Invalid type \"" << *options.type
            << "\"; use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY.\n";
        return 1;
    }
    const std::string data = options.data.value_or("");
    std::string bytes;
    if (*type == kRegDword) {
        const std::optional<std::uint32_t> n = ParseDword(data);
        if (!n) {
            err << "ERROR: Invalid DWORD \"" << data
                << "\"; give a decimal number or 0x and hex digits, at most 0xffffffff.\n";
            return 1;
        }
        bytes = DwordBytes(*n);
    } else if (*type == kRegBinary) {
        const std::optional<std::string> parsed = ParseBinary(data);
        if (!parsed) {
            err << "ERROR: Invalid binary data \"" << data
                << "\"; give an even number of hex digits.\n";
            return 1;
        }
        bytes = *parsed;
    } else {
        if (data.find('\0') != std::string::npos) {
            return Usage(err);
        }
        bytes = data + '\0';
    }
    if (!options.force && ValueExists(store, key, *options.name) &&
        !Confirmed(in, out, "Value " + *options.name + " exists, overwrite")) {
        out << "The operation was cancelled by the user.\n";
        return 1;
    }
    auto opened = store.CreateKey(key.root, key.path);
    if (!opened || !opened->SetValue(*options.name, *type, bytes)) {
        err << "ERROR: The settings store " << store.Database().string()
            << " could not be written.\n";
        return 1;
    }
    out << kDone << "\n";
    return 0;
}

int Delete(const KeyName& key, const Options& options, SqliteRegistryStore& store, std::istream& in,
           std::ostream& out, std::ostream& err) {
    if (!ValueExists(store, key, *options.name)) {
        err << kNotFound << "\n";
        return 1;
    }
    if (!options.force && !Confirmed(in, out, "Delete the registry value " + *options.name)) {
        out << "The operation was cancelled by the user.\n";
        return 1;
    }
    switch (store.DeleteValue(key.root, key.path, *options.name)) {
        case SqliteRegistryStore::DeleteResult::Deleted:
            out << kDone << "\n";
            return 0;
        case SqliteRegistryStore::DeleteResult::Absent:
            err << kNotFound << "\n";
            return 1;
        case SqliteRegistryStore::DeleteResult::Failed:
            break;
    }
    err << "ERROR: The settings store " << store.Database().string() << " could not be written.\n";
    return 1;
}

}  // namespace

int RunRegTool(const std::vector<std::string>& args, SqliteRegistryStore& store, std::istream& in,
               std::ostream& out, std::ostream& err) {
    if (args.size() < 2) {
        return Usage(err);
    }
    const std::string& command = args[0];
    const std::optional<KeyName> key = ParseKey(args[1]);
    const std::optional<Options> options = ParseOptions(args, 2);
    if (!key || !options) {
        return Usage(err);
    }
    if (EqualNoCase(command, "query")) {
        if (options->type || options->data || options->force) {
            return Usage(err);
        }
        return Query(*key, *options, store, out, err);
    }
    if (!options->name) {
        return Usage(err);
    }
    if (store.Database().empty()) {
        err << "ERROR: No settings store: neither XDG_CONFIG_HOME nor HOME is set.\n";
        return 1;
    }
    if (EqualNoCase(command, "add")) {
        return Add(*key, *options, store, in, out, err);
    }
    if (EqualNoCase(command, "delete") && !options->type && !options->data) {
        return Delete(*key, *options, store, in, out, err);
    }
    return Usage(err);
}
