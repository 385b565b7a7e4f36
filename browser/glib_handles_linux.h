// Owners for the GLib and GIO objects this folder uses.
#pragma once

#include <gio/gio.h>

#include <memory>

namespace glib {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct SchemaKeyUnref {
    void operator()(GSettingsSchemaKey* key) const { g_settings_schema_key_unref(key); }
};
struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct StrvFree {
    void operator()(gchar** strv) const { g_strfreev(strv); }
};
struct Free {
    void operator()(gpointer memory) const { g_free(memory); }
};

template <class T>
using Object = std::unique_ptr<T, ObjectUnref>;
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;
using SchemaKey = std::unique_ptr<GSettingsSchemaKey, SchemaKeyUnref>;
using Variant = std::unique_ptr<GVariant, VariantUnref>;  // owns a non-floating reference
using Error = std::unique_ptr<GError, ErrorFree>;
using Strv = std::unique_ptr<gchar*, StrvFree>;
using String = std::unique_ptr<gchar, Free>;

}  // namespace glib
