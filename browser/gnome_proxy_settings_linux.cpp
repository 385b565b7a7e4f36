#include "gnome_proxy_settings_linux.h"

#include <map>
#include <vector>

#include "glib_handles_linux.h"

namespace {

constexpr const char* kSchema = "org.gnome.system.proxy";

// The keys a user's settings consist of: the schema's own, and "child/key"
// for its servers'.
constexpr const char* kUserKeys[] = {
    "mode",       "autoconfig-url", "ignore-hosts", "use-same-proxy", "http/host",  "http/port",
    "https/host", "https/port",     "ftp/host",     "ftp/port",       "socks/host", "socks/port"};

glib::Object<GSettings> OpenProxySettings() {
    // g_settings_new would abort the program when the schema is missing.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return nullptr;
    }
    glib::Schema schema(g_settings_schema_source_lookup(source, kSchema, TRUE));
    if (!schema) {
        return nullptr;
    }
    return glib::Object<GSettings>(g_settings_new_full(schema.get(), nullptr, nullptr));
}

glib::Schema SchemaOf(GSettings* settings) {
    GSettingsSchema* schema = nullptr;
    g_object_get(settings, "settings-schema", &schema, nullptr);
    return glib::Schema(schema);
}

// The keys of the proxy settings by path, in children made once each from
// the root (so that they share its delay). GSettings ends the program on a
// child or key its schema lacks; these are looked up first.
class UserKeys {
public:
    explicit UserKeys(GSettings* root) : m_root(root) {}

    struct Key {
        GSettings* settings = nullptr;  // nullptr: no such key
        std::string name;
        glib::SchemaKey key;
    };
    Key Find(std::string_view path) {
        bool known = false;
        for (const char* userKey : kUserKeys) {
            known = known || path == userKey;
        }
        if (!known) {
            return {};
        }
        GSettings* settings = m_root;
        std::size_t slash = path.find('/');
        if (slash != std::string_view::npos) {
            settings = Child(std::string(path.substr(0, slash)));
            path.remove_prefix(slash + 1);
        }
        glib::Schema schema = settings != nullptr ? SchemaOf(settings) : nullptr;
        std::string name(path);
        if (!schema || !g_settings_schema_has_key(schema.get(), name.c_str())) {
            return {};
        }
        return {settings, name,
                glib::SchemaKey(g_settings_schema_get_key(schema.get(), name.c_str()))};
    }

private:
    GSettings* Child(const std::string& name) {
        auto it = m_children.find(name);
        if (it == m_children.end()) {
            glib::Schema schema = SchemaOf(m_root);
            glib::Strv children(schema ? g_settings_schema_list_children(schema.get()) : nullptr);
            bool known = false;
            for (gchar** child = children.get(); child != nullptr && *child != nullptr; ++child) {
                known = known || name == *child;
            }
            it = m_children
                     .emplace(name, known ? g_settings_get_child(m_root, name.c_str()) : nullptr)
                     .first;
        }
        return it->second.get();
    }

    GSettings* m_root;
    std::map<std::string, glib::Object<GSettings>> m_children;
};

// Calls visit(path, value) for each entry of a dictionary of values.
template <class Visit>
void ForEachValue(GVariant* values, Visit visit) {
    GVariantIter iter;
    g_variant_iter_init(&iter, values);
    const gchar* path = nullptr;
    GVariant* raw = nullptr;
    while (g_variant_iter_next(&iter, "{&sv}", &path, &raw)) {
        glib::Variant value(raw);
        visit(path, value.get());
    }
}

// Writes a dictionary of values by path as one change.
bool WriteValues(GVariant* values) {
    glib::Object<GSettings> root = OpenProxySettings();
    if (!root) {
        return false;
    }
    // Delayed, so readers see the proxy and its mode change together.
    g_settings_delay(root.get());
    UserKeys keys(root.get());
    bool ok = true;
    ForEachValue(values, [&](const gchar* path, GVariant* value) {
        UserKeys::Key key = keys.Find(path);
        if (key.settings != nullptr &&
            g_variant_is_of_type(value, g_settings_schema_key_get_value_type(key.key.get())) &&
            g_settings_schema_key_range_check(key.key.get(), value)) {
            ok = g_settings_set_value(key.settings, key.name.c_str(), value) && ok;
        }
    });
    if (ok) {
        g_settings_apply(root.get());
    } else {
        g_settings_revert(root.get());
    }
    // Without this a short-lived process can end before dconf has the write.
    g_settings_sync();
    return ok;
}

