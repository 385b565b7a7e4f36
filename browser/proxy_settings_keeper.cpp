#include "proxy_settings_keeper.h"

#include "connection_options.h"
#include "connection_record.h"

namespace {

// One value, so that a crash never leaves half of the settings saved.
constexpr std::string_view kSavedValue = "SavedProxySettings";

}  // namespace

std::string JoinFields(const std::vector<std::string>& fields) {
    std::string out;
    for (const std::string& field : fields) {
        out += std::to_string(field.size());
        out += ':';
        out += field;
    }
    return out;
}

std::optional<std::vector<std::string>> SplitFields(std::string_view text) {
    std::vector<std::string> fields;
    while (!text.empty()) {
        std::size_t size = 0;
        std::size_t digits = 0;
        for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
            size = size * 10 + static_cast<std::size_t>(text[digits] - '0');
            if (size > text.size()) {
                return std::nullopt;
            }
        }
        if (digits == 0 || digits >= text.size() || text[digits] != ':' ||
            size > text.size() - digits - 1) {
            return std::nullopt;
        }
        fields.emplace_back(text.substr(digits + 1, size));
        text.remove_prefix(digits + 1 + size);
    }
    return fields;
}

ProxySettingsKeeper::Saved ProxySettingsKeeper::Load(const std::string& key) {
    if (auto stored = m_store.OpenKey(RegistryRoot::CurrentUser, key)) {
        auto data = stored->QueryValue(kSavedValue);
        auto fields = data ? SplitFields(data->bytes) : std::nullopt;
        // Damaged settings count as none: the next start saves afresh.
        if (fields && !fields->empty() && fields->size() % 2 == 0) {
            Saved saved;
            for (std::size_t i = 0; i < fields->size(); i += 2) {
                saved[(*fields)[i]] = (*fields)[i + 1];
            }
            return saved;
        }
    }
    auto kept = m_unstored.find(key);
    return kept != m_unstored.end() ? kept->second : Saved{};
}

void ProxySettingsKeeper::Keep(const std::string& key, const Saved& saved) {
    std::vector<std::string> fields;
    for (const auto& [name, settings] : saved) {
        fields.push_back(name);
        fields.push_back(settings);
    }
    // The store has no removal; an empty value is "nothing saved".
    auto stored = m_store.CreateKey(RegistryRoot::CurrentUser, key);
    if ((stored && stored->SetValue(kSavedValue, kRegBinary, JoinFields(fields))) ||
        saved.empty()) {
        m_unstored.erase(key);
    } else {
        m_unstored[key] = saved;
    }
}

bool ProxySettingsKeeper::BeforePointing(const char* connectionName, const char* proxyServer,
                                         std::span<IProxySettingsPlace* const> places) {
    const std::string key = ConnectionRecordKey(connectionName);
    const ConnectionRecord pointing = PointingRecord(proxyServer);
    Saved saved = Load(key);
    bool added = false;
    for (IProxySettingsPlace* place : places) {
        if (saved.contains(place->Name())) {
            continue;  // switched on again, or after a crash: the first save stands
        }
        if (auto now = place->Read()) {
            saved.emplace(place->Name(), place->PointsAt(*now, pointing.proxyServer)
                                             ? place->WithDirectAccess(*now)
                                             : std::move(*now));
            added = true;
        }
    }
    if (added) {
        Keep(key, saved);
    }
    return WriteConnectionRecord(m_store, connectionName, pointing);
}

ProxySettingsKeeper::Outcome ProxySettingsKeeper::GiveBack(
    const char* connectionName, std::span<IProxySettingsPlace* const> places) {
    const std::string key = ConnectionRecordKey(connectionName);
    const Saved saved = Load(key);
    const auto record = ReadConnectionRecord(m_store, connectionName);
    const std::string own = record ? record->proxyServer : "";
    bool written = true;
    for (IProxySettingsPlace* place : places) {
        if (auto it = saved.find(place->Name()); it != saved.end()) {
            written = place->Write(it->second) && written;
        } else if (auto now = place->Read(); now && !own.empty() && place->PointsAt(*now, own)) {
            // A browser left pointing at a dead port by a crash.
            written = place->Write(place->WithDirectAccess(*now)) && written;
        }
    }
    if (!saved.empty()) {
        Keep(key, {});
    }
    return {WriteConnectionFlags(m_store, connectionName, kProxyTypeDirect), written};
}
