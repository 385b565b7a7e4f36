// The user's own proxy settings, given back: what the browser followed before
// the program pointed it at its proxy is saved in the settings store, so that
// switching off, or the first end after a crash, restores it.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry_store.h"

// One place a browser takes its proxy settings from (GNOME's settings, KDE's
// kioslaverc, WinINet's options), seen as a text that only the place reads.
class IProxySettingsPlace {
public:
    virtual ~IProxySettingsPlace() = default;
    // What its settings are saved as.
    virtual std::string_view Name() const = 0;
    // nullopt when the place is not in use or cannot be read.
    virtual std::optional<std::string> Read() = 0;
    // Writes settings that Read gave, exactly; false when refused.
    virtual bool Write(const std::string& settings) = 0;
    // Whether the settings send the browser to proxyServer ("host:port").
    virtual bool PointsAt(const std::string& settings, std::string_view proxyServer) const = 0;
    // The settings with direct access, everything else kept.
    virtual std::string WithDirectAccess(const std::string& settings) const = 0;
};

class ProxySettingsKeeper {
public:
    explicit ProxySettingsKeeper(IRegistryStore& store) : m_store(store) {}

    // Before the browser is pointed at proxyServer: saves the settings of each
    // place that has none saved (direct access where they already point at
    // proxyServer, a pointer left by a crash) and records proxyServer as the
    // program's own (the connection record). True when the record was stored.
    bool BeforePointing(const char* connectionName, const char* proxyServer,
                        std::span<IProxySettingsPlace* const> places);

    struct Outcome {
        bool recorded;  // the record says direct access
        bool written;   // every place written to took its settings
    };
    // Instead of switching to direct access: each place gets its saved
    // settings back, which are then forgotten; a place with none saved that
    // still points at the program's own proxy gets direct access, any other
    // is the user's and stays as it is.
    Outcome GiveBack(const char* connectionName, std::span<IProxySettingsPlace* const> places);

private:
    using Saved = std::map<std::string, std::string, std::less<>>;
    Saved Load(const std::string& key);
    void Keep(const std::string& key, const Saved& saved);

    IRegistryStore& m_store;
    // What the store refused, by connection key: this object still gives it
    // back at the end of the run.
    std::map<std::string, Saved> m_unstored;
};

// Texts joined so that any bytes survive: each as its length, ':', itself.
std::string JoinFields(const std::vector<std::string>& fields);
// nullopt unless the whole text is such fields.
std::optional<std::vector<std::string>> SplitFields(std::string_view text);
