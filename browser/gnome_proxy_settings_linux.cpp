#include "gnome_proxy_settings_linux.h"

#include <vector>

#include "glib_handles_linux.h"

namespace {

constexpr const char* kSchema = "org.gnome.system.proxy";

bool SetServer(GSettings* settings, const char* child, const DesktopProxy& proxy) {
    glib::Object<GSettings> server(g_settings_get_child(settings, child));
    return server && g_settings_set_string(server.get(), "host", proxy.host.c_str()) &&
           g_settings_set_int(server.get(), "port", proxy.port);
}

}  // namespace

bool ApplyGnomeProxy(const DesktopProxy& proxy) {
    // g_settings_new would abort the program when the schema is missing.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return false;
    }
    glib::Schema schema(g_settings_schema_source_lookup(source, kSchema, TRUE));
    if (!schema) {
        return false;
    }
    glib::Object<GSettings> settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    // Delayed, so readers see the proxy and its mode change together; the
    // children made afterwards share the delay.
    g_settings_delay(settings.get());
    bool ok = true;
    if (proxy.manual) {
        std::vector<const gchar*> hosts;
        for (const std::string& host : proxy.ignoreHosts) {
            hosts.push_back(host.c_str());
        }
        hosts.push_back(nullptr);
        ok = SetServer(settings.get(), "http", proxy) &&
             SetServer(settings.get(), "https", proxy) &&
             g_settings_set_strv(settings.get(), "ignore-hosts", hosts.data()) &&
             g_settings_set_string(settings.get(), "mode", "manual");
    } else {
        ok = g_settings_set_string(settings.get(), "mode", "none");
    }
    if (ok) {
        g_settings_apply(settings.get());
    } else {
        g_settings_revert(settings.get());
    }
    // Without this a short-lived process can end before dconf has the write.
    g_settings_sync();
    return ok;
}