std::string Print(GVariant* floating) {
    glib::Variant value(g_variant_ref_sink(floating));
    glib::String text(g_variant_print(value.get(), TRUE));
    return text.get();
}

// nullptr unless the text is a dictionary of values.
glib::Variant Parse(const std::string& text) {
    GError* raw = nullptr;
    glib::Variant values(g_variant_parse(G_VARIANT_TYPE_VARDICT, text.data(),
                                         text.data() + text.size(), nullptr, &raw));
    glib::Error error(raw);
    return values;
}

std::optional<std::string> StringAt(GVariant* values, const char* path) {
    glib::Variant value(g_variant_lookup_value(values, path, G_VARIANT_TYPE_STRING));
    return value ? std::optional<std::string>(g_variant_get_string(value.get(), nullptr))
                 : std::nullopt;
}

std::optional<int> IntAt(GVariant* values, const char* path) {
    glib::Variant value(g_variant_lookup_value(values, path, G_VARIANT_TYPE_INT32));
    return value ? std::optional<int>(g_variant_get_int32(value.get())) : std::nullopt;
}

}  // namespace

bool ApplyGnomeProxy(const DesktopProxy& proxy) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    if (proxy.manual) {
        for (const char* server : {"http", "https"}) {
            const std::string prefix = std::string(server) + "/";
            g_variant_builder_add(&builder, "{sv}", (prefix + "host").c_str(),
                                  g_variant_new_string(proxy.host.c_str()));
            g_variant_builder_add(&builder, "{sv}", (prefix + "port").c_str(),
                                  g_variant_new_int32(proxy.port));
        }
        std::vector<const gchar*> hosts;
        for (const std::string& host : proxy.ignoreHosts) {
            hosts.push_back(host.c_str());
        }
        hosts.push_back(nullptr);
        g_variant_builder_add(&builder, "{sv}", "ignore-hosts",
                              g_variant_new_strv(hosts.data(), -1));
    }
    g_variant_builder_add(&builder, "{sv}", "mode",
                          g_variant_new_string(proxy.manual ? "manual" : "none"));
    glib::Variant values(g_variant_ref_sink(g_variant_builder_end(&builder)));
    return WriteValues(values.get());
}

std::optional<std::string> GnomeProxySettings::Read() {
    glib::Object<GSettings> root = OpenProxySettings();
    if (!root) {
        return std::nullopt;
    }
    UserKeys keys(root.get());
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    for (const char* path : kUserKeys) {
        UserKeys::Key key = keys.Find(path);
        if (key.settings != nullptr) {
            glib::Variant value(g_settings_get_value(key.settings, key.name.c_str()));
            g_variant_builder_add(&builder, "{sv}", path, value.get());
        }
    }
    return Print(g_variant_builder_end(&builder));
}

bool GnomeProxySettings::Write(const std::string& settings) {
    glib::Variant values = Parse(settings);
    return values && WriteValues(values.get());
}

bool GnomeProxySettings::PointsAt(const std::string& settings, std::string_view proxyServer) const {
    glib::Variant values = Parse(settings);
    if (!values) {
        return false;
    }
    const DesktopProxy own = PointingProxy(proxyServer);
    return StringAt(values.get(), "mode") == "manual" &&
           StringAt(values.get(), "http/host") == own.host &&
           IntAt(values.get(), "http/port") == own.port;
}

std::string GnomeProxySettings::WithDirectAccess(const std::string& settings) const {
    glib::Variant values = Parse(settings);
    if (!values) {
        return settings;
    }
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    ForEachValue(values.get(), [&builder](const gchar* path, GVariant* value) {
        if (std::string_view(path) != "mode") {
            g_variant_builder_add(&builder, "{sv}", path, value);
        }
    });
    g_variant_builder_add(&builder, "{sv}", "mode", g_variant_new_string("none"));
    return Print(g_variant_builder_end(&builder));
}
